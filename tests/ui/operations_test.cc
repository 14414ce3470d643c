// Check and Repair through the window's buttons, on tables made with the
// engine, with the message boxes and the open-file dialog replaced.
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "tests/ui/support/ui_support.h"
#include "ui/frm_kxcheck.h"
#include "ui/stop_signals.h"

namespace {

namespace fs = std::filesystem;

// What the window looked like at each PumpEvents of an operation.
struct Watch {
  QStringList labels;  // distinct captions of lblRecords, in order
  int pumps = 0;
  // Both buttons disabled, the hourglass over the window and over the
  // results box.
  bool always_busy = true;

  void Attach(frmKXCheck& w, std::function<void(int)> at_pump = nullptr) {
    w.Host().SetPumpHook([this, &w, at_pump] {
      ++pumps;
      QString label = w.lblRecords->text();
      if (labels.isEmpty() || labels.back() != label) labels << label;
      if (w.cmdCheck->isEnabled() || w.cmdRepair->isEnabled() ||
          w.cursor().shape() != Qt::WaitCursor ||
          w.txtResults->viewport()->cursor().shape() != Qt::WaitCursor) {
        always_busy = false;
      }
      if (at_pump) at_pump(pumps);
    });
  }
};

void ExpectIdle(frmKXCheck& w) {
  QVERIFY(w.cmdCheck->isEnabled());
  QVERIFY(w.cmdRepair->isEnabled());
  QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
  QCOMPARE(w.txtResults->viewport()->cursor().shape(), Qt::IBeamCursor);
  QVERIFY(!w.OperationRunning());
}

// kxtable's report of a repair of `table` with `options`, as the results box
// holds it (CR LF line ends).
std::string KxtableRepair(const std::string& table,
                          const std::string& options) {
  const std::string report = table + ".report";
  const std::string command = std::string("'") + KXTABLE_PATH +
                              "' repair --replace --crlf --no-progress " +
                              options + " '" + table + "' > '" + report +
                              "' 2>/dev/null";
  if (std::system(command.c_str()) != 0) return "kxtable failed";
  return kxtest::ReadFile(report);
}

}  // namespace

class OperationsTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  std::unique_ptr<frmKXCheck> w_;
  kxtest::Calls calls_;

  std::string Path(const char* name) {
    return dir_.filePath(name).toStdString();
  }
  // Writes the table "<stem>.kxt" (as kxtest::WriteTable does), the row's
  // data tag added to its stem in a data-driven test, and takes it as
  // dropped; its path.
  std::string ChooseNew(
      std::string stem, int count,
      const std::function<std::string(int)>& stamp = kxtest::StampFor,
      const std::function<bool(int)>& deleted = nullptr) {
    if (QTest::currentDataTag())
      stem += std::string("_") + QTest::currentDataTag();
    const std::string table = Path((stem + ".kxt").c_str());
    kxtest::WriteTable(table, count, stamp, deleted);
    kxtest::Choose(*w_, table);
    return table;
  }

 private slots:
  void init() {
    calls_ = kxtest::Calls();
    w_ = std::make_unique<frmKXCheck>();
    kxtest::UseDoubles(*w_, calls_);
    w_->show();
    QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
  }
  void cleanup() { w_.reset(); }

  void CheckReportsProgressBusyStateAndTheLog() {
    const std::string table = ChooseNew("clean", 2500);
    Watch watch;
    watch.Attach(*w_);
    QTest::mouseClick(w_->cmdCheck, Qt::LeftButton);
    QCOMPARE(watch.pumps, 2500);
    QVERIFY(watch.always_busy);
    QStringList labels = watch.labels;
    if (labels.back() != w_->lblRecords->text())
      labels << w_->lblRecords->text();
    QCOMPARE(labels, QStringList({"0 / 2500", "1000 / 2500", "2000 / 2500",
                                  "2500 / 2500"}));
    ExpectIdle(*w_);
    const std::string& log = w_->Host().Log().Text();
    QCOMPARE(kxtest::BoxText(*w_), log);
    QCOMPARE(log, "Filename: " + table + "\r\nRecords:  2500\r\n\r\n" +
                      "*** Processing Complete ***\r\n");
    QVERIFY(calls_.warnings.empty());
  }

  void CheckShowsFindingsInTheBox() {
    ChooseNew("bad", 40, [](int n) {
      return n == 17 ? std::string("2020-03-32 00:00:16") : kxtest::StampFor(n);
    });
    QTest::mouseClick(w_->cmdCheck, Qt::LeftButton);
    QVERIFY(w_->txtResults->toPlainText().contains(
        "\nRec: 17 - 2020-03-32 00:00:16 --> Day is invalid!\n"));
    QCOMPARE(kxtest::BoxText(*w_), w_->Host().Log().Text());
    QCOMPARE(w_->lblRecords->text(), QString("40 / 40"));
    ExpectIdle(*w_);
  }

  // What the engine finds wrong with the files comes in one box once the
  // operation has ended, the window idle again.
  void EngineProblemsComeAfterTheOperation() {
    const std::string table = ChooseNew("marks", 30);
    fs::remove(Path("marks.kxa"));
    QTest::mouseClick(w_->cmdCheck, Qt::LeftButton);
    QCOMPARE(w_->lblRecords->text(), QString("30 / 30"));
    ExpectIdle(*w_);
    QCOMPARE(calls_.warnings.size(), size_t{1});
    QVERIFY(calls_.warnings[0].second.startsWith(
        "Problems found in the files of '" + QString::fromStdString(table) +
        "':\n"));
    QVERIFY(
        calls_.warnings[0].second.contains("the attribute file is missing"));
  }

  // Space or Enter on a focused operation button runs it; the focus comes
  // back to that button, so the same key runs it again.
  void KeyRunsTheFocusedButtonAgainAndAgain_data() {
    QTest::addColumn<bool>("repair");
    QTest::addColumn<int>("key");
    QTest::newRow("Check, Space") << false << int(Qt::Key_Space);
    QTest::newRow("Check, Return") << false << int(Qt::Key_Return);
    QTest::newRow("Repair, Enter") << true << int(Qt::Key_Enter);
  }
  void KeyRunsTheFocusedButtonAgainAndAgain() {
    QFETCH(bool, repair);
    QFETCH(int, key);
    ChooseNew("keys", 50);
    w_->cmdRepair->setEnabled(true);
    w_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w_.get()));
    QPushButton* button = repair ? w_->cmdRepair : w_->cmdCheck;
    button->setFocus();
    Watch watch;
    watch.Attach(*w_);
    for (int run = 1; run <= 2; ++run) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key(key));
      QCOMPARE(watch.pumps, 50 * run);
      QCOMPARE(QApplication::focusWidget(), button);
    }
  }

  void MissingFileWarnsAndChangesNothing_data() {
    QTest::addColumn<bool>("repair");
    QTest::newRow("Check") << false;
    QTest::newRow("Repair") << true;
  }
  void MissingFileWarnsAndChangesNothing() {
    QFETCH(bool, repair);
    std::string missing = Path("missing.kxt");
    kxtest::Choose(*w_, missing);
    w_->Host().AddResult("kept");
    w_->Host().ShowProgress("5 / 5");
    w_->cmdRepair->setEnabled(repair);
    QTest::mouseClick(repair ? w_->cmdRepair : w_->cmdCheck, Qt::LeftButton);
    QCOMPARE(calls_.warnings.size(), size_t(1));
    QCOMPARE(calls_.warnings[0].first, kxui::WindowHost::Title());
    QCOMPARE(calls_.warnings[0].second, QString("Filename does not exist!"));
    QCOMPARE(w_->txtResults->toPlainText(), QString("kept\n"));
    QCOMPARE(w_->lblRecords->text(), QString("5 / 5"));
    QCOMPARE(w_->cmdRepair->isEnabled(), repair);
    QVERIFY(w_->cmdCheck->isEnabled());
  }

  void RepairAfterCheckWithoutChoosingAgain() {
    const std::string table = ChooseNew("line4", 1200, [](int n) {
      return n == 700 ? std::string("2020-13-01 00:00:00")
                      : kxtest::StampFor(n);
    });
    const std::string source_before = kxtest::ReadFile(Path("line4.kxd"));
    QVERIFY(!w_->cmdRepair->isEnabled());
    QTest::mouseClick(w_->cmdCheck, Qt::LeftButton);
    QVERIFY(w_->cmdRepair->isEnabled());
    Watch watch;
    watch.Attach(*w_);
    QTest::mouseClick(w_->cmdRepair, Qt::LeftButton);
    QVERIFY(watch.always_busy);
    ExpectIdle(*w_);
    std::string base = Path("line4_REPAIRED");
    QVERIFY(fs::exists(base + ".kxt"));
    const std::string& log = w_->Host().Log().Text();
    QCOMPARE(kxtest::BoxText(*w_), log);
    QVERIFY(log.starts_with("Filename: " + table + "\r\n"));
    QVERIFY(log.find("\r\nOutput -> " + base +
                     ".kxt\r\nRecords Written: 1200\r\n") != std::string::npos);
    QVERIFY(log.ends_with("\r\n\r\n*** Processing Complete ***\r\n"));
    QCOMPARE(w_->lblRecords->text(), QString("1200 / 1200"));
    QCOMPARE(kxtest::ReadFile(Path("line4.kxd")), source_before);
  }

  void RepairDeclinedWhenTheOutputExists() {
    ChooseNew("twice", 30);
    QTest::mouseClick(w_->cmdRepair, Qt::LeftButton);  // disabled: nothing
    QTest::mouseClick(w_->cmdCheck, Qt::LeftButton);
    QTest::mouseClick(w_->cmdRepair, Qt::LeftButton);
    std::string output = Path("twice_REPAIRED.kxt");
    QVERIFY(fs::exists(output));
    QVERIFY(calls_.questions.empty());
    calls_.answer_yes = false;
    w_->Host().ShowProgress("label kept");
    QTest::mouseClick(w_->cmdRepair, Qt::LeftButton);
    QCOMPARE(calls_.questions.size(), size_t(1));
    QCOMPARE(calls_.questions[0].first, kxui::WindowHost::Title());
    QCOMPARE(calls_.questions[0].second,
             QString::fromStdString("File '" + Path("twice_REPAIRED") +
                                    ".kxt' already exists ... Replace?"));
    QVERIFY(w_->txtResults->toPlainText().isEmpty());
    QCOMPARE(w_->lblRecords->text(), QString("label kept"));
    ExpectIdle(*w_);
  }

  // Browse and drops stay live during an operation: they empty the box,
  // disable Repair, and the operation's later lines land in the emptied box.
  void ChoosingDuringARunningCheck_data() {
    QTest::addColumn<bool>("by_browse");
    QTest::newRow("Browse") << true;
    QTest::newRow("drop") << false;
  }
  void ChoosingDuringARunningCheck() {
    QFETCH(bool, by_browse);
    ChooseNew("long", 3000, [](int n) {
      return n % 1000 == 0 ? std::string("2020-03-01 99:00:00")
                           : kxtest::StampFor(n);
    });
    calls_.dialog_result = Path("other.kxt");
    bool repair_disabled_after_choice = false;
    Watch watch;
    watch.Attach(*w_, [&](int pump) {
      if (pump != 1500) return;
      if (by_browse) {
        QTest::mouseClick(w_->cmdBrowse, Qt::LeftButton);
      } else {
        kxtest::Choose(*w_, Path("other.kxt"));
      }
      repair_disabled_after_choice = !w_->cmdRepair->isEnabled();
    });
    QTest::mouseClick(w_->cmdCheck, Qt::LeftButton);
    QCOMPARE(calls_.dialogs.size(), size_t(by_browse ? 1 : 0));
    QVERIFY(repair_disabled_after_choice);
    QCOMPARE(w_->txtFilename->text(),
             QString::fromStdString(Path("other.kxt")));
    const std::string& log = w_->Host().Log().Text();
    QCOMPARE(kxtest::BoxText(*w_), log);
    // Records 2000 and 3000 come after the choice; 1000 and the header
    // before it.
    QVERIFY(log.starts_with("Rec: 2000 - "));
    QVERIFY(log.find("Rec: 1000 ") == std::string::npos);
    QVERIFY(log.find("Filename: ") == std::string::npos);
    QVERIFY(log.find("Rec: 3000 - ") != std::string::npos);
    QVERIFY(log.ends_with("*** Processing Complete ***\r\n"));
    QCOMPARE(w_->lblRecords->text(), QString("3000 / 3000"));
    ExpectIdle(*w_);  // LeaveBusy enables Repair again
  }

  // The skip options are read at every use: a change during a Repair
  // takes effect from the next record on.
  void SkipOptionChangedDuringARepair() {
    // Every tenth record carries the deletion mark: 100 of 1000.
    ChooseNew("deleted", 1000, kxtest::StampFor,
              [](int n) { return n % 10 == 0; });
    QTest::mouseClick(w_->cmdCheck, Qt::LeftButton);
    QVERIFY(w_->chkDeleted->isChecked());
    Watch watch;
    watch.Attach(*w_, [&](int pump) {
      if (pump == 500) w_->chkDeleted->setChecked(false);
    });
    QTest::mouseClick(w_->cmdRepair, Qt::LeftButton);
    // Records 10, 20, ..., 500 were left out; the later 50 were written.
    QVERIFY(w_->Host().Log().Text().find("\r\nRecords Written: 950\r\n") !=
            std::string::npos);
  }

  void ClosingWhenIdleClosesAtOnce() {
    QVERIFY(w_->close());
    QVERIFY(!w_->isVisible());
  }

  // Closing the window during an operation stops it after the current
  // record, closes its tables, removes a partial Repair output, keeps the
  // source, and closes the window once the operation has returned.
  // SIGTERM and SIGHUP close it the same way.
  void ClosingDuringAnOperation_data() {
    QTest::addColumn<bool>("repair");
    QTest::addColumn<int>("signal_number");  // 0: the user closes it
    QTest::newRow("Check") << false << 0;
    QTest::newRow("Repair") << true << 0;
    QTest::newRow("Check on SIGHUP") << false << SIGHUP;
    QTest::newRow("Repair on SIGTERM") << true << SIGTERM;
  }
  void ClosingDuringAnOperation() {
    QFETCH(bool, repair);
    QFETCH(int, signal_number);
    kxui::CloseOnStopSignals(w_.get());
    const std::string table = ChooseNew("closing", 5000);
    const std::string stem = table.substr(0, table.size() - 4);
    if (repair) QTest::mouseClick(w_->cmdCheck, Qt::LeftButton);
    const std::vector<std::string> before = kxtest::TableFiles(stem);
    QSignalSpy last_closed(qApp, &QGuiApplication::lastWindowClosed);
    bool close_refused = false;
    bool still_visible = false;
    int pumps_after_close = 0;
    Watch watch;
    watch.Attach(*w_, [&](int pump) {
      if (pump == 1200 && signal_number != 0) {
        std::raise(signal_number);
        // As the window's next look at its events would.
        QCoreApplication::processEvents();
      } else if (pump == 1200) {
        close_refused = !w_->close();
        still_visible = w_->isVisible();
      } else if (pump > 1200 && signal_number == 0) {
        ++pumps_after_close;
      }
    });
    // Pressed inside the application's event loop, which ends when the
    // window closes.
    QCOMPARE(
        kxtest::ClickAndRunUntilClosed(repair ? w_->cmdRepair : w_->cmdCheck),
        0);
    QVERIFY(close_refused || signal_number != 0);
    QVERIFY(still_visible || signal_number != 0);
    QVERIFY2(pumps_after_close == 0,
             qPrintable(QString::number(pumps_after_close)));
    QVERIFY(!w_->isVisible());
    QCOMPARE(last_closed.count(), 1);
    QVERIFY(watch.pumps > 0);
    QVERIFY(!w_->OperationRunning());
    QVERIFY(w_->lblRecords->text() != QString("5000 / 5000"));
    for (const char* ext : kxtest::kTableExtensions) {
      QVERIFY2(!fs::exists(stem + "_REPAIRED" + ext), ext);
    }
    QVERIFY(kxtest::TableFiles(stem) == before);
  }

  // A signal does not wait for a message box to be answered: the box is
  // answered No (or OK), the operation ends as it then would, and the
  // window closes.
  void SignalAnswersAnOpenMessageBox_data() {
    QTest::addColumn<bool>("repair");  // false: Check warns of a missing file
    QTest::addColumn<int>("signal_number");
    QTest::newRow("warning on SIGTERM") << false << SIGTERM;
    QTest::newRow("Replace question on SIGHUP") << true << SIGHUP;
  }
  void SignalAnswersAnOpenMessageBox() {
    QFETCH(bool, repair);
    QFETCH(int, signal_number);
    kxui::CloseOnStopSignals(w_.get());
    w_->Host().SetWarnFunction(nullptr);  // the window's own boxes
    w_->Host().SetAskFunction(nullptr);
    std::string table = Path(repair ? "asked.kxt" : "none.kxt");
    std::string output = Path("asked_REPAIRED.kxt");
    if (repair) {
      kxtest::WriteTable(table, 50);
      kxtest::WriteTable(output, 7);
    }
    const std::string before = repair ? kxtest::ReadFile(output) : "";
    kxtest::Choose(*w_, table);
    w_->cmdRepair->setEnabled(true);
    QString box_text;
    QTimer signal_when_asked;
    connect(&signal_when_asked, &QTimer::timeout, [&] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr) return;
      box_text = box->text();
      signal_when_asked.stop();
      std::raise(signal_number);
    });
    signal_when_asked.start(10);
    QCOMPARE(
        kxtest::ClickAndRunUntilClosed(repair ? w_->cmdRepair : w_->cmdCheck),
        0);
    QCOMPARE(box_text, QString(repair ? "File '" +
                                            QString::fromStdString(table.substr(
                                                0, table.size() - 4)) +
                                            "_REPAIRED.kxt' already exists "
                                            "... Replace?"
                                      : "Filename does not exist!"));
    QVERIFY(!w_->isVisible());
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QVERIFY(!w_->OperationRunning());
    if (repair) QCOMPARE(kxtest::ReadFile(output), before);  // answered No
  }

  // After a Repair whose current rule gave one stamp to a long run of
  // records the window offers the restoring rule: Yes writes the copy again
  // as `kxtable repair --restore` writes it; No leaves the current rule's
  // copy and log.
  void RestoreOfferAnswered_data() {
    QTest::addColumn<bool>("yes");
    QTest::newRow("Yes") << true;
    QTest::newRow("No") << false;
  }
  void RestoreOfferAnswered() {
    QFETCH(bool, yes);
    // Record 100 lies years ahead: the current rule gives its stamp to the
    // 300 records after it.
    const std::string table = ChooseNew("spread", 400, [](int n) {
      return n == 100 ? std::string("2024-01-01 00:00:00")
                      : kxtest::StampFor(n);
    });
    const std::string base = table.substr(0, table.size() - 4);
    QTest::mouseClick(w_->cmdCheck, Qt::LeftButton);
    calls_.answer_yes = yes;
    QTest::mouseClick(w_->cmdRepair, Qt::LeftButton);

    // One question, the offer; Yes is also the answer to replacing the
    // copy the current rule wrote.
    QCOMPARE(calls_.questions.size(), size_t{1});
    QCOMPARE(calls_.questions[0].first, kxui::WindowHost::Title());
    QCOMPARE(calls_.questions[0].second.toStdString(),
             "The repair of '" + table +
                 "' gave one stamp to more than 100 following records:\n\n"
                 "300 records from 101 to 400 took the stamp of record 100, "
                 "2024-01-01 00:00:00\n\n"
                 "Write the repaired copy again, with such stamps restored "
                 "from the good stamps around them?");
    QVERIFY(calls_.warnings.empty());
    QVERIFY(w_->cmdCheck->isEnabled());
    QVERIFY(w_->cmdRepair->isEnabled());
    QCOMPARE(w_->lblRecords->text(), QString("400 / 400"));

    const std::string log = w_->Host().Log().Text();
    QCOMPARE(kxtest::BoxText(*w_), log);
    const std::vector<std::string> written =
        kxtest::TableFiles(base + "_REPAIRED");
    QCOMPARE(KxtableRepair(table, yes ? "--restore" : ""), log);
    QVERIFY(kxtest::TableFiles(base + "_REPAIRED") == written);
    QCOMPARE(log.find("Rec: 101 - ") != std::string::npos, !yes);
  }
};

KX_UI_TEST_MAIN(OperationsTest)
#include "operations_test.moc"
