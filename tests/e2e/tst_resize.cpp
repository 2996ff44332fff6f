#include "support/Probe.h"
#include "support/Processes.h"
#include "support/TestEnvironment.h"
#include "support/Xvfb.h"

// The screen changes size under the headless recorder (xrandr on Xvnc, as a monitor's mode would change):
// clips come at the screen's new size, neither scaled up from a smaller screen nor squeezed from a larger.
class ResizeTest : public QObject {
    Q_OBJECT
    Xvfb m_x;

private slots:
    void initTestCase() {
        QVERIFY2(m_x.startResizable(QSize(1280, 800)), "Xvnc did not start");
        QVERIFY(m_x.startClock());
    }

    void clipsFollowTheScreen() {
        Child app;
        app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        app.start(ferrovaneBinary(), {"--headless"});
        QVERIFY(app.waitForStarted());
        QSize current(1280, 800);
        for (const QSize size : {current, QSize(1920, 1080), QSize(1280, 800)}) {
            const QString mode = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
            if (size != current)
                QCOMPARE(QProcess::execute("xrandr", {"--output", "VNC-0", "--mode", mode}), 0);
            current = size;
            QTest::qWait(2500); // a moment of recording at this size
            const QString clip = saveNow(app, 15000);
            QCOMPARE(Probe::videoSize(clip), size);
            QCOMPARE(Probe::decodeErrors(clip), QString());
        }
        app.terminate();
        QVERIFY(app.waitForFinished(10000));
        QCOMPARE(app.exitCode(), 0);
    }
};

FERROVANE_TEST_MAIN(ResizeTest)
#include "tst_resize.moc"
