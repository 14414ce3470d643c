// The window's offer after a Repair whose current rule gave one stamp to a
// long run of records: Yes writes the copy again with the restoring rule,
// as `kxtable repair --restore` writes it; No leaves the current rule's
// copy and log.
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>
#include <cstdlib>
#include <filesystem>

#include "tests/ui/support/ui_support.h"
#include "ui/frm_kxcheck.h"

namespace {

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

class RestoreOfferTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir dir_;
  std::unique_ptr<frmKXCheck> w_;
  kxtest::Calls calls_;

 private slots:
  void init() {
    calls_ = kxtest::Calls();
    w_ = std::make_unique<frmKXCheck>();
    kxtest::UseDoubles(*w_, calls_);
    w_->show();
    QVERIFY(QTest::qWaitForWindowExposed(w_.get()));
  }
  void cleanup() { w_.reset(); }

  void BothAnswers_data() {
    QTest::addColumn<bool>("yes");
    QTest::newRow("Yes") << true;
    QTest::newRow("No") << false;
  }
  void BothAnswers() {
    QFETCH(bool, yes);
    // Record 100 lies years ahead: the current rule gives its stamp to the
    // 300 records after it.
    const std::string base =
        dir_.filePath(QString("spread_") + QTest::currentDataTag())
            .toStdString();
    const std::string table = base + ".kxt";
    kxtest::WriteTable(table, 400, [](int n) {
      return n == 100 ? std::string("2024-01-01 00:00:00")
                      : kxtest::StampFor(n);
    });
    kxtest::Choose(*w_, table);
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

KX_UI_TEST_MAIN(RestoreOfferTest)
#include "restore_offer_test.moc"
