// The program's command line: a path named there is taken as if dropped on
// the file-name box, --help and --version work without a display, and
// anything else without one is a one-line error.
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include "tests/ui/support/ui_support.h"
#include "ui/frm_kxcheck.h"

class CommandLineTest : public QObject {
  Q_OBJECT

 private slots:
  void PathIsTakenAsIfDropped_data() {
    QTest::addColumn<QString>("argument");
    QTest::addColumn<QString>("taken");  // "" when refused
    const QString cwd = QDir::currentPath();
    QTest::newRow("absolute .kxt") << "/data/line4.kxt"
                                   << "/data/line4.kxt";
    QTest::newRow("any case") << "/data/LINE4.KxT"
                              << "/data/LINE4.KxT";
    QTest::newRow("relative, from the current directory")
        << "line4.kxt" << cwd + "/line4.kxt";
    QTest::newRow("companion file") << "/data/line4.kxd"
                                    << "";
    QTest::newRow("longer extension") << "/data/line4.kxt.bak"
                                      << "";
  }
  void PathIsTakenAsIfDropped() {
    QFETCH(QString, argument);
    QFETCH(QString, taken);
    frmKXCheck w;
    kxtest::Calls calls;
    kxtest::UseDoubles(w, calls);
    w.Host().AddResult("before");
    w.cmdRepair->setEnabled(true);
    w.OpenFromCommandLine(argument);
    if (taken.isEmpty()) {
      QCOMPARE(calls.warnings.size(), size_t(1));
      QCOMPARE(calls.warnings[0].second, QString("Invalid Filetype!"));
      QVERIFY(w.txtFilename->text().isEmpty());
      QCOMPARE(w.txtResults->toPlainText(), QString("before\n"));
      QVERIFY(w.cmdRepair->isEnabled());
    } else {
      QVERIFY(calls.warnings.empty());
      QCOMPARE(w.txtFilename->text(), taken);
      QVERIFY(w.txtResults->toPlainText().isEmpty());
      QVERIFY(!w.cmdRepair->isEnabled());
    }
  }

  void HelpAndVersionNeedNoDisplay_data() {
    QTest::addColumn<QString>("option");
    QTest::addColumn<QString>("first_line");  // its end
    QTest::newRow("--help") << "--help"
                            << "KXCheck [options] [PATH]";
    QTest::newRow("--version") << "--version"
                               << "KXCheck " KX_VERSION;
  }
  void HelpAndVersionNeedNoDisplay() {
    QFETCH(QString, option);
    QFETCH(QString, first_line);
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
      env.remove(name);
    }
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(QFileInfo(KXCHECK_PATH).absolutePath());
    program.start("./KXCheck", {option});
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 0);
    QString out = QString::fromUtf8(program.readAllStandardOutput());
    QVERIFY2(out.section('\n', 0, 0).endsWith(first_line), qPrintable(out));
  }

  // Without a display any other command line says so in one line and
  // exits with 1, rather than aborting.
  void NoDisplayIsOneLine_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("display");  // "" unsets DISPLAY
    QTest::newRow("a table") << QStringList{"s.kxt"} << "";
    QTest::newRow("--check") << QStringList{"--check", "s.kxt"} << "";
    QTest::newRow("an unknown option") << QStringList{"--bogus"} << "";
    QTest::newRow("a display nobody serves") << QStringList{"s.kxt"} << ":9127";
  }
  void NoDisplayIsOneLine() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, display);
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
      env.remove(name);
    }
    if (!display.isEmpty()) env.insert("DISPLAY", display);
    program.setProcessEnvironment(env);
    program.start(KXCHECK_PATH, arguments);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), 1);
    QCOMPARE(program.readAllStandardOutput(), QByteArray());
    const QString err = QString::fromUtf8(program.readAllStandardError());
    QVERIFY2(err.startsWith("KXCheck: cannot open a display: "),
             qPrintable(err));
    QCOMPARE(err.count('\n'), 1);
    QVERIFY2(err.endsWith(display.isEmpty()
                              ? QString("neither DISPLAY nor WAYLAND_DISPLAY "
                                        "is set\n")
                              : display + "\n"),
             qPrintable(err));
  }
};

KX_UI_TEST_MAIN(CommandLineTest)
#include "command_line_test.moc"
