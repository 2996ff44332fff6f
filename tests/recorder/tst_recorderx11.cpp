#include "platform/PlatformFactory.h"
#include "recorder/BufferRoot.h"
#include "recorder/ReplayRecorder.h"
#include "support/Probe.h"
#include "support/TestEnvironment.h"
#include "support/Xvfb.h"

#include <QFileInfo>

// The recorder on a real X server with the real encoder: what a user's session does, on a small screen.
class TestRecorderX11 : public QObject {
    Q_OBJECT
private:
    Xvfb m_x;
    std::unique_ptr<ReplayRecorder> m_recorder;

private slots:
    // A ticking clock keeps the screen changing.
    void init() {
        QVERIFY(m_x.start(QSize(640, 400)));
        m_x.startClient("xterm", {"-geometry", "80x24+0+0", "-e", "sh", "-c",
                                  "while :; do date +%T.%N; sleep 0.05; done"});
        m_recorder = std::make_unique<ReplayRecorder>(30, 30, 640, createMediaPlatform());
    }
    void cleanup() {
        m_recorder.reset();
        m_x.stop();
        BufferRoot::removeAll();
    }

    void changingScreenRollsSegments() {
        const Status started = m_recorder->startAndWait();
        QVERIFY2(started.ok(), qPrintable(started.ok() ? "" : started.error().message));
        QTRY_VERIFY_WITH_TIMEOUT(m_recorder->snapshot().segments.size() >= 2, 20000);

        const auto state = m_recorder->snapshot();
        QCOMPARE(state.size, QSize(640, 400));
        for (const Segment& segment : state.segments) {
            // A roll happens at the first frame 5 s or more after the segment began.
            const double seconds = (segment.end - segment.start).seconds();
            QVERIFY2(seconds >= 5.0 && seconds < 5.5, qPrintable(QString::number(seconds)));
            QVERIFY(std::abs(Probe::duration(segment.url) - seconds) < 0.04);
        }
        // Segments follow each other without a gap.
        QCOMPARE(state.segments[1].start, state.segments[0].end);

        // stop() closes the open segment at the time of the stop.
        m_recorder->stop();
        QTRY_COMPARE(m_recorder->snapshot().inFlight, 0);
        const auto stopped = m_recorder->snapshot();
        QCOMPARE(stopped.segments.size(), state.segments.size() + 1);
        m_recorder->discardAndWait();
        QVERIFY(!QFileInfo::exists(m_recorder->workDir()));
    }
};

FERROVANE_TEST_MAIN(TestRecorderX11)
#include "tst_recorderx11.moc"
