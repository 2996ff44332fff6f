#include "platform/linux/FfmpegMediaAssets.h"
#include "platform/linux/FfmpegMovieWriter.h"
#include "recorder/BufferRoot.h"
#include "recorder/ReplayRecorder.h"
#include "support/CodedFrames.h"
#include "support/FakeMedia.h"
#include "support/Probe.h"
#include "support/TestEnvironment.h"

#include <QDir>

#include <thread>

// Real segments from the real writer, saved by the real exporter, read back by ffmpeg's own tools. The
// frames are synthetic and numbered, the clock is the test's.
namespace {

constexpr int fps = 30;
constexpr double origin = 100;

// The real writer, except that the test waits for room in the encoder's queue instead of dropping
// frames: the test feeds frames far faster than a screen would.
class PatientWriter final : public MovieWriter {
public:
    explicit PatientWriter(std::unique_ptr<MovieWriter> real)
        : m_real(std::move(real)) {}
    void startSession(MediaTime t) override { m_real->startSession(t); }
    bool isReadyForMoreMediaData() const override {
        // A plain sleep: this runs on the work queue, whose events must not be processed re-entrantly.
        for (int i = 0; i < 5000 && !m_real->isReadyForMoreMediaData(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return m_real->isReadyForMoreMediaData();
    }
    bool append(const PixelBufferRef& b, MediaTime t) override { return m_real->append(b, t); }
    void markAsFinished() override { m_real->markAsFinished(); }
    void endSession(MediaTime t) override { m_real->endSession(t); }
    void finishWriting(FinishHandler h) override { m_real->finishWriting(std::move(h)); }

private:
    std::unique_ptr<MovieWriter> m_real;
};

class PatientWriterFactory final : public MovieWriterFactory {
public:
    Result<std::unique_ptr<MovieWriter>> openWriter(const QString& path,
                                                    const VideoSettings& settings) override {
        auto writer = m_real.openWriter(path, settings);
        if (!writer) return writer.error();
        return std::unique_ptr<MovieWriter>(std::make_unique<PatientWriter>(writer.take()));
    }

private:
    FfmpegMovieWriterFactory m_real;
};

struct Rig {
    Rig() {
        fakes.capture->displays = {{1, "coded", 320, 240, 0, 0}};
        MediaPlatform platform{fakes.clock, fakes.capture, std::make_shared<PatientWriterFactory>(),
                               std::make_shared<FfmpegMediaAssets>()};
        recorder = std::make_unique<ReplayRecorder>(30, fps, 320, platform);
        QDir(folder).removeRecursively();
    }
    static MediaTime timeOf(int n) {
        return MediaTime::fromNanoseconds(int64_t(origin * 1e9) + int64_t(n) * 1'000'000'000 / fps);
    }
    // Frames 0 … count-1 at 30 fps from t = 100 s.
    void record(int count, int first = 0) {
        for (int n = first; n < first + count; ++n)
            fakes.capture->deliver(timeOf(n), CodedFrames::make(n, 320, 240));
    }
    Result<QString> save(double seconds, MediaTime now) {
        fakes.clock->set(now.seconds());
        std::optional<Result<QString>> result;
        std::atomic<bool> done = false;
        recorder->saveLast(seconds, folder, [&](const Result<QString>& r) {
            result = r;
            done = true;
        });
        if (!QTest::qWaitFor([&] { return done.load(); }, 30000)) return platformError("no completion");
        return *result;
    }

    QString folder = QDir::home().filePath("Movies/Ferrovane");
    FakeMediaPlatform fakes;
    std::unique_ptr<ReplayRecorder> recorder;
};

} // namespace

class TestRealSave : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { BufferRoot::removeAll(); }

    void savesTheLastSecondsExactly() {
        Rig rig;
        QVERIFY(rig.recorder->start());
        rig.record(12 * fps); // 100 s … 111.967 s: segments roll at 105 and 110
        const MediaTime now = Rig::timeOf(12 * fps);
        const Result<QString> clip = rig.save(5, now);
        QVERIFY2(clip.ok(), qPrintable(clip.ok() ? "" : clip.error().description));

        const QJsonObject video = Probe::videoStream(clip.value());
        QCOMPARE(video["codec_name"].toString(), QString("h264"));
        QCOMPARE(Probe::run(clip.value())["streams"].toArray().size(), 1);
        QCOMPARE(video["start_time"].toString().toDouble(), 0.0);
        QVERIFY2(std::abs(Probe::duration(clip.value()) - 5.0) <= 1.0 / fps,
                 qPrintable(QString::number(Probe::duration(clip.value()))));
        // The first frame shown is the one at the cut (107 s = frame 210), the last the newest.
        QCOMPARE(CodedFrames::read(CodedFrames::frameAt(clip.value(), 0)), std::optional<int>(7 * fps));
        QCOMPARE(CodedFrames::read(CodedFrames::lastFrame(clip.value())), std::optional<int>(12 * fps - 1));
        QVERIFY(Probe::decodeErrors(clip.value()).isEmpty());
        // Our own segments copy into one clip: its packets are a run of theirs, not encoded again.
        QStringList segmentPackets;
        for (const Segment& segment : rig.recorder->snapshot().segments)
            segmentPackets += Probe::packetHashes(segment.url);
        const QStringList clipPackets = Probe::packetHashes(clip.value());
        QVERIFY(!clipPackets.isEmpty());
        QCOMPARE(segmentPackets.mid(segmentPackets.indexOf(clipPackets.first()), clipPackets.size()),
                 clipPackets);
    }
};

FERROVANE_TEST_MAIN(TestRealSave)
#include "tst_realsave.moc"
