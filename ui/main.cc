// KXCheck: loads the main window, centres it and runs until it is closed.
//
//   KXCheck [PATH]         takes PATH as if it had been dropped on the
//                          file-name box, once the window is shown
//   KXCheck --check PATH   the same, then presses Check (for
//                          demonstrations and screenshots)
//   KXCheck --help | --version
//                          print and exit, without needing a display
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>
#include <QTimer>
#include <cstring>

#include "ui/frm_kxcheck.h"
#include "ui/stop_signals.h"

namespace {

// The program's options and arguments, parsed the same way with or without
// a display.
struct CommandLine {
  QCommandLineParser parser;
  QCommandLineOption check{
      "check",
      "Open PATH as if dropped on the file-name box, then press Check.",
      "PATH"};

  CommandLine() {
    parser.setApplicationDescription(
        "KX Check Utility: checks the records of a Kalvex table (.kxt) for "
        "damaged date and time stamps and writes a repaired copy beside it.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(check);
    parser.addPositionalArgument(
        "PATH", "A table to open, as if dropped on the file-name box.",
        "[PATH]");
  }
};

// Whether the command line asks only for help or the version, which need
// no display.
bool AsksHelpOrVersion(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    for (const char* flag :
         {"-h", "--help", "-?", "--help-all", "-v", "--version"}) {
      if (std::strcmp(argv[i], flag) == 0) return true;
    }
  }
  return false;
}

void Describe(QCoreApplication& app) {
  app.setApplicationName("KXCheck");
  app.setApplicationVersion(KX_VERSION);
}

}  // namespace

int main(int argc, char** argv) {
  if (AsksHelpOrVersion(argc, argv)) {
    QCoreApplication app(argc, argv);
    Describe(app);
    CommandLine command_line;
    command_line.parser.process(app);  // prints, and exits with 0
    return 0;
  }

  QApplication app(argc, argv);
  Describe(app);
  QGuiApplication::setDesktopFileName(KX_APP_ID);
  CommandLine command_line;
  command_line.parser.process(app);
  const QStringList paths = command_line.parser.positionalArguments();
  if (paths.size() > 1) {
    command_line.parser.showHelp(2);
  }

  frmKXCheck window;
  window.Form_Load();
  window.show();
  kxui::CloseOnStopSignals(&window);

  if (command_line.parser.isSet(command_line.check)) {
    QString path = command_line.parser.value(command_line.check);
    QTimer::singleShot(0, &window, [&window, path] {
      window.OpenFromCommandLine(path);
      window.cmdCheck_Click();
    });
  } else if (!paths.isEmpty()) {
    QString path = paths.front();
    QTimer::singleShot(0, &window,
                       [&window, path] { window.OpenFromCommandLine(path); });
  }
  return QApplication::exec();
}
