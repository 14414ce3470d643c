#include "tests/ui/support/ui_support.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "engine/record_table.h"

namespace kxtest {

std::string StampFor(int n) {
  int s = n - 1;
  int day = 1 + s / 86400;
  int rest = s % 86400;
  char text[32];
  std::snprintf(text, sizeof text, "2020-03-%02d %02d:%02d:%02d", day % 100,
                rest / 3600, rest / 60 % 60, rest % 60);
  return text;
}

void WriteTable(const std::string& kxt_path, int count,
                const std::function<std::string(int)>& stamp,
                const std::function<bool(int)>& deleted) {
  kalvex::TableLayout layout;
  layout.payload.push_back({"n", 8});
  kalvex::RecordTable::CreateDefinition(kxt_path, layout, true);
  kalvex::RecordTable table;
  table.SetAccessMode(kalvex::kAppend);
  table.Open(kxt_path);
  std::string blank(layout.RecordLength(), '\0');
  for (int n = 1; n <= count; ++n) {
    std::string s = stamp(n);
    table.SetRecordBuffer(blank);
    table.FieldPut(1, s.substr(0, 10));
    table.FieldPut(2, s.size() > 11 ? s.substr(11) : "");
    table.FieldPut(3, std::to_string(n));
    if (deleted && deleted(n)) {
      table.AppendDeletedRecord();
    } else {
      table.AppendRecord(0);
    }
  }
  table.Close();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<std::string> TableFiles(const std::string& base) {
  std::vector<std::string> files;
  for (const char* extension : kTableExtensions) {
    files.push_back(ReadFile(base + extension));
  }
  return files;
}

std::unique_ptr<QMimeData> UrlData(const QList<QUrl>& urls) {
  auto data = std::make_unique<QMimeData>();
  data->setUrls(urls);
  return data;
}

std::unique_ptr<QMimeData> FileData(const QStringList& paths) {
  QList<QUrl> urls;
  for (const QString& p : paths) urls << QUrl::fromLocalFile(p);
  return UrlData(urls);
}

void UseDoubles(frmKXCheck& window, Calls& calls) {
  window.Host().SetWarnFunction(
      [&calls](const QString& title, const QString& text) {
        calls.warnings.emplace_back(title, text);
      });
  window.Host().SetAskFunction(
      [&calls](const QString& title, const QString& text) {
        calls.questions.emplace_back(title, text);
        return calls.answer_yes;
      });
  window.SetOpenDialog([&calls](QWidget* owner, const std::string& dir,
                                const std::string& title,
                                const std::string& filter, bool must_exist) {
    calls.dialogs.push_back({owner, dir, title, filter, must_exist});
    return calls.dialog_result;
  });
}

void Choose(frmKXCheck& window, const std::string& path) {
  window.txtFilename_OLEDragDrop(*FileData({QString::fromStdString(path)}));
}

void Prime(frmKXCheck& window) {
  Choose(window, "/data/before.kxt");
  window.Host().AddResult("Filename: /data/before.kxt");
  window.cmdRepair->setEnabled(true);
}

void ExpectChoice(frmKXCheck& window, const Calls& calls, const QString& taken,
                  const QString& warning) {
  if (taken.isEmpty()) {
    QCOMPARE(window.txtFilename->text(), QString("/data/before.kxt"));
    QCOMPARE(window.txtResults->toPlainText(),
             QString("Filename: /data/before.kxt\n"));
    QVERIFY(window.cmdRepair->isEnabled());
  } else {
    QCOMPARE(window.txtFilename->text(), taken);
    QVERIFY(window.txtResults->toPlainText().isEmpty());
    QCOMPARE(window.Host().ResultsLength(), 0);
    QVERIFY(!window.cmdRepair->isEnabled());
  }
  QCOMPARE(calls.warnings.size(), size_t(warning.isEmpty() ? 0 : 1));
  if (!warning.isEmpty()) {
    QCOMPARE(calls.warnings[0].first, kxui::WindowHost::Title());
    QCOMPARE(calls.warnings[0].second, warning);
  }
}

int ClickAndRunUntilClosed(QAbstractButton* button) {
  QTimer::singleShot(0, button,
                     [button] { QTest::mouseClick(button, Qt::LeftButton); });
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout,
                   [] { QCoreApplication::exit(99); });
  guard.start(30000);
  return QCoreApplication::exec();
}

std::string BoxText(const frmKXCheck& window) {
  std::string text = window.txtResults->toPlainText().toStdString();
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace kxtest
