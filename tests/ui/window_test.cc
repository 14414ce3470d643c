// The window at start, its layout, its keyboard behaviour, its placement,
// and the host services it carries out on its controls.
#include <QCheckBox>
#include <QClipboard>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTimer>
#include <QtTest>

#include "tests/ui/support/ui_support.h"
#include "ui/frm_kxcheck.h"
#include "ui/twips.h"
#include "ui/window_font.h"

namespace {

// Closes the next modal message box by pressing `key` once it is shown, and
// describes it in *seen.
void AnswerNextBox(int key, QString* seen) {
  QTimer::singleShot(0, [key, seen] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {
      *seen = "no box";
      return;
    }
    QStringList buttons;
    for (QAbstractButton* b : box->buttons()) {
      buttons << QString::number(box->standardButton(b), 16);
    }
    buttons.sort();
    *seen = QString("%1|%2|%3|%4|default %5")
                .arg(box->windowTitle(), box->text())
                .arg(int(box->icon()))
                .arg(buttons.join(","))
                .arg(box->defaultButton()
                         ? QString::number(
                               box->standardButton(box->defaultButton()), 16)
                         : "none");
    QTest::keyClick(box, Qt::Key(key));
  });
}

// Whether the caption of `control` reads in full at its font: its advance
// fits the width the style leaves for it (beside a check box's indicator,
// inside a button's frame, between the frame title's margins) and one line
// fits the height.
bool CaptionReads(const QWidget* control) {
  QFontMetrics metrics = control->fontMetrics();
  QStyle* style = control->style();
  QString caption;
  int room = control->width();
  if (auto* box = qobject_cast<const QCheckBox*>(control)) {
    caption = box->text();
    room -= style->pixelMetric(QStyle::PM_IndicatorWidth, nullptr, box) +
            style->pixelMetric(QStyle::PM_CheckBoxLabelSpacing, nullptr, box);
  } else if (auto* button = qobject_cast<const QPushButton*>(control)) {
    caption = button->text();
    room -=
        2 * style->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
  } else if (auto* frame = qobject_cast<const QGroupBox*>(control)) {
    caption = frame->title();
    QStyleOptionGroupBox option;
    option.initFrom(frame);
    option.text = caption;
    option.subControls = QStyle::SC_GroupBoxLabel;
    int left = style
                   ->subControlRect(QStyle::CC_GroupBox, &option,
                                    QStyle::SC_GroupBoxLabel, frame)
                   .left();
    room -= 2 * left;
  }
  return metrics.horizontalAdvance(caption) <= room &&
         metrics.height() <= control->height();
}

QList<QWidget*> Captioned(const frmKXCheck& w) {
  return {w.Frame1,     w.cmdBrowse,     w.cmdCheck,    w.cmdRepair,
          w.chkDeleted, w.chkDuplicates, w.chkCorrupted};
}

}  // namespace

class WindowTest : public QObject {
  Q_OBJECT

