// Choosing the table: the open-file dialog, Browse and drops on the
// file-name box.
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "platform/mod_kxcheck_dialog.h"
#include "tests/ui/support/ui_support.h"
#include "ui/frm_kxcheck.h"

namespace {

const std::string kFilter("Kalvex Files (*.kxt)\0*.kxt\0\0", 29);

// Once the dialog is up, runs `act` on it.
void OnNextDialog(std::function<void(QFileDialog*)> act) {
  QTimer::singleShot(0, [act] {
    auto* dialog =
        qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    QVERIFY(dialog != nullptr);
    act(dialog);
  });
}

}  // namespace

class FileSelectionTest : public QObject {
  Q_OBJECT

 private slots:
  void FilterTextBecomesTheDialogFilterList_data() {
    QTest::addColumn<QByteArray>("filter");
    QTest::addColumn<QStringList>("list");
    QTest::newRow("the Browse filter")
        << QByteArray("Kalvex Files (*.kxt)\0*.kxt\0\0", 29)
        << QStringList{"Kalvex Files (*.kxt) (*.kxt)"};
    QTest::newRow("two pairs, several patterns")
        << QByteArray("Tables\0*.kxt;*.KXT\0All\0*\0\0", 27)
        << QStringList{"Tables (*.kxt *.KXT)", "All (*)"};
    QTest::newRow("stops at the doubled NUL")
        << QByteArray("A\0*.a\0\0B\0*.b\0\0", 15) << QStringList{"A (*.a)"};
    QTest::newRow("description without pattern is ignored")
        << QByteArray("A\0*.a\0B\0\0", 10) << QStringList{"A (*.a)"};
    QTest::newRow("empty") << QByteArray() << QStringList{};
  }
  void FilterTextBecomesTheDialogFilterList() {
    QFETCH(QByteArray, filter);
    QFETCH(QStringList, list);
    QCOMPARE(modKXCheck::FilterList(filter.toStdString()), list);
  }

