// KXCheck: loads the main window, centres it and runs until it is closed.
//
// One start-up option, for demonstrations and screenshots:
//   KXCheck --check PATH   drops PATH on the file-name box and presses Check
//                          once the window is shown.
#include <QApplication>
#include <QCommandLineParser>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

#include "ui/frm_kxcheck.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("KXCheck");

  QCommandLineParser parser;
  parser.addHelpOption();
  QCommandLineOption check_option(
      "check", "Drop PATH on the file-name box and press Check.", "PATH");
  parser.addOption(check_option);
  parser.process(app);

  frmKXCheck window;
  window.Form_Load();
  window.show();

  if (parser.isSet(check_option)) {
    QString path = parser.value(check_option);
    QTimer::singleShot(0, &window, [&window, path] {
      QMimeData data;
      data.setUrls({QUrl::fromLocalFile(path)});
      window.txtFilename_OLEDragDrop(data);
      window.cmdCheck_Click();
    });
  }
  return QApplication::exec();
}
