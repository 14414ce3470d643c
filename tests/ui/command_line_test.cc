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
    kxtest::Prime(w);
    w.OpenFromCommandLine(argument);
    kxtest::ExpectChoice(w, calls, taken,
                         taken.isEmpty() ? "Invalid Filetype!" : "");
  }

  // --help and --version work without a display; any other command line
  // says so in one line and exits with 1, rather than aborting.
  void RunsWithoutADisplay_data() {
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("display");  // "" unsets DISPLAY
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("out");  // the end of its first line
    QTest::addColumn<QString>("err");  // the end of its one line
    const QString unset = "neither DISPLAY nor WAYLAND_DISPLAY is set";
    QTest::newRow("--help")
        << QStringList{"--help"} << "" << 0 << "KXCheck [options] [PATH]"
        << "";
    QTest::newRow("--version")
        << QStringList{"--version"} << "" << 0 << "KXCheck " KX_VERSION << "";
    QTest::newRow("a table") << QStringList{"s.kxt"} << "" << 1 << "" << unset;
    QTest::newRow("--check")
        << QStringList{"--check", "s.kxt"} << "" << 1 << "" << unset;
    QTest::newRow("an unknown option")
        << QStringList{"--bogus"} << "" << 1 << "" << unset;
    QTest::newRow("a display nobody serves")
        << QStringList{"s.kxt"} << ":9127" << 1 << ""
        << ":9127";
  }
  void RunsWithoutADisplay() {
    QFETCH(QStringList, arguments);
    QFETCH(QString, display);
    QFETCH(int, code);
    QFETCH(QString, out);
    QFETCH(QString, err);
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
      env.remove(name);
    }
    if (!display.isEmpty()) env.insert("DISPLAY", display);
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(QFileInfo(KXCHECK_PATH).absolutePath());
    program.start("./KXCheck", arguments);
    QVERIFY(program.waitForFinished(30000));
    QCOMPARE(program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(program.exitCode(), code);
    const QString output = QString::fromUtf8(program.readAllStandardOutput());
    QVERIFY2(out.isEmpty() ? output.isEmpty()
                           : output.section('\n', 0, 0).endsWith(out),
             qPrintable(output));
    if (code == 0) return;
    const QString error = QString::fromUtf8(program.readAllStandardError());
    QVERIFY2(error.startsWith("KXCheck: cannot open a display: ") &&
                 error.endsWith(err + "\n") && error.count('\n') == 1,
             qPrintable(error));
  }
};

KX_UI_TEST_MAIN(CommandLineTest)
#include "command_line_test.moc"