 private slots:
  void StartState() {
    frmKXCheck w;
    QCOMPARE(w.windowTitle(), QString("KX Check Utility"));
    QCOMPARE(w.Frame1->title(),
             QString("Check Kalvex File For Date/Time Errors") +
                 QString(17, ' ') +
                 "(Click on Browse or Drag and Drop a file onto the textbox "
                 "below)");
    QCOMPARE(w.cmdBrowse->text(), QString("Browse"));
    QCOMPARE(w.cmdCheck->text(), QString("Check"));
    QCOMPARE(w.cmdRepair->text(), QString("Repair"));
    QCOMPARE(w.chkDeleted->text(), QString("Skip Deleted Records"));
    QCOMPARE(w.chkDuplicates->text(), QString("Skip Duplicate Records"));
    QCOMPARE(w.chkCorrupted->text(), QString("Skip Corrupted Records"));
    QVERIFY(w.txtFilename->text().isEmpty());
    QVERIFY(w.txtResults->toPlainText().isEmpty());
    QVERIFY(w.lblRecords->text().isEmpty());
    QVERIFY(w.cmdBrowse->isEnabled());
    QVERIFY(w.cmdCheck->isEnabled());
    QVERIFY(!w.cmdRepair->isEnabled());
    QCOMPARE(w.chkDeleted->checkState(), Qt::Checked);
    QCOMPARE(w.chkDuplicates->checkState(), Qt::Checked);
    QCOMPARE(w.chkCorrupted->checkState(), Qt::Unchecked);
    QVERIFY(w.txtFilename->isReadOnly());
    QVERIFY(w.txtResults->isReadOnly());
    QVERIFY(w.txtFilename->acceptDrops());
    QCOMPARE(w.txtResults->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
    QCOMPARE(w.txtResults->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    QCOMPARE(w.txtResults->lineWrapMode(), QPlainTextEdit::WidgetWidth);
    QVERIFY(w.cursor().shape() == Qt::ArrowCursor);
    // The icon: one 32 x 32 image.
    QCOMPARE(w.windowIcon().availableSizes(), QList<QSize>{QSize(32, 32)});
  }

  // Twips from the layout table at 15 to the pixel, rounded to the nearest.
  void Geometry_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("rect");
    QTest::newRow("Frame1") << "Frame1"
                            << "" << QRect(8, 8, 833, 73);
    QTest::newRow("txtFilename") << "txtFilename"
                                 << "Frame1" << QRect(8, 16, 745, 19);
    QTest::newRow("cmdBrowse") << "cmdBrowse"
                               << "Frame1" << QRect(768, 16, 57, 17);
    QTest::newRow("cmdCheck") << "cmdCheck"
                              << "Frame1" << QRect(8, 40, 65, 25);
    QTest::newRow("txtResults") << "txtResults"
                                << "" << QRect(8, 88, 833, 345);
    QTest::newRow("cmdRepair") << "cmdRepair"
                               << "Frame1" << QRect(80, 40, 65, 25);
    QTest::newRow("chkDeleted") << "chkDeleted"
                                << "Frame1" << QRect(160, 48, 145, 17);
    QTest::newRow("chkDuplicates") << "chkDuplicates"
                                   << "Frame1" << QRect(304, 48, 137, 17);
    QTest::newRow("lblRecords") << "lblRecords"
                                << "Frame1" << QRect(664, 48, 161, 17);
    QTest::newRow("chkCorrupted") << "chkCorrupted"
                                  << "Frame1" << QRect(456, 48, 145, 17);
  }
  void Geometry() {
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, rect);
    frmKXCheck w;
    w.show();
    auto* widget = w.findChild<QWidget*>(name);
    QVERIFY(widget != nullptr);
    QCOMPARE(widget->parentWidget()->objectName(), parent);
    QCOMPARE(widget->geometry(), rect);
  }