  void DialogKeepsTitleDirectoryFilterAndExistence() {
    QTemporaryDir dir;
    std::string start = dir.path().toStdString() + "/";
    auto dialog = modKXCheck::BuildOpenDialog(
        nullptr, start, "Enter Filename to Check:", kFilter, true);
    QCOMPARE(dialog->windowTitle(), QString("Enter Filename to Check:"));
    QCOMPARE(dialog->directory().absolutePath(), dir.path());
    QCOMPARE(dialog->fileMode(), QFileDialog::ExistingFile);
    QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptOpen);
    QCOMPARE(dialog->nameFilters().size(), 1);
    // The list shows the description as written.
    auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
    QVERIFY(types != nullptr);
    QCOMPARE(types->count(), 1);
    QCOMPARE(types->itemText(0), QString("Kalvex Files (*.kxt)"));
    QCOMPARE(types->currentIndex(), 0);
    auto any = modKXCheck::BuildOpenDialog(nullptr, start, "t", kFilter, false);
    QCOMPARE(any->fileMode(), QFileDialog::AnyFile);
  }

  void ShowOpenDialogGivesThePathOrEmptyOnCancel() {
    QTemporaryDir dir;
    QString table = dir.filePath("line4.kxt");
    QFile(table).open(QIODevice::WriteOnly);
    std::string start = dir.path().toStdString() + "/";

    OnNextDialog([table](QFileDialog* d) {
      d->selectFile(table);
      static_cast<QDialog*>(d)->accept();
    });
    QCOMPARE(modKXCheck::ShowOpenDialog(nullptr, start, "t", kFilter, true),
             table.toStdString());

    OnNextDialog([](QFileDialog* d) { d->reject(); });
    QCOMPARE(modKXCheck::ShowOpenDialog(nullptr, start, "t", kFilter, true),
             std::string());

    // A name that does not exist is refused with a message; the dialog
    // stays open.
    bool stayed_open = false;
    bool told = false;
    OnNextDialog([&stayed_open, &told, &dir](QFileDialog* d) {
      d->selectFile(dir.filePath("missing.kxt"));
      QTimer::singleShot(0, [&told] {
        auto* box =
            qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        told = box != nullptr;
        if (box) box->accept();
      });
      static_cast<QDialog*>(d)->accept();
      stayed_open = d->isVisible();
      d->reject();
    });
    QCOMPARE(modKXCheck::ShowOpenDialog(nullptr, start, "t", kFilter, true),
             std::string());
    QVERIFY(told);
    QVERIFY(stayed_open);
  }

  void BrowseAsksTheDialogAndTakesItsAnswer_data() {
    QTest::addColumn<QString>("answer");
    QTest::newRow("chosen") << "/data/line4.kxt";
    QTest::newRow("cancelled") << "";
  }
  void BrowseAsksTheDialogAndTakesItsAnswer() {
    QFETCH(QString, answer);
    frmKXCheck w;
    kxtest::Calls calls;
    kxtest::UseDoubles(w, calls);
    kxtest::Prime(w);
    calls.dialog_result = answer.toStdString();
    QTest::mouseClick(w.cmdBrowse, Qt::LeftButton);
    QCOMPARE(calls.dialogs.size(), size_t(1));
    const auto& d = calls.dialogs[0];
    QCOMPARE(d.owner, &w);
    QCOMPARE(d.initial_dir,
             QCoreApplication::applicationDirPath().toStdString() + "/");
    QCOMPARE(d.title, std::string("Enter Filename to Check:"));
    QCOMPARE(d.filter, kFilter);
    QVERIFY(d.must_exist);
    QCOMPARE(w.txtFilename->text(), answer);
    QVERIFY(w.txtResults->toPlainText().isEmpty());
    QCOMPARE(w.Host().ResultsLength(), 0);
    QVERIFY(!w.cmdRepair->isEnabled());
    QVERIFY(calls.warnings.empty());
  }

  void CheckAfterCancelledBrowseDoesNothing() {
    frmKXCheck w;
    kxtest::Calls calls;
    kxtest::UseDoubles(w, calls);
    w.Host().ShowProgress("7 / 7");
    QTest::mouseClick(w.cmdBrowse, Qt::LeftButton);
    QTest::mouseClick(w.cmdCheck, Qt::LeftButton);
    QVERIFY(calls.warnings.empty());
    QVERIFY(w.txtResults->toPlainText().isEmpty());
    QCOMPARE(w.lblRecords->text(), QString("7 / 7"));
    QVERIFY(!w.cmdRepair->isEnabled());
    QVERIFY(w.cmdCheck->isEnabled());
  }

  void Drop_data() {
    QTest::addColumn<QList<QUrl>>("urls");
    QTest::addColumn<QString>("taken");  // "" refused, "-" nothing at all
    auto file = [](const char* p) { return QUrl::fromLocalFile(p); };
    QTest::newRow("lower case")
        << QList<QUrl>{file("/data/line4.kxt")} << "/data/line4.kxt";
    QTest::newRow("mixed case")
        << QList<QUrl>{file("/data/LINE4.KxT")} << "/data/LINE4.KxT";
    QTest::newRow(".kxt.bak") << QList<QUrl>{file("/data/line4.kxt.bak")} << "";
    QTest::newRow(".kxd") << QList<QUrl>{file("/data/line4.kxd")} << "";
    QTest::newRow("no extension") << QList<QUrl>{file("/data/kxt")} << "";
    QTest::newRow("several, first not a table")
        << QList<QUrl>{file("/data/a.kxd"), file("/data/b.kxt")} << "";
    QTest::newRow("several, first a table")
        << QList<QUrl>{file("/data/a.kxt"), file("/data/b.kxd"),
                       file("/data/c.kxt")}
        << "/data/a.kxt";
    QTest::newRow("shorter than four") << QList<QUrl>{file("/kx")} << "";
    QTest::newRow("just the extension")
        << QList<QUrl>{file("/.kxt")} << "/.kxt";
    QTest::newRow("non-local URLs are not paths")
        << QList<QUrl>{QUrl("https://example.org/a.kxt"), file("/data/b.kxd")}
        << "";
    QTest::newRow("only non-local URLs")
        << QList<QUrl>{QUrl("https://example.org/a.kxt")} << "-";
    QTest::newRow("empty list") << QList<QUrl>{} << "-";
  }
  void Drop() {
    QFETCH(QList<QUrl>, urls);
    QFETCH(QString, taken);
    frmKXCheck w;
    kxtest::Calls calls;
    kxtest::UseDoubles(w, calls);
    kxtest::Prime(w);
    w.txtFilename_OLEDragDrop(*kxtest::UrlData(urls));
    kxtest::ExpectChoice(w, calls, taken == "-" ? "" : taken,
                         taken.isEmpty() ? "Invalid Filetype!" : "");
  }

  void DroppedFolderEndingInKxtIsTaken() {
    QTemporaryDir dir;
    QString folder = dir.filePath("archive.kxt");
    QVERIFY(QDir().mkdir(folder));
    frmKXCheck w;
    kxtest::Calls calls;
    kxtest::UseDoubles(w, calls);
    auto data = kxtest::FileData({folder});
    w.txtFilename_OLEDragDrop(*data);
    QCOMPARE(w.txtFilename->text(), folder);
    QVERIFY(calls.warnings.empty());
  }

  // Through the window system's drag and drop events: files are offered to
  // the handler and nothing is inserted into the box by the box itself.
  void DropEventsReachTheHandlerOnly() {
    frmKXCheck w;
    kxtest::Calls calls;
    kxtest::UseDoubles(w, calls);
    w.show();
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/data/line4.kxt")});
    files.setText("typed text");
    QPoint at(10, 5);
    QDragEnterEvent enter(at, Qt::CopyAction, &files, Qt::LeftButton,
                          Qt::NoModifier);
    QCoreApplication::sendEvent(w.txtFilename, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.txtFilename, &drop);
    QCOMPARE(w.txtFilename->text(), QString("/data/line4.kxt"));

    QMimeData text;
    text.setText("/data/other.kxt");
    QDragEnterEvent enter_text(at, Qt::CopyAction, &text, Qt::LeftButton,
                               Qt::NoModifier);
    QCoreApplication::sendEvent(w.txtFilename, &enter_text);
    QVERIFY(!enter_text.isAccepted());
    QDropEvent drop_text(at, Qt::CopyAction, &text, Qt::LeftButton,
                         Qt::NoModifier);
    QCoreApplication::sendEvent(w.txtFilename, &drop_text);
    QCOMPARE(w.txtFilename->text(), QString("/data/line4.kxt"));
    QVERIFY(calls.warnings.empty());
  }
};

KX_UI_TEST_MAIN(FileSelectionTest)
#include "file_selection_test.moc"
