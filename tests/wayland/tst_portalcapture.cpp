#include "support/Probe.h"
#include "support/Processes.h"
#include "support/TestEnvironment.h"
#include "support/Xvfb.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>

namespace {

// Under the test's own XDG_CONFIG_HOME, known only once the test environment is set.
QString tokenFile() {
    return qEnvironmentVariable("XDG_CONFIG_HOME") + "/Ferrovane/screencast-restore-token";
}

} // namespace

// Recording a Wayland session's screen as the desktop would hand it out: a private session bus, a real
// PipeWire daemon with WirePlumber and a test pattern as the shared monitor, and a stand-in portal
// (ScreenCast, GlobalShortcuts) that gives the application its PipeWire remote. The application mostly runs
// headless, so its whole controller (restarts, failures) answers through stdout, stderr and its exit
// status; where the panel matters it runs whole, its panel on a private X server.
class PortalCaptureTest : public QObject {
    Q_OBJECT
    Child m_bus, m_rig;
    Xvfb m_x;
    QDBusConnection m_control{QString()};

    // The whole application, recording through the portal.
    static void launchDesktop(Child& app) {
        app.setProcessChannelMode(QProcess::ForwardedChannels);
        launchOnPortal(app, {});
    }
    // Ends it as its user would: the whole application with --quit, a headless one with a signal.
    static void quit(Child& app) {
        QVERIFY2(app.state() == QProcess::Running,
                 qPrintable(QStringLiteral("exited early with %1: %2")
                                .arg(app.exitCode())
                                .arg(QString::fromLocal8Bit(app.readAllStandardError()))));
        if (app.processChannelMode() == QProcess::ForwardedChannels)
            QCOMPARE(runFerrovane({"--quit"}).exitCode, 0);
        else
            app.terminate();
        QVERIFY(app.waitForFinished(20000));
        QCOMPARE(app.exitCode(), 0);
    }

    // The stand-in portal's own interface: what it was asked, and how it answers next.
    QDBusMessage portal(const QString& method, const QVariantList& arguments = {}) {
        QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.portal.Desktop",
                                                           "/org/freedesktop/portal/desktop",
                                                           "io.github.ferrovane.TestPortal", method);
        call.setArguments(arguments);
        return m_control.call(call);
    }
    QJsonArray calls(const QString& method) {
        QJsonArray matching;
        for (const QJsonValue call :
             QJsonDocument::fromJson(portal("Calls").arguments().value(0).toString().toUtf8()).array())
            if (call["method"].toString() == method) matching.append(call);
        return matching;
    }
    void control(const QString& method, const QVariantList& arguments = {}) {
        QCOMPARE(portal(method, arguments).errorMessage(), QString());
    }