  // At load the window takes one font for all its controls: the desktop's
  // family at the largest size, at most the desktop's, at which every
  // caption reads in full; the layout stays as it is.
  void CaptionsReadInFullAtTheWindowFont_data() {
    QTest::addColumn<double>("desktop_points");  // 0: the desktop default
    QTest::newRow("desktop default") << 0.0;
    QTest::newRow("larger desktop font") << 14.0;
    QTest::newRow("desktop font smaller than the floor") << 6.0;
  }
  void CaptionsReadInFullAtTheWindowFont() {
    QFETCH(double, desktop_points);
    const QFont default_font = QApplication::font();
    QFont desktop = default_font;
    if (desktop_points > 0) desktop.setPointSizeF(desktop_points);
    QApplication::setFont(desktop);
    auto restore =
        qScopeGuard([&default_font] { QApplication::setFont(default_font); });
    frmKXCheck w;
    w.Form_Load();
    w.show();

    const QFont chosen = w.font();
    QCOMPARE(chosen.family(), desktop.family());
    QVERIFY(chosen.pointSizeF() <= desktop.pointSizeF());
    QVERIFY(chosen.pointSizeF() >= std::min(desktop.pointSizeF(), 7.0));
    for (QWidget* part : w.findChildren<QWidget*>()) {
      QVERIFY2(part->font() == chosen, qPrintable(part->objectName()));
    }
    for (QWidget* control : Captioned(w)) {
      QVERIFY2(CaptionReads(control), qPrintable(control->objectName()));
    }
    QCOMPARE(w.chkDuplicates->geometry(), QRect(304, 48, 137, 17));
    QCOMPARE(w.size(), QSize(849, 440));

    // The largest such size: half a point more clips some caption.
    if (chosen.pointSizeF() < desktop.pointSizeF()) {
      QFont larger = chosen;
      larger.setPointSizeF(chosen.pointSizeF() + kxui::kPointSizeStep);
      w.setFont(larger);
      bool all_read = true;
      for (QWidget* control : Captioned(w)) {
        all_read = all_read && CaptionReads(control);
      }
      QVERIFY(!all_read);
    }
  }

  void ClientSizeIsFixed() {
    frmKXCheck w;
    QCOMPARE(w.size(), QSize(849, 440));
    QCOMPARE(w.minimumSize(), QSize(849, 440));
    QCOMPARE(w.maximumSize(), QSize(849, 440));
  }

  void TabOrderSkipsDisabledRepairFrameAndLabel() {
    frmKXCheck w;
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    QCOMPARE(QApplication::focusWidget(), w.txtFilename);
    auto walk = [&w](int steps) {
      QStringList names;
      for (int i = 0; i < steps; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        names << QApplication::focusWidget()->objectName();
      }
      return names;
    };
    QCOMPARE(walk(7),
             QStringList({"cmdBrowse", "cmdCheck", "txtResults", "chkDeleted",
                          "chkDuplicates", "chkCorrupted", "txtFilename"}));
    w.cmdRepair->setEnabled(true);
    QCOMPARE(walk(8), QStringList({"cmdBrowse", "cmdCheck", "txtResults",
                                   "cmdRepair", "chkDeleted", "chkDuplicates",
                                   "chkCorrupted", "txtFilename"}));
  }

