#include "support/Probe.h"
#include "support/Processes.h"
#include "support/TestEnvironment.h"
#include "support/Xvfb.h"

#include <csignal>

// The screen changes size under the headless recorder (xrandr on Xvnc, as a monitor's mode would change):
// clips come at the screen's new size, neither scaled up from a smaller screen nor squeezed from a larger.
class ResizeTest : public QObject {
    Q_OBJECT
    Xvfb m_x;

    // The headless recorder's next saved clip, after a moment of recording.
    static QString save(Child& app) {
        QTest::qWait(2500);
        ::kill(pid_t(app.processId()), SIGUSR1);
        if (!QTest::qWaitFor([&] { return app.canReadLine(); }, 15000)) return QString();
        return QString::fromLocal8Bit(app.readLine()).trimmed();
    }
    static QSize sizeOf(const QString& clip) {
        const QJsonObject stream = Probe::videoStream(clip);
        return QSize(stream["width"].toInt(), stream["height"].toInt());
    }

private slots:
    void initTestCase() {
        QVERIFY2(m_x.startResizable(QSize(1280, 800)), "Xvnc did not start");
        QVERIFY(m_x.startClient("xterm", {"-geometry", "80x24+0+0", "-e", "sh", "-c",
                                          "while :; do date +%T.%N; sleep 0.05; done"}));
    }

    void clipsFollowTheScreen() {
        Child app;
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app.start(ferrovaneBinary(), {"--headless"});
        QVERIFY(app.waitForStarted());
        const QString first = save(app);
        QCOMPARE(sizeOf(first), QSize(1280, 800));
        for (const QSize size : {QSize(1920, 1080), QSize(1280, 800)}) {
            const QString mode = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
            QCOMPARE(QProcess::execute("xrandr", {"--output", "VNC-0", "--mode", mode}), 0);
            const QString clip = save(app);
            QCOMPARE(sizeOf(clip), size);
            QCOMPARE(Probe::decodeErrors(clip), QString());
        }
        app.terminate();
        QVERIFY(app.waitForFinished(10000));
        QCOMPARE(app.exitCode(), 0);
    }
};

FERROVANE_TEST_MAIN(ResizeTest)
#include "tst_resize.moc"