private slots:
    void initTestCase() {
        const QString address = startBus(m_bus);
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toLatin1());
        m_control = QDBusConnection::connectToBus(address, "control");
        m_rig.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_rig.start(QStringLiteral(FERROVANE_RIG), {});
        QTRY_VERIFY_WITH_TIMEOUT(m_rig.canReadLine(), 60000);
        const QString ready = QString::fromLatin1(m_rig.readLine());
        QVERIFY2(ready.startsWith("ready node="), qPrintable(ready));
        QVERIFY2(m_x.start(), "Xvfb did not start");
        qunsetenv("QT_QPA_PLATFORM");
    }

    // Shared once, then remembered: the first start asks with the cursor drawn in and the share kept, the
    // picture rolls into segments and saves as an exact clip, the second start brings the token. Then the
    // user stops sharing from the desktop: the stream ends, the answer is forgotten, and the restart asks
    // again; turned down, recording stops with the reason.
    void recordsSavesRemembersAndForgets() {
        Child app;
        launchOnPortal(app);
        QTRY_VERIFY_WITH_TIMEOUT(recordingStarted(), 20000);
        QTest::qWait(6500); // past the first five-second segment
        const QString clip = saveNow(app);
        QVERIFY2(QFile::exists(clip), qPrintable(clip + QString::fromLocal8Bit(app.readAllStandardError())));
        QCOMPARE(Probe::videoSize(clip), QSize(640, 360));
        QVERIFY2(Probe::duration(clip) > 6.0, qPrintable(QString::number(Probe::duration(clip))));
        QCOMPARE(Probe::decodeErrors(clip), QString());
        quit(app);

        const QJsonObject asked = calls("SelectSources").last()["options"].toObject();
        QCOMPARE(asked["cursor_mode"].toInt(), 2);
        QCOMPARE(asked["persist_mode"].toInt(), 2);
        QVERIFY(!asked.contains("restore_token"));
        const QString kept = QString::fromLatin1(readFile(tokenFile()));
        QCOMPARE(kept, calls("Start.Response").last()["results"]["restore_token"].toString());

        Child again;
        launchOnPortal(again);
        QTRY_COMPARE_WITH_TIMEOUT(calls("SelectSources").size(), 2, 20000);
        QCOMPARE(calls("SelectSources").last()["options"]["restore_token"].toString(), kept);
        QTRY_COMPARE_WITH_TIMEOUT(calls("Start.Response").size(), 2, 10000);
        QCOMPARE(calls("Start.Response").last()["restored"].toInt(), 1); // the desktop asked nobody
        QTRY_VERIFY_WITH_TIMEOUT(recordingStarted(), 20000);

        control("SetStartResponse", {1u});
        control("CloseSessions");
        QVERIFY(again.waitForFinished(20000));
        control("SetStartResponse", {0u});
        QCOMPARE(again.exitCode(), 1);
        QCOMPARE(QString::fromLocal8Bit(again.readAllStandardError()).trimmed().split('\n').last(),
                 "ferrovane: Allow Ferrovane to record the screen, then try "
                 "again. (Screen sharing was not allowed (Start).)");
        QCOMPARE(calls("SelectSources").size(), 3);
        QVERIFY(!calls("SelectSources").last()["options"].toObject().contains("restore_token"));
        QVERIFY(!QFile::exists(tokenFile()));
    }

    // Quit while the desktop's dialog is still open: the start finishes only as the application ends, and
    // its recorder must still go quietly.
    void quitWhileAsking() {
        Child app;
        const int starts = calls("Start").size();
        control("SetResponseDelay", {1500u});
        launchOnPortal(app);
        QTRY_COMPARE_WITH_TIMEOUT(calls("Start").size(), starts + 1, 20000);
        quit(app);
        control("SetResponseDelay", {0u});
        QTRY_VERIFY(!QFileInfo::exists(bufferRoot()));
    }

    // A start the desktop never answers: pausing, or a screen lock, calls it off (the request and the
    // session close, so its dialog goes away), and resuming asks again. Meanwhile the desktop asks the user
    // to confirm the shortcut, and nobody does: no thread waits for that answer, so saves go on as ever.
    void leaveAStartNeverAnswered_data() {
        QTest::addColumn<QStringList>("leaveAndResume");
        QTest::newRow("pause") << QStringList{"--toggle-pause", "--toggle-pause"};
        QTest::newRow("screen lock") << QStringList{"--locked", "--unlocked"};
    }
    void leaveAStartNeverAnswered() {
        QFETCH(QStringList, leaveAndResume);
        const int starts = calls("Start").size(), binds = calls("BindShortcuts").size();
        const int requestsClosed = calls("Request.Close").size();
        const int sessionsClosed = calls("Session.Close").size();
        control("SetHoldStart", {true});
        control("SetBindShortcuts", {false});
        Child app;
        launchDesktop(app);
        QTRY_COMPARE_WITH_TIMEOUT(calls("Start").size(), starts + 1, 20000);
        QVERIFY2(reaches("^phase: starting$"), qPrintable(status()));
        QCOMPARE(runFerrovane({leaveAndResume[0]}).exitCode, 0);
        QVERIFY2(reaches("^phase: paused$"), qPrintable(status()));
        QTRY_COMPARE(calls("Request.Close").size(), requestsClosed + 1);
        QTRY_COMPARE(calls("Session.Close").size(), sessionsClosed + 1);
        QTRY_VERIFY(!QFileInfo::exists(bufferRoot()));
        control("SetHoldStart", {false});
        QCOMPARE(runFerrovane({leaveAndResume[1]}).exitCode, 0);
        QVERIFY2(reaches("^buffered seconds: ([2-9]|\\d\\d)"), qPrintable(status()));
        QTRY_COMPARE(calls("BindShortcuts").size(), binds + 1);
        const Outcome saved = runFerrovane({"--save"}, 15000);
        QCOMPARE(saved.exitCode, 0);
        QVERIFY2(QFileInfo(saved.out.trimmed()).size() > 0, qPrintable(saved.out + saved.err));
        quit(app);
        control("SetBindShortcuts", {true});
    }

    // The share dialog turned down: the failed card's "Open Privacy Settings" (kept open for 8 s) forgets the
    // stored answer and asks again with a fresh recorder, as Retry does without forgetting.
    void askAgainAfterADenial() {
        control("SetStartResponse", {1u});
        Child app;
        launchDesktop(app);
        QVERIFY2(reaches("^phase: failed$"), qPrintable(status()));
        control("SetStartResponse", {0u});
        QProcess::execute("xdotool", {"mousemove", "1040", "100", "click", "1"});
        QVERIFY2(reaches("^phase: live$"), qPrintable(status()));
        quit(app);
    }

    // Last: the shared monitor disappears. The restart finds nothing to share and recording stops with
    // the desktop's reason, leaving no buffer behind.
    void producerGoesAway() {
        Child app;
        launchOnPortal(app);
        QTRY_VERIFY_WITH_TIMEOUT(recordingStarted(), 20000);
        ::kill(pid_t(m_rig.processId()), SIGUSR1);
        QVERIFY(app.waitForFinished(30000));
        QCOMPARE(app.exitCode(), 1);
        QCOMPARE(QString::fromLocal8Bit(app.readAllStandardError()).trimmed().split('\n').last(),
                 "ferrovane: The desktop could not share the screen (Start failed).");
        QVERIFY(!QFileInfo::exists(bufferRoot()));
    }
};

FERROVANE_TEST_MAIN(PortalCaptureTest)
#include "tst_portalcapture.moc"