  void TypingChangesNothingSelectingAndCopyingWork() {
    frmKXCheck w;
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.Host().AddResult("Filename: x");
    w.txtFilename->setFocus();
    QTest::keyClicks(w.txtFilename, "abc");
    QTest::keyClick(w.txtFilename, Qt::Key_Backspace);
    QVERIFY(w.txtFilename->text().isEmpty());
    w.txtResults->setFocus();
    QTest::keyClicks(w.txtResults, "abc");
    QTest::keyClick(w.txtResults, Qt::Key_Return);
    QTest::keyClick(w.txtResults, Qt::Key_Delete);
    QCOMPARE(kxtest::BoxText(w), std::string("Filename: x\r\n"));
    QTest::keyClick(w.txtResults, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(w.txtResults, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QString("Filename: x\n"));
  }

  void FormLoadCentresOnThePrimaryScreen() {
    frmKXCheck w;
    QRect screen = QGuiApplication::primaryScreen()->geometry();
    w.Form_Load();
    QSize outer = w.frameGeometry().size();
    // Room in twips, halved toward zero, back to pixels.
    auto expect = [](int screen_px, int outer_px) {
      int room = (screen_px - outer_px) * 15;
      int halved = room / 2;  // rooms are whole twips here
      return static_cast<int>(std::lround(halved / 15.0));
    };
    QCOMPARE(
        w.frameGeometry().topLeft(),
        screen.topLeft() + QPoint(expect(screen.width(), outer.width()),
                                  expect(screen.height(), outer.height())));
    QCOMPARE(w.size(), QSize(849, 440));
    if (screen.size() == QSize(800, 600)) {
      // The offscreen screen: the window is wider than the screen, so it
      // gets a negative left edge; (800 - 849) * 15 = -735 -> -367 -> -24.
      QCOMPARE(w.frameGeometry().topLeft(), QPoint(-24, 80));
    }
  }

  void ResultsBoxMirrorsTheLogAndScrollsToTheNewestLine() {
    frmKXCheck w;
    w.show();
    auto& host = w.Host();
    for (int i = 0; i < 300; ++i) {
      host.AddResult("Rec: " + std::to_string(i) + " - line");
    }
    host.AddResultAlways("");
    host.AddResult(std::string("NUL\0here", 8));
    QCOMPARE(kxtest::BoxText(w), host.Log().Text());
    QVERIFY(w.txtResults->toPlainText().endsWith("NUL?here\n"));
    QScrollBar* bar = w.txtResults->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    QCOMPARE(w.txtResults->textCursor().position(),
             w.txtResults->document()->characterCount() - 1);
    host.ClearResults();
    QVERIFY(w.txtResults->toPlainText().isEmpty());
    QCOMPARE(host.ResultsLength(), 0);
    host.AddResult("first");
    QCOMPARE(w.txtResults->toPlainText(), QString("first\n"));
  }

  void LoneLineBreakBytesDoNotSplitALine_data() {
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("shown");
    QTest::newRow("lone LF") << QByteArray("a\nb") << QString("a\uFFFDb\n");
    QTest::newRow("lone CR") << QByteArray("a\rb") << QString("a\uFFFDb\n");
    QTest::newRow("CR LF inside") << QByteArray("a\r\nb") << QString("a\nb\n");
    QTest::newRow("Latin-1 byte as UTF-8")
        << QByteArray("\xc3\xa9") << QString("\u00e9\n");
  }
  void LoneLineBreakBytesDoNotSplitALine() {
    QFETCH(QByteArray, line);
    QFETCH(QString, shown);
    frmKXCheck w;
    w.Host().AddResult(line.toStdString());
    QCOMPARE(w.txtResults->toPlainText(), shown);
  }

  void ProgressBusyAndSkipOptions() {
    frmKXCheck w;
    auto& host = w.Host();
    host.ShowProgress("1000 / 2500");
    QCOMPARE(w.lblRecords->text(), QString("1000 / 2500"));
    w.cmdRepair->setEnabled(true);
    host.EnterBusy();
    QVERIFY(!w.cmdCheck->isEnabled());
    QVERIFY(!w.cmdRepair->isEnabled());
    QVERIFY(w.cmdBrowse->isEnabled());
    QCOMPARE(w.cursor().shape(), Qt::WaitCursor);
    host.LeaveBusy();
    QVERIFY(w.cmdCheck->isEnabled());
    QVERIFY(w.cmdRepair->isEnabled());
    QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);

    using kxcheck::SkipKind;
    QVERIFY(host.SkipOption(SkipKind::kDeleted));
    QVERIFY(host.SkipOption(SkipKind::kDuplicates));
    QVERIFY(!host.SkipOption(SkipKind::kCorrupted));
    // Read afresh at every call; the greyed state does not count.
    w.chkCorrupted->setChecked(true);
    QVERIFY(host.SkipOption(SkipKind::kCorrupted));
    w.chkDeleted->setTristate(true);
    w.chkDeleted->setCheckState(Qt::PartiallyChecked);
    QVERIFY(!host.SkipOption(SkipKind::kDeleted));
    w.chkDuplicates->setChecked(false);
    QVERIFY(!host.SkipOption(SkipKind::kDuplicates));
  }

