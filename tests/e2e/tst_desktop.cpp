#include "support/Probe.h"
#include "support/Processes.h"
#include "support/TestEnvironment.h"
#include "support/Xvfb.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QPoint>
#include <QRegularExpression>
#include <QSettings>

#include <csignal>

// The built application on a private X server and session bus, with a stand-in screen saver, driven from
// outside only: keys through xdotool, commands through a second `ferrovane`, files on disk.
class DesktopTest : public QObject {
    Q_OBJECT

    Xvfb m_x;
    Child m_daemon, m_saver;
    QDBusConnection m_bus{QString()};
    QString m_binary;
    std::vector<std::unique_ptr<Child>> m_apps;

    static bool exitedCleanly(const QProcess& app) {
        return app.exitStatus() == QProcess::NormalExit && app.exitCode() == 0;
    }
    static QStringList buffers() { return QDir(bufferRoot()).entryList(QDir::Dirs | QDir::NoDotAndDotDot); }
    static QDir clips() { return QDir(QDir::home().filePath("Videos/Ferrovane")); }
    static QStringList clipNames() { return clips().entryList({"replay-*.mp4"}, QDir::Files); }

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

    // Starts the bus and the screen saver every child talks to.
    void startSession() {
        const QString address = startBus(m_daemon);
        QVERIFY2(!address.isEmpty(), "dbus-daemon did not start");
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toLatin1());
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toLatin1());
        m_bus = QDBusConnection::connectToBus(address, address);
        // Debian's interpreter by path: python3-dbusmock is installed for it, and PATH may lead elsewhere.
        const QString saver = QStringLiteral("org.freedesktop.ScreenSaver");
        m_saver.start("/usr/bin/python3",
                      {"-m", "dbusmock", "--session", saver, "/org/freedesktop/ScreenSaver", saver});
        QTRY_VERIFY2_WITH_TIMEOUT(m_bus.interface()->isServiceRegistered(saver),
                                  "python3-dbusmock did not start", 15000);
    }
    Child* launch(const QStringList& arguments = {},
                  QProcess::ProcessChannelMode channels = QProcess::ForwardedChannels) {
        Child* app = m_apps.emplace_back(std::make_unique<Child>()).get();
        app->setProcessChannelMode(channels);
        app->start(m_binary, arguments);
        return app;
    }
    // A command line option, or the screen saver's "lock" and "unlock".
    void act(const QString& action) {
        if (action.startsWith("--")) {
            QCOMPARE(runFerrovane({action}).exitCode, 0);
            return;
        }
        const QString saver = QStringLiteral("org.freedesktop.ScreenSaver");
        QDBusMessage signal = QDBusMessage::createMethodCall(saver, "/org/freedesktop/ScreenSaver",
                                                             "org.freedesktop.DBus.Mock", "EmitSignal");
        signal << saver << "ActiveChanged"
               << "b" << QVariantList{QVariant::fromValue(QDBusVariant(action == "lock"))};
        QCOMPARE(m_bus.call(signal).errorMessage(), QString());
    }

