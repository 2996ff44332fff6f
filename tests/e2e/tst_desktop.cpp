#include "support/Probe.h"
#include "support/Processes.h"
#include "support/TestEnvironment.h"
#include "support/Xvfb.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QPoint>
#include <QRegularExpression>
#include <QSettings>

#include <csignal>

// The built application on a private X server and session bus, with a tray host, driven from
// outside only: keys through xdotool, commands through a second `ferrovane`, files on disk.
class DesktopTest : public QObject {
    Q_OBJECT

    Xvfb m_x;
    Child m_daemon;
    QDBusConnection m_bus{QString()};
    std::vector<std::unique_ptr<Child>> m_apps;

    static bool exitedCleanly(const QProcess& app) {
        return app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0;
    }
    static QStringList buffers() { return QDir(bufferRoot()).entryList(QDir::Dirs | QDir::NoDotAndDotDot); }
    static QDir clips() { return QDir(QDir::home().filePath("Videos/Ferrovane")); }
    static QStringList clipNames() { return clips().entryList({"replay-*.mp4"}, QDir::Files); }
    // The one clip saved since `before` was listed; empty unless there is exactly one.
    static QString newClip(const QStringList& before) {
        QStringList added = clipNames();
        added.removeIf([&](const QString& name) { return before.contains(name); });
        return added.size() == 1 ? clips().filePath(added[0]) : QString();
    }

    // Threads with a name of their own (the shared pools' come and go) and open descriptors.
    static std::pair<int, int> resources(qint64 pid) {
        const QString proc = QStringLiteral("/proc/%1/").arg(pid);
        int threads = 0;
        for (const QString& task : QDir(proc + "task").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QByteArray name = readFile(proc + "task/" + task + "/comm").trimmed();
            threads += name != "Thread (pooled)" && !name.startsWith("ferrovane.expo");
        }
        return {threads, int(QDir(proc + "fd").entryList(QDir::Files | QDir::System).size())};
    }

    // Starts the bus every child talks to; the screen saver's name on it is the test's own.
    void startSession() {
        const QString address = startBus(m_daemon);
        QVERIFY2(!address.isEmpty(), "dbus-daemon did not start");
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toLatin1());
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toLatin1());
        m_bus = QDBusConnection::connectToBus(address, address);
        QVERIFY(m_bus.registerService("org.freedesktop.ScreenSaver"));
    }
    Child* launch(const QStringList& arguments = {},
                  QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels) {
        Child* app = m_apps.emplace_back(std::make_unique<Child>()).get();
        app->setProcessChannelMode(channels);
        app->start(ferrovaneBinary(), arguments);
        return app;
    }
    // A command line option, a setting written as another program would ("key=value"), or the screen
    // saver's "lock" and "unlock".
    void act(const QString& action) {
        if (action.startsWith("--")) {
            QCOMPARE(runFerrovane({action}).exitCode, 0);
        } else if (action.contains('=')) {
            QSettings(qEnvironmentVariable("XDG_CONFIG_HOME") + "/Ferrovane/Ferrovane.conf",
                      QSettings::IniFormat)
                .setValue(action.section('=', 0, 0), action.section('=', 1));
        } else {
            QVERIFY(m_bus.send(QDBusMessage::createSignal("/org/freedesktop/ScreenSaver",
                                                          "org.freedesktop.ScreenSaver", "ActiveChanged")
                               << (action == "lock")));
        }
    }