  // While busy the hourglass shows over every part of the window, the
  // results box included; a message box shown meanwhile has the normal
  // pointer; idle, the results box has its I-beam again.
  void BusyPointerEverywhereButInMessageBoxes() {
    frmKXCheck w;
    w.show();
    auto& host = w.Host();
    host.EnterBusy();
    for (QWidget* part : w.findChildren<QWidget*>()) {
      QVERIFY2(part->cursor().shape() == Qt::WaitCursor,
               qPrintable(part->objectName() + " " +
                          part->metaObject()->className()));
    }
    Qt::CursorShape in_box = Qt::WaitCursor;
    QTimer::singleShot(0, [&in_box] {
      QWidget* box = QApplication::activeModalWidget();
      if (box == nullptr) return;
      in_box = box->cursor().shape();
      QTest::keyClick(box, Qt::Key_Return);
    });
    host.WarnBox("Filename does not exist!");
    QCOMPARE(in_box, Qt::ArrowCursor);
    host.LeaveBusy();
    QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(w.txtResults->viewport()->cursor().shape(), Qt::IBeamCursor);
  }

  void MessageBoxesAsTheHostShowsThem() {
    frmKXCheck w;
    w.show();
    QString title =
        QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
    QCOMPARE(kxui::WindowHost::Title(), title);
    QString seen;
    AnswerNextBox(Qt::Key_Return, &seen);
    w.Host().WarnBox("Filename does not exist!");
    QCOMPARE(seen, QString("%1|Filename does not exist!|%2|400|default none")
                       .arg(title)
                       .arg(int(QMessageBox::Warning)));
    // Yes is the default: Return answers Yes, Escape answers No.
    AnswerNextBox(Qt::Key_Return, &seen);
    QVERIFY(w.Host().AskYesNo("Replace?"));
    QCOMPARE(seen, QString("%1|Replace?|%2|10000,4000|default 4000")
                       .arg(title)
                       .arg(int(QMessageBox::NoIcon)));
    AnswerNextBox(Qt::Key_Escape, &seen);
    QVERIFY(!w.Host().AskYesNo("Replace?"));
  }

  // While busy the box catches up with the log before any event is handled,
  // before a message box, and at LeaveBusy.
  void BoxCatchesUpBeforeTheUserCanSeeIt() {
    frmKXCheck w;
    auto& host = w.Host();
    QString shown_at_warning;
    host.SetWarnFunction(
        [&w, &shown_at_warning](const QString&, const QString&) {
          shown_at_warning = w.txtResults->toPlainText();
        });
    bool seen_by_event = false;
    host.EnterBusy();
    host.AddResult("one");
    QMetaObject::invokeMethod(
        &w,
        [&w, &seen_by_event] {
          seen_by_event = w.txtResults->toPlainText() == "one\n";
        },
        Qt::QueuedConnection);
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 200) host.PumpEvents();
    QVERIFY(seen_by_event);
    host.AddResult("two");
    host.WarnBox("Filename does not exist!");
    QCOMPARE(shown_at_warning, QString("one\ntwo\n"));
    host.AddResult("three");
    host.ClearResults();
    host.AddResult("four");
    host.LeaveBusy();
    QCOMPARE(kxtest::BoxText(w), std::string("four\r\n"));
  }

  void CurrentYearIsTheClocks() {
    frmKXCheck w;
    for (int i = 0; i < 100; ++i) {
      QCOMPARE(w.Host().CurrentYear(), platform::CurrentYear());
    }
  }

  // Pumping while busy handles events that are waiting. (How soon is a
  // matter of speed, measured in bench/, not here.)
  void PumpEventsHandlesWaitingEvents() {
    frmKXCheck w;
    auto& host = w.Host();
    for (int attempt = 0; attempt < 3; ++attempt) {
      bool handled = false;
      QMetaObject::invokeMethod(
          &w, [&handled] { handled = true; }, Qt::QueuedConnection);
      QElapsedTimer clock;
      clock.start();
      host.EnterBusy();
      while (!handled && clock.elapsed() < 5000) host.PumpEvents();
      host.LeaveBusy();
      QVERIFY(handled);
    }
  }

  // Centring arithmetic and the twips-to-pixels conversion of the layout.
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

KX_UI_TEST_MAIN(WindowTest)
#include "window_test.moc"