private slots:
    void initTestCase() {
        m_binary = ferrovaneBinary();
        QVERIFY2(QFileInfo(m_binary).isExecutable(), qPrintable(m_binary + " missing (FERROVANE_BIN_DIR)"));
        QVERIFY2(m_x.start(), "Xvfb did not start");
        // Every child sees only the private display and bus; the app chooses X11 itself.
        for (const char* name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "XDG_SESSION_ID"})
            qunsetenv(name);
        startSession();
        QVERIFY2(m_x.startClock(), "xterm did not start");
    }

    void cleanup() {
        runFerrovane({"--quit"});
        for (auto& app : m_apps)
            app->waitForFinished(10000);
        m_apps.clear();
    }

    void savesOnHotKey() {
        launch();
        QVERIFY2(reaches("^phase: live$"), qPrintable(status()));
        QVERIFY2(reaches("^buffered seconds: ([3-9]|\\d\\d)"), qPrintable(status()));
        QProcess::execute("xdotool", {"key", "ctrl+alt+r"});
        QVERIFY2(reaches("^phase: saved$", 30000), qPrintable(status()));

        QCOMPARE(clipNames().size(), 1);
        const QString clip = clips().filePath(clipNames()[0]);
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

    // A pause clears the buffer, a resume starts a new one; every such replacement of the recorder gives
    // back its threads and descriptors.
    void pauses_data() {
        QTest::addColumn<QStringList>("pauseAndResume");
        QTest::addColumn<int>("rounds");
        QTest::newRow("by the user") << QStringList{"--toggle-pause", "--toggle-pause"} << 25;
        QTest::newRow("by the screen lock") << QStringList{"lock", "unlock"} << 1;
    }
    void pauses() {
        QFETCH(QStringList, pauseAndResume);
        QFETCH(int, rounds);
        Child* app = launch();
        QVERIFY2(reaches("^phase: live$"), qPrintable(status()));
        QCOMPARE(buffers().size(), 1);
        QTest::qWait(1000);
        const std::pair<int, int> before = resources(app->processId());
        for (int round = 0; round < rounds; ++round) {
            act(pauseAndResume[0]);
            QVERIFY2(reaches("^phase: paused$"), qPrintable(status()));
            QTRY_COMPARE_WITH_TIMEOUT(buffers(), QStringList(), 10000);
            act(pauseAndResume[1]);
            QVERIFY2(reaches("^phase: live$"), qPrintable(status()));
            QCOMPARE(buffers().size(), 1);
        }
        QTRY_COMPARE_WITH_TIMEOUT(resources(app->processId()), before, 15000);
    }

    void rebuildsOnBufferLength() {
        launch();
        QVERIFY2(reaches("^phase: live$"), qPrintable(status()));
        const QStringList before = buffers();
        QCOMPARE(before.size(), 1);

        QSettings(qEnvironmentVariable("XDG_CONFIG_HOME") + "/Ferrovane/Ferrovane.conf", QSettings::IniFormat)
            .setValue("bufferSeconds", 60);
        QVERIFY2(reaches("^buffer limit: 60$", 10000), qPrintable(status()));
        QVERIFY2(reaches("^phase: live$"), qPrintable(status()));
        QTRY_VERIFY_WITH_TIMEOUT(buffers().size() == 1 && buffers() != before, 10000);
    }

    void runsOnce_data() {
        QTest::addColumn<bool>("secondWaits"); // until the first is live, or starts at the same moment
        QTest::newRow("second launch") << true;
        QTest::newRow("two at once") << false;
    }

    void runsOnce() {
        QFETCH(bool, secondWaits);
        launch();
        if (secondWaits) QVERIFY2(reaches("^phase: live$"), qPrintable(status()));
        launch();

        const auto running = [this] {
            return int(std::count_if(m_apps.begin(), m_apps.end(),
                                     [](const auto& app) { return app->state() != QProcess::NotRunning; }));
        };
        QTRY_COMPARE_WITH_TIMEOUT(running(), 1, 15000);
        QTest::qWait(1000); // a late second instance would show here
        QCOMPARE(running(), 1);
        for (const auto& app : m_apps)
            QVERIFY(app->state() == QProcess::Running || exitedCleanly(*app));
        if (secondWaits) QCOMPARE(m_apps[0]->state(), QProcess::Running);
        QVERIFY2(reaches("^phase: live$"), qPrintable(status()));
        QCOMPARE(buffers().size(), 1);
    }

    // A save with a quit right behind it, as signals (which the kernel may hand over in either order):
    // the quit waits for the save, whose clip is printed.
    void saveThenQuitSignals() {
        const int before = clipNames().size();
        for (int round = 0; round < 20; ++round) {
            Child app;
            app.start(m_binary, {"--headless"});
            QVERIFY(QTest::qWaitFor([] { return recordingStarted(); }, 10000));
            QTest::qWait(300);
            ::kill(pid_t(app.processId()), SIGUSR1);
            ::kill(pid_t(app.processId()), round % 2 ? SIGINT : SIGTERM);
            QVERIFY(app.waitForFinished(20000));
            const QByteArray printed = app.readAllStandardOutput();
            QVERIFY2(app.exitCode() == 0 && QFileInfo(QString::fromLocal8Bit(printed.trimmed())).size() > 0,
                     qPrintable(QStringLiteral("round %1: exit %2, printed '%3'")
                                    .arg(round)
                                    .arg(app.exitCode())
                                    .arg(QString::fromLocal8Bit(printed))));
        }
        QCOMPARE(clipNames().size(), before + 20);
    }

    // --save and --quit at the same moment over the bus: the save's clip is written and its path printed,
    // or --save says why there is none (exit 1). Never a success without a clip.
    void saveAndQuitOverTheBus() {
        int saved = 0;
        for (int round = 0; round < 20; ++round) {
            Child* app = launch();
            QVERIFY2(reaches("^buffered seconds: ([1-9]|\\d\\d)"), qPrintable(status()));
            QProcess save, quit;
            save.start(m_binary, {"--save"});
            quit.start(m_binary, {"--quit"});
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

    // A killed run leaves its buffer to the next one; a quit takes it along.
    void removesBufferOfKilledRunAndAtQuit() {
        Child* killed = launch();
        QVERIFY2(reaches("^phase: live$"), qPrintable(status()));
        const QStringList stale = buffers();
        QCOMPARE(stale.size(), 1);
        killed->kill();
        QVERIFY(killed->waitForFinished(5000));
        QCOMPARE(buffers(), stale);

        Child* app = launch();
        QVERIFY2(reaches("^phase: live$"), qPrintable(status()));
        QCOMPARE(buffers().size(), 1);
        QVERIFY(!buffers().contains(stale[0]));

        QCOMPARE(runFerrovane({"--quit"}).exitCode, 0);
        QVERIFY(app->waitForFinished(10000) && exitedCleanly(*app));
        QVERIFY2(!QFileInfo::exists(bufferRoot()), qPrintable(buffers().join(' ')));
        QCOMPARE(runFerrovane({"--status"}).exitCode, 1); // nothing left to answer
    }

    // Through a real tray host (XEmbed): a click on the icon opens the menu, whose first item saves.
    void savesFromTrayMenu() {
        QProcess* trayer = m_x.startClient(
            "trayer", {"--edge", "bottom", "--align", "right", "--widthtype", "pixel", "--width", "200"});
        QVERIFY2(trayer->waitForStarted(), "trayer did not start");
        launch();
        QVERIFY2(reaches("^phase: live$"), qPrintable(status()));
        // The icon is the small Ferrovane window the host embedded; the panel is the large one.
        const QRegularExpression window(
            R"re("Ferrovane": \("ferrovane" "Ferrovane"\)\s+(\d+)x(\d+)\S*\s+\+(\d+)\+(\d+))re");
        QPoint icon;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QProcess tree;
                tree.start("xwininfo", {"-root", "-tree"});
                tree.waitForFinished(5000);
                for (const auto& m : window.globalMatch(QString::fromLatin1(tree.readAllStandardOutput()))) {
                    if (m.captured(1).toInt() <= 64)
                        icon = QPoint(m.captured(3).toInt() + m.captured(1).toInt() / 2,
                                      m.captured(4).toInt() + m.captured(2).toInt() / 2);
                }
                return !icon.isNull();
            }(),
            10000);
        QProcess::execute("xdotool",
                          {"mousemove", QString::number(icon.x()), QString::number(icon.y()), "click", "1"});
        QTest::qWait(500);
        QProcess::execute("xdotool", {"key", "Down", "Return"}); // the first item: "Save Last 30 Seconds"
        QVERIFY2(reaches("^phase: saved$", 30000), qPrintable(status()));
        trayer->kill();
    }

    // The session bus restarts under a running instance: a second launch can no longer reach it, and must
    // not become a second recorder.
    void secondLaunchAfterTheBusRestarts() {
        Child* first = launch();
        QVERIFY2(reaches("^phase: live$"), qPrintable(status()));
        m_saver.kill();
        m_daemon.kill();
        QVERIFY(m_saver.waitForFinished(5000) && m_daemon.waitForFinished(5000));
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
        Child* headless = m_apps.emplace_back(std::make_unique<Child>()).get();
        headless->start(m_binary, {"--headless"});
        QTRY_COMPARE_WITH_TIMEOUT(buffers().size(), 2, 10000);

        const QStringList before = clipNames();
        ::kill(pid_t(app->processId()), SIGUSR1);
        m_x.kill();
        QVERIFY(app->waitForFinished(15000));
        QCOMPARE(app->exitStatus(), QProcess::NormalExit);
        const QStringList after = clipNames();
        QCOMPARE(after.size(), before.size() + 1);
        const QString clip = clips().filePath(*std::find_if(
            after.begin(), after.end(), [&](const QString& name) { return !before.contains(name); }));
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
