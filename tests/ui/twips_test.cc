// Centring arithmetic and the twips-to-pixels conversion.
#include "ui/twips.h"

#include <QtTest>

#include "tests/ui/support/ui_support.h"

class TwipsTest : public QObject {
  Q_OBJECT

 private slots:
  void CentredOffsetRoundsHalvesToEvenThenTruncates_data() {
    QTest::addColumn<double>("room");
    QTest::addColumn<qint64>("offset");
    QTest::newRow("room -1001") << -1001.0 << qint64(-500);
    QTest::newRow("room 1001") << 1001.0 << qint64(500);
    QTest::newRow("room 0") << 0.0 << qint64(0);
    QTest::newRow("room -1 truncates to 0") << -1.0 << qint64(0);
    QTest::newRow("room -3") << -3.0 << qint64(-1);
    QTest::newRow("room 2625") << 2625.0 << qint64(1312);
    QTest::newRow("0.5 rounds down to even 0") << 0.5 << qint64(0);
    QTest::newRow("1.5 rounds up to even 2") << 1.5 << qint64(1);
    QTest::newRow("2.5 rounds down to even 2") << 2.5 << qint64(1);
    QTest::newRow("3.5 rounds up to even 4") << 3.5 << qint64(2);
    QTest::newRow("-2.5 rounds to -2") << -2.5 << qint64(-1);
    QTest::newRow("-3.5 rounds to -4") << -3.5 << qint64(-2);
    QTest::newRow("2.4 rounds to 2") << 2.4 << qint64(1);
    QTest::newRow("2.6 rounds to 3") << 2.6 << qint64(1);
    QTest::newRow("-1000.6 rounds to -1001") << -1000.6 << qint64(-500);
    QTest::newRow("wide screen") << 38400.0 * 4 << qint64(76800);
  }
  void CentredOffsetRoundsHalvesToEvenThenTruncates() {
    QFETCH(double, room);
    QFETCH(qint64, offset);
    QCOMPARE(qint64(kxui::CentredOffset(room)), offset);
  }

  void TwipsToPixels_data() {
    QTest::addColumn<qint64>("twips");
    QTest::addColumn<int>("pixels");
    QTest::newRow("120") << qint64(120) << 8;
    QTest::newRow("client width 12732") << qint64(12732) << 849;
    QTest::newRow("2052 (chkDuplicates)") << qint64(2052) << 137;
    QTest::newRow("252") << qint64(252) << 17;
    QTest::newRow("22 rounds down") << qint64(22) << 1;
    QTest::newRow("23 rounds up") << qint64(23) << 2;
    QTest::newRow("-500") << qint64(-500) << -33;
    QTest::newRow("-367") << qint64(-367) << -24;
  }
  void TwipsToPixels() {
    QFETCH(qint64, twips);
    QFETCH(int, pixels);
    QCOMPARE(kxui::TwipsToPixels(twips), pixels);
  }
};

KX_UI_TEST_MAIN(TwipsTest)
#include "twips_test.moc"
