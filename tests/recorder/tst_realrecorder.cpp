#include "platform/linux/ffmpeg/FfmpegMediaAssets.h"
#include "platform/linux/ffmpeg/FfmpegMovieWriter.h"
#include "recorder/BufferRoot.h"
#include "recorder/ReplayRecorder.h"
#include "support/CodedFrames.h"
#include "support/FakeMedia.h"
#include "support/Probe.h"
#include "support/TestEnvironment.h"

#include <QDeadlineTimer>
#include <QThread>

// The recorder over the real writer and exporter with numbered synthetic frames on the test's clock, read
// back by ffmpeg's own tools.
class TestRealRecorder : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { BufferRoot::removeAll(); }

    void savesTheLastSecondsExactly() {
        constexpr int fps = 30;
        // Frame n of a recording that began at 100 s.
        const auto timeOf = [](int n) {
            return MediaTime::fromNanoseconds(100'000'000'000 + int64_t(n) * 1'000'000'000 / fps);
        };
        RecorderRig rig(fps, 320);
        rig.capture->displays = {{1, "coded", 320, 240, 0, 0}};
        rig.platform.writers = std::make_shared<FfmpegMovieWriterFactory>();
        rig.platform.assets = std::make_shared<FfmpegMediaAssets>();
        QVERIFY(rig.start());
        // 100 s … 111.967 s: segments roll at 105 and 110. The frames come far faster than a screen's would,
        // so a frame the busy encoder had no room for is offered again.
        for (int n = 0; n < 12 * fps; ++n) {
            const PixelBufferRef picture = CodedFrames::make(n, 320, 240);
            const int64_t written = rig.state().framesWritten;
            for (QDeadlineTimer patience(20000); !patience.hasExpired(); QThread::msleep(1)) {
                rig.capture->deliver(timeOf(n), picture);
                if (rig.state().framesWritten > written) break;
            }
        }
        const Result<QString> clip = rig.save(5, timeOf(12 * fps).seconds());
        QVERIFY2(clip.ok(), qPrintable(clip.ok() ? "" : clip.error().message));

        QCOMPARE(Probe::videoStream(clip.value())["start_time"].toString().toDouble(), 0.0);
        QVERIFY2(std::abs(Probe::duration(clip.value()) - 5.0) <= 1.0 / fps,
                 qPrintable(QString::number(Probe::duration(clip.value()))));
        // The first frame shown is the one at the cut (107 s = frame 210), the last the newest.
        QCOMPARE(CodedFrames::read(CodedFrames::frameAt(clip.value(), 0)), std::optional<int>(7 * fps));
        QCOMPARE(CodedFrames::read(CodedFrames::lastFrame(clip.value())), std::optional<int>(12 * fps - 1));
        QVERIFY(Probe::decodeErrors(clip.value()).isEmpty());
        // Our own segments copy into one clip: its packets are a run of theirs, not encoded again.
        QStringList segmentPackets;
        for (const Segment& segment : rig.state().segments)
            segmentPackets += Probe::packetHashes(segment.url);
        const QStringList clipPackets = Probe::packetHashes(clip.value());
        QVERIFY(!clipPackets.isEmpty());
        QCOMPARE(segmentPackets.mid(segmentPackets.indexOf(clipPackets.first()), clipPackets.size()),
                 clipPackets);
    }
};

FERROVANE_TEST_MAIN(TestRealRecorder)
#include "tst_realrecorder.moc"