private slots:
    void initTestCase() {
        QVERIFY2(m_x.start(), "Xvfb did not start");
        // Every child sees only the private display and bus; the app chooses X11 itself.
        for (const char* name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "XDG_SESSION_ID"})
            qunsetenv(name);
        startSession();
        QVERIFY2(m_x.startClock(), "xterm did not start");
        const QStringList tray{"--edge",      "bottom", "--align", "right",
                               "--widthtype", "pixel",  "--width", "200"};
        QVERIFY2(m_x.startClient("trayer", tray)->state() == QProcess::Running, "trayer did not start");
    }

    void cleanup() {
        runFerrovane({"--quit"});
        for (auto& app : m_apps)
            app->waitForFinished(10000);
        m_apps.clear();
    }

    // A save from the hot key or the tray menu (through a real tray host, XEmbed), then a hand-off from the
    // saved card: frames beside the clip and a prompt naming both on the clipboard.
    void saves_data() {
        QTest::addColumn<bool>("fromTray");
        QTest::newRow("hot key") << false;
        QTest::newRow("tray menu") << true;
    }
    void saves() {
        QFETCH(bool, fromTray);
        const QStringList before = clipNames();
        launch();
        QVERIFY2(reaches("^buffered seconds: ([3-9]|\\d\\d)"), qPrintable(status()));
        if (fromTray) {
            // The icon is the small Ferrovane window the host embedded; the panel is the large one.
            const QRegularExpression window(
                R"re("Ferrovane": \("ferrovane" "Ferrovane"\)\s+(\d+)x(\d+)\S*\s+\+(\d+)\+(\d+))re");
            QPoint icon;
            QTRY_VERIFY_WITH_TIMEOUT(
                [&] {
                    QProcess tree;
                    tree.start("xwininfo", {"-root", "-tree"});
                    tree.waitForFinished(5000);
                    for (const auto& m :
                         window.globalMatch(QString::fromLatin1(tree.readAllStandardOutput())))
                        if (m.captured(1).toInt() <= 64)
                            icon = QPoint(m.captured(3).toInt() + m.captured(1).toInt() / 2,
                                          m.captured(4).toInt() + m.captured(2).toInt() / 2);
                    return !icon.isNull();
                }(),
                10000);
            QProcess::execute(
                "xdotool", {"mousemove", QString::number(icon.x()), QString::number(icon.y()), "click", "1"});
            QTest::qWait(500);
            QProcess::execute("xdotool", {"key", "Down", "Return"}); // the first item: "Save Last 30 Seconds"
        } else {
            QProcess::execute("xdotool", {"key", "ctrl+alt+r"});
        }
        QVERIFY2(reaches("^phase: saved$", 30000), qPrintable(status()));
        const QString clip = newClip(before);
        QVERIFY2(status().contains("\nlast clip: " + clip + "\n"), qPrintable(status()));

        // The saved card stays open for 6 s: "Claude" sits 53 px left of the screen's centre, 104 px down.
        QProcess::execute("xdotool", {"mousemove", "907", "104", "click", "1"});
        QVERIFY2(reaches("^phase: handed off$", 20000), qPrintable(status()));
        const QDir frames(clip.chopped(4) + "-frames");
        QCOMPARE(frames.entryList({"*.png"}, QDir::Files).size(), 6);
        QProcess xclip;
        xclip.start("xclip", {"-o", "-selection", "clipboard"});
        QVERIFY(xclip.waitForFinished(5000));
        const QString prompt = QString::fromUtf8(xclip.readAllStandardOutput());
        QVERIFY2(prompt.startsWith("I captured a screen replay of a problem") &&
                     prompt.contains("\nFull video: " + clip + "\n") && prompt.contains(frames.path()),
                 qPrintable(prompt));
        QVERIFY2(Probe::duration(clip) > 1.0, qPrintable(QString::number(Probe::duration(clip))));
        QCOMPARE(Probe::decodeErrors(clip), QString());
    }

    // Every replacement of the recorder (a pause and resume, by the user or a screen lock that the screen
    // saver or a command tells of, or a new buffer length) starts a new buffer and gives back its threads and
    // descriptors; a pause clears it.
    void replacesTheRecorder_data() {
        QTest::addColumn<QStringList>("steps"); // each action, then the status line it reaches
        QTest::addColumn<int>("rounds");
        QTest::newRow("paused by the user")
            << QStringList{"--toggle-pause", "^phase: paused$", "--toggle-pause", "^phase: live$"} << 25;
        QTest::newRow("paused by the screen lock")
            << QStringList{"lock", "^phase: paused$", "unlock", "^phase: live$"} << 1;
        QTest::newRow("paused for a lock on the command line")
            << QStringList{"--locked", "^phase: paused$", "--unlocked", "^phase: live$"} << 1;
        QTest::newRow("new buffer length") << QStringList{"bufferSeconds=60", "^buffer limit: 60$"} << 1;
    }
    void replacesTheRecorder() {
        QFETCH(QStringList, steps);
        QFETCH(int, rounds);
        Child* app = launch();
        QVERIFY2(reaches("^phase: live$"), qPrintable(status()));
        QTest::qWait(1000);
        const std::pair<int, int> before = resources(app->processId());
        for (int round = 0; round < rounds; ++round) {
            const QStringList old = buffers();
            QCOMPARE(old.size(), 1);
            for (qsizetype i = 0; i < steps.size(); i += 2) {
                act(steps[i]);
                QVERIFY2(reaches(steps[i + 1]), qPrintable(status()));
                if (steps[i + 1].contains("paused"))
                    QTRY_COMPARE_WITH_TIMEOUT(buffers(), QStringList(), 10000);
            }
            QVERIFY2(reaches("^phase: live$"), qPrintable(status()));
            QTRY_VERIFY_WITH_TIMEOUT(buffers().size() == 1 && buffers() != old, 10000);
        }
        QTRY_COMPARE_WITH_TIMEOUT(resources(app->processId()), before, 15000);
    }

    // A killed run leaves its buffer behind. Of two launches at the same moment one records, and removes
    // that buffer; a quit takes its own along.
    void runsOnceAndLeavesNoBuffer() {
        Child* killed = launch();
        QVERIFY2(reaches("^phase: live$"), qPrintable(status()));
        const QStringList stale = buffers();
        QCOMPARE(stale.size(), 1);
        killed->kill();
        QVERIFY(killed->waitForFinished(5000));
        QCOMPARE(buffers(), stale);

        Child* first = launch();
        Child* second = launch();
        const auto running = [&] {
            return int(first->state() != QProcess::NotRunning) + int(second->state() != QProcess::NotRunning);
        };
        QTRY_COMPARE_WITH_TIMEOUT(running(), 1, 15000);
        QTest::qWait(1000); // a late second instance would show here
        QCOMPARE(running(), 1);
        Child* app = first->state() == QProcess::Running ? first : second;
        QVERIFY(exitedCleanly(app == first ? *second : *first));
        QVERIFY2(reaches("^phase: live$"), qPrintable(status()));
        QCOMPARE(buffers().size(), 1);
        QVERIFY(!buffers().contains(stale[0]));

        QCOMPARE(runFerrovane({"--quit"}).exitCode, 0);
        QVERIFY(app->waitForFinished(10000) && exitedCleanly(*app));
        QVERIFY2(!QFileInfo::exists(bufferRoot()), qPrintable(buffers().join(' ')));
        QCOMPARE(runFerrovane({"--status"}).exitCode, 1); // nothing left to answer
    }

    // --save and --quit at the same moment over the bus: the save's clip is written and its path printed,
    // or --save says why there is none (exit 1). Never a success without a clip.
    void saveAndQuitOverTheBus() {
        int saved = 0;
        for (int round = 0; round < 20; ++round) {
            Child* app = launch();
            QVERIFY2(reaches("^buffered seconds: ([1-9]|\\d\\d)"), qPrintable(status()));
            QProcess save, quit;
            save.start(ferrovaneBinary(), {"--save"});
            quit.start(ferrovaneBinary(), {"--quit"});
            QVERIFY(save.waitForFinished(30000) && quit.waitForFinished(30000));
            QVERIFY(app->waitForFinished(20000));
            const QString printed = QString::fromLocal8Bit(save.readAllStandardOutput()).trimmed();
            const QString reason = QString::fromLocal8Bit(save.readAllStandardError()).trimmed();
            if (save.exitCode() == 0) {
                QVERIFY2(QFileInfo(printed).size() > 0, qPrintable(printed));
                ++saved;
            } else {
                QVERIFY2(save.exitCode() == 1 && !reason.isEmpty() && printed.isEmpty(), qPrintable(reason));
            }
            m_apps.clear();
        }
        qInfo("%d of 20 saves came before the quit", saved);
    }

    // The session bus restarts under a running instance: a second launch can no longer reach it, and must
    // not become a second recorder.
    void secondLaunchAfterTheBusRestarts() {
        Child* first = launch();
        QVERIFY2(reaches("^phase: live$"), qPrintable(status()));
        m_daemon.kill();
        QVERIFY(m_daemon.waitForFinished(5000));
        startSession();
        Child* second = launch({}, QProcess::SeparateChannels);
        QVERIFY(second->waitForFinished(20000));
        QCOMPARE(second->exitCode(), 1);
        QCOMPARE(
            QString::fromLocal8Bit(second->readAllStandardError()),
            QStringLiteral("Ferrovane is already running (process %1) but cannot be reached on the session "
                           "bus.\n")
                .arg(first->processId()));
        QCOMPARE(buffers().size(), 1);
        first->terminate();
        QVERIFY(first->waitForFinished(10000) && exitedCleanly(*first));
    }

    // Last: it takes the X server down. The panel goes with its X connection (Qt's xcb plugin exits at
    // once), so only the headless application can show the controller's way through: the restart after
    // 2 s cannot open the display, and the failure ends it with the reason. Neither leaves its buffer.
    // A save asked for just before goes through: the buffer is on disk and the export needs no display.
    void survivesXServerLoss() {
        Child* app = launch();
        QVERIFY2(reaches("^buffered seconds: ([2-9]|\\d\\d)"), qPrintable(status()));
        Child* headless = launch({"--headless"}, QProcess::SeparateChannels);
        QTRY_COMPARE_WITH_TIMEOUT(buffers().size(), 2, 10000);

        const QStringList before = clipNames();
        ::kill(pid_t(app->processId()), SIGUSR1);
        m_x.kill();
        QVERIFY(app->waitForFinished(15000));
        QCOMPARE(app->exitStatus(), QProcess::NormalExit);
        const QString clip = newClip(before);
        QVERIFY2(Probe::duration(clip) > 1.5, qPrintable(QString::number(Probe::duration(clip))));
        QCOMPARE(Probe::decodeErrors(clip), QString());
        const bool ended = headless->waitForFinished(20000);
        const QString reason = QString::fromLocal8Bit(headless->readAllStandardError());
        QVERIFY2(ended, qPrintable(reason));
        QCOMPARE(headless->exitStatus(), QProcess::NormalExit);
        QCOMPARE(headless->exitCode(), 1);
        QVERIFY2(reason.contains("X display"), qPrintable(reason));
        QCOMPARE(buffers(), QStringList());
    }
};

FERROVANE_TEST_MAIN(DesktopTest)
#include "tst_desktop.moc"
