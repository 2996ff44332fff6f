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
    Child* launch() {
        Child* app = m_apps.emplace_back(std::make_unique<Child>()).get();
        app->setProcessChannelMode(QProcess::ForwardedChannels);
        app->start(m_binary, QStringList());
        return app;
    }

    std::pair<int, QString> run(const QString& option) {
        const Outcome outcome = runFerrovane({option});
        return {outcome.exitCode, outcome.out + outcome.err};
    }

    void act(const QString& action) {
        if (action.startsWith("--")) {
            QCOMPARE(run(action).first, 0);
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
        const QString address = startBus(m_daemon);
        QVERIFY2(!address.isEmpty(), "dbus-daemon did not start");
        // Every child sees only the private display and bus; the app chooses X11 itself.
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toLatin1());
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toLatin1());
        for (const char* name : {"QT_QPA_PLATFORM", "WAYLAND_DISPLAY", "XDG_SESSION_ID"})
            qunsetenv(name);
        m_bus = QDBusConnection::connectToBus(address, QStringLiteral("e2e"));
        // Debian's interpreter by path: python3-dbusmock is installed for it, and PATH may lead elsewhere.
        const QString saver = QStringLiteral("org.freedesktop.ScreenSaver");
        m_saver.start("/usr/bin/python3",
                      {"-m", "dbusmock", "--session", saver, "/org/freedesktop/ScreenSaver", saver});
        QTRY_VERIFY2_WITH_TIMEOUT(m_bus.interface()->isServiceRegistered(saver),
                                  "python3-dbusmock did not start", 15000);
        QProcess* clock = m_x.startClient("xterm", {"-fn", "fixed", "-geometry", "100x30+0+0", "-e", "sh",
                                                    "-c", "while :; do date +%T.%N; sleep 0.05; done"});
        QVERIFY2(clock->state() == QProcess::Running, "xterm did not start");
    }

    void cleanup() {
        run(QStringLiteral("--quit"));
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

        const QDir folder(QDir::home().filePath("Movies/Ferrovane"));
        const QStringList clips = folder.entryList({"replay-*.mp4"}, QDir::Files);
        QCOMPARE(clips.size(), 1);
        const QString clip = folder.filePath(clips[0]);
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

    void pauses_data() {
        QTest::addColumn<QStringList>("pauseAndResume");
        QTest::newRow("by the user") << QStringList{"--toggle-pause", "--toggle-pause"};
        QTest::newRow("by the screen lock") << QStringList{"lock", "unlock"};
    }

    void pauses() {
        QFETCH(QStringList, pauseAndResume);
        launch();
        QVERIFY2(reaches("^phase: live$"), qPrintable(status()));
        QCOMPARE(buffers().size(), 1);

        act(pauseAndResume[0]);
        QVERIFY2(reaches("^phase: paused$"), qPrintable(status()));
        QTRY_COMPARE_WITH_TIMEOUT(buffers(), QStringList(), 10000);
        act(pauseAndResume[1]);
        QVERIFY2(reaches("^phase: live$"), qPrintable(status()));
        QCOMPARE(buffers().size(), 1);
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

        QCOMPARE(run("--quit").first, 0);
        QVERIFY(app->waitForFinished(10000) && exitedCleanly(*app));
        QVERIFY2(!QFileInfo::exists(bufferRoot()), qPrintable(buffers().join(' ')));
        QCOMPARE(run("--status").first, 1); // nothing left to answer
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

    // Last: it takes the X server down. The panel goes with its X connection (Qt's xcb plugin exits at
    // once), so only the headless application can show the controller's way through: the restart after
    // 2 s cannot open the display, and the failure ends it with the reason. Neither leaves its buffer.
    void survivesXServerLoss() {
        Child* app = launch();
        QVERIFY2(reaches("^phase: live$"), qPrintable(status()));
        Child* headless = m_apps.emplace_back(std::make_unique<Child>()).get();
        headless->start(m_binary, {"--headless"});
        QTRY_COMPARE_WITH_TIMEOUT(buffers().size(), 2, 10000);

        m_x.kill();
        QVERIFY(app->waitForFinished(5000));
        QCOMPARE(app->exitStatus(), QProcess::NormalExit);
        QVERIFY(headless->waitForFinished(10000));
        QCOMPARE(headless->exitStatus(), QProcess::NormalExit);
        QCOMPARE(headless->exitCode(), 1);
        const QString reason = QString::fromLocal8Bit(headless->readAllStandardError());
        QVERIFY2(reason.contains("X display"), qPrintable(reason));
        QCOMPARE(buffers(), QStringList());
    }
};

FERROVANE_TEST_MAIN(DesktopTest)
#include "tst_desktop.moc"
