// Shared by the window tests: tables made with the engine, drop data, and a
// window whose message boxes and open-file dialog are test doubles.
#ifndef KXCHECK_TESTS_UI_SUPPORT_UI_SUPPORT_H_
#define KXCHECK_TESTS_UI_SUPPORT_UI_SUPPORT_H_

#include <QAbstractButton>
#include <QApplication>
#include <QList>
#include <QMimeData>
#include <QString>
#include <QUrl>
#include <QtTest>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ui/frm_kxcheck.h"

namespace kxtest {

// A stamp "YYYY-MM-DD HH:MM:SS" for record n (1-based): one a second from
// 2020-03-01 00:00:00, ascending.
std::string StampFor(int n);

// Writes a table of `count` records through the engine. `stamp` gives each
// record's stamp (19 characters); the payload is the record number.
// Records for which `deleted` holds carry the deletion mark.
void WriteTable(const std::string& kxt_path, int count,
                const std::function<std::string(int)>& stamp = StampFor,
                const std::function<bool(int)>& deleted = nullptr);

// The bytes of a file ("" when it cannot be read).
std::string ReadFile(const std::string& path);

// The extensions of a table's four files.
inline constexpr const char* kTableExtensions[] = {".kxt", ".kxd", ".kxi",
                                                   ".kxa"};
// The bytes of the four files of the table at `base` (its path without
// ".kxt"), in the order of kTableExtensions.
std::vector<std::string> TableFiles(const std::string& base);

// Drop data carrying these URLs.
std::unique_ptr<QMimeData> UrlData(const QList<QUrl>& urls);
std::unique_ptr<QMimeData> FileData(const QStringList& paths);

// What the window's test doubles saw.
struct Calls {
  struct Dialog {
    QWidget* owner;
    std::string initial_dir, title, filter;
    bool must_exist;
  };
  std::vector<std::pair<QString, QString>> warnings;  // title, text
  std::vector<std::pair<QString, QString>> questions;
  std::vector<Dialog> dialogs;
  bool answer_yes = true;
  std::string dialog_result;
};

// Replaces the message boxes and the dialog of `window` by doubles that
// record into `calls`.
void UseDoubles(frmKXCheck& window, Calls& calls);

// Takes `path` as if it were dropped on the file-name box.
void Choose(frmKXCheck& window, const std::string& path);

// Gives the window a chosen path ("/data/before.kxt"), a results line
// ("Filename: /data/before.kxt") and an enabled Repair.
void Prime(frmKXCheck& window);

// Checks the window after a choice: with `taken` the path is in the
// file-name box, the results are emptied and Repair is disabled; with
// `taken` empty the window is as Prime left it. `warning` is the one
// warning shown, "" for none.
void ExpectChoice(frmKXCheck& window, const Calls& calls, const QString& taken,
                  const QString& warning = "");

// Clicks `button` from inside the application's event loop and runs that
// loop until the last window closes: exec's status, 99 when 30 seconds
// pass first.
int ClickAndRunUntilClosed(QAbstractButton* button);

// The results box's text with line breaks as CR LF, for comparing with the
// results log.
std::string BoxText(const frmKXCheck& window);

}  // namespace kxtest

// A Qt Test main on the offscreen platform unless another is asked for.
#define KX_UI_TEST_MAIN(TestClass)                     \
  int main(int argc, char** argv) {                    \
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) \
      qputenv("QT_QPA_PLATFORM", "offscreen");         \
    QApplication app(argc, argv);                      \
    TestClass test;                                    \
    return QTest::qExec(&test, argc, argv);            \
  }

#endif  // KXCHECK_TESTS_UI_SUPPORT_UI_SUPPORT_H_
