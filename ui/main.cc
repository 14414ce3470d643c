// KXCheck: loads the main window, centres it and runs until it is closed.
//
//   KXCheck [PATH]         takes PATH as if it had been dropped on the
//                          file-name box, once the window is shown
//   KXCheck --check PATH   the same, then presses Check (for
//                          demonstrations and screenshots)
//   KXCheck --help | --version
//                          print and exit, without needing a display
//
// Without a display any other command line prints one line, "KXCheck:
// cannot open a display: <why>", and exits with 1.
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

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

[[noreturn]] void CannotOpenDisplay(const std::string& why) {
  std::fprintf(stderr, "KXCheck: cannot open a display: %s\n", why.c_str());
  std::fflush(stderr);
  std::_Exit(1);
}

bool Unset(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr || *value == '\0';
}

// While the application connects to the display, Qt's messages are held
// back: when it cannot, Qt ends the program with a fatal message (and an
// abort) after warnings that say why; instead the reason is told in one
// line. When it can, the messages held back are let through.
class DisplayMessages {
 public:
  DisplayMessages() { previous_ = qInstallMessageHandler(&Hold); }
  ~DisplayMessages() {
    qInstallMessageHandler(previous_);
    for (const auto& [type, text] : held_) {
      if (previous_ != nullptr) {
        previous_(type, QMessageLogContext(), text);
      } else {
        std::fprintf(stderr, "%s\n", qPrintable(text));
      }
    }
  }
  DisplayMessages(const DisplayMessages&) = delete;
  DisplayMessages& operator=(const DisplayMessages&) = delete;

 private:
  static void Hold(QtMsgType type, const QMessageLogContext&,
                   const QString& text) {
    if (type != QtFatalMsg) {
      held_.emplace_back(type, text);
      return;
    }
    // A warning names the display that failed ("could not connect to
    // display :9"); the fatal message itself only says that no platform
    // plugin could start, and the last warning that one could not load.
    QString why = held_.empty() ? text : held_.back().second;
    for (const auto& held : held_) {
      if (held.second.contains("display", Qt::CaseInsensitive)) {
        why = held.second;
        break;
      }
    }
    CannotOpenDisplay(why.section('\n', 0, 0).trimmed().toStdString());
  }

  static inline std::vector<std::pair<QtMsgType, QString>> held_;
  QtMessageHandler previous_ = nullptr;
};

}  // namespace

int main(int argc, char** argv) {
  if (AsksHelpOrVersion(argc, argv)) {
    QCoreApplication app(argc, argv);
    Describe(app);
    CommandLine command_line;
    command_line.parser.process(app);  // prints, and exits with 0
    return 0;
  }

  // Qt picks the platform from QT_QPA_PLATFORM; otherwise it needs X11 or
  // Wayland, and says little when neither is named.
  if (Unset("QT_QPA_PLATFORM") && Unset("DISPLAY") &&
      Unset("WAYLAND_DISPLAY")) {
    CannotOpenDisplay("neither DISPLAY nor WAYLAND_DISPLAY is set");
  }
  std::optional<DisplayMessages> held_back(std::in_place);
  QApplication app(argc, argv);
  held_back.reset();
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
