#include "app/CommandLine.h"
#include "support/Processes.h"
#include "support/TestEnvironment.h"

#include <QProcess>
#include <QRegularExpression>

// The command line as Linux tools take theirs, parsed and as the built program answers it.
class TestCommandLine : public QObject {
    Q_OBJECT
private slots:
    // The manual lists exactly the options --help lists.
    void manualListsEveryOption() {
        const QString manual = QString::fromUtf8(readFile(QStringLiteral(FERROVANE_MANUAL)));
        QStringList documented;
        for (const auto& match :
             QRegularExpression(R"(^\.TP\n\.BR? (\\-.*)$)", QRegularExpression::MultilineOption)
                 .globalMatch(manual.section(".SH OPTIONS", 1).section(".SH ", 0, 0)))
            documented << match.captured(1)
                              .remove(QLatin1Char('\\'))
                              .remove(QLatin1Char('"'))
                              .simplified()
                              .replace(" ,", ",");
        QStringList listed;
        for (const CommandLine::Option& option : CommandLine::options())
            listed << option.names;
        QCOMPARE(documented, listed);
        for (const QString& line : CommandLine::usage().split('\n'))
            QVERIFY2(line.size() <= 100, qPrintable(line));
    }

    // What the built program says and returns, with no display at all: nothing that needs none creates
    // the graphical application (which would abort with a core dump). A success speaks on stdout, anything
    // else on stderr.
    void withoutADisplay_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("said");
        const auto refused = [](const QString& why) {
            return "ferrovane: " + why + "\nTry 'ferrovane --help' for more information.\n";
        };
        QTest::newRow("version") << QStringList{"--version"} << 0 << "ferrovane 0.1.0\n";
        QTest::newRow("help") << QStringList{"--help"} << 0 << CommandLine::usage();
        QTest::newRow("help wins") << QStringList{"--save", "-h"} << 0 << CommandLine::usage();
        QTest::newRow("unknown option") << QStringList{"--bogus"} << 2 << refused("unknown option '--bogus'");
        QTest::newRow("stray argument")
            << QStringList{"--save", "clip.mp4"} << 2 << refused("unexpected argument 'clip.mp4'");
        QTest::newRow("two actions") << QStringList{"--save", "--quit"} << 2
                                     << refused("--save and --quit cannot be used together");
        QTest::newRow("headless and a control option")
            << QStringList{"--headless", "--status"} << 2
            << refused("--headless and --status cannot be used together");
        QTest::newRow("stats alone") << QStringList{"--stats"} << 2
                                     << refused("--stats goes with --headless");
        QTest::newRow("the application")
            << QStringList() << 1
            << "Ferrovane needs a graphical session: no X11 or Wayland display was found.\n";
        QTest::newRow("a control option") << QStringList{"--status"} << 1 << "Ferrovane is not running.\n";
        QTest::newRow("another control option")
            << QStringList{"--unlocked"} << 1 << "Ferrovane is not running.\n";
        // Environment settings ride along as NAME=value.
        QTest::newRow("an unknown backend forced")
            << QStringList{"--headless", "FERROVANE_PLATFORM=bogus"} << 1
            << "ferrovane: FERROVANE_PLATFORM is \"bogus\"; it must be x11, portal or null.\n";
    }
    void withoutADisplay() {
        QFETCH(QStringList, arguments);
        QFETCH(int, exitCode);
        QFETCH(QString, said);
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            environment.remove(name);
        environment.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
        for (const QString& argument : arguments)
            if (argument.contains('='))
                environment.insert(argument.section('=', 0, 0), argument.section('=', 1));
        program.setProcessEnvironment(environment);
        program.start(ferrovaneBinary(), arguments.filter(QRegularExpression("^[^=]*$")));
        QVERIFY(program.waitForFinished(10000));
        QCOMPARE(program.exitStatus(), QProcess::NormalExit);
        QCOMPARE(program.exitCode(), exitCode);
        const QString out = program.readAllStandardOutput(), err = program.readAllStandardError();
        QCOMPARE(exitCode ? err : out, said);
        QCOMPARE(exitCode ? out : err, QString());
    }
};

FERROVANE_TEST_MAIN(TestCommandLine)
#include "tst_commandline.moc"
