// How long "save the last 30 s" takes on a full 1920x1200, 30 fps buffer of full-motion content, from the
// call to the completion, against the ffmpeg concat + stream copy a user would script on the same
// segments; and how long a 360x360 thumbnail of the clip's last frame takes.
//
// Usage: save_latency [RUNS]   (default 9)

#include "platform/linux/desktop/StatvfsDiskSpace.h"
#include "platform/linux/ffmpeg/FfmpegMediaAssets.h"
#include "platform/linux/ffmpeg/FfmpegMovieWriter.h"
#include "recorder/ReplayRecorder.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <random>
#include <thread>

namespace {

constexpr int width = 1920, height = 1200, fps = 30, bufferSeconds = 30;

struct Frame : PixelBuffer {
    std::vector<uint8_t> bytes;
};

// Moving noise blocks: every frame differs everywhere, as in a video, and compresses like one.
PixelBufferRef motionFrame(int n) {
    auto f = std::make_shared<Frame>();
    f->width = width, f->height = height, f->bytesPerRow = width * 4;
    f->bytes.resize(size_t(width) * height * 4);
    std::mt19937 random(1234);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const int bx = (x + n * 8) / 16, by = (y + n * 4) / 16;
            const uint8_t v = uint8_t((bx * 7919 + by * 104729) * 2654435761u >> 24);
            uint8_t* p = &f->bytes[(size_t(y) * width + x) * 4];
            p[0] = v, p[1] = uint8_t(v * 3), p[2] = uint8_t(255 - v), p[3] = 255;
        }
    f->data = f->bytes.data();
    return f;
}

MediaTime timeOf(int n) {
    return MediaTime::fromNanoseconds(int64_t(1000) * 1'000'000'000 + int64_t(n) * 1'000'000'000 / fps);
}

class ManualClock final : public Clock {
public:
    MediaTime now() const override { return MediaTime::fromNanoseconds(ns.load()); }
    std::atomic<int64_t> ns{0};
};

// A display list of one and a stream the benchmark feeds itself.
class FedCapture final : public ScreenCapture, public CaptureStream {
public:
    std::unique_ptr<PendingAnswer> requestContent(QObject* c, ContentHandler done) override {
        return answerLater(
            c,
            []() -> Result<ShareableContent> {
                return ShareableContent{{{1, "bench", width, height, 0, 0}}, 1};
            },
            std::move(done));
    }
    Result<std::unique_ptr<CaptureStream>> createStream(const DisplayInfo&, const StreamConfiguration&,
                                                        QObject* c, FrameHandler f, StopHandler) override {
        context = c, onFrame = std::move(f);
        struct Handle final : CaptureStream {
            Status startCapture() override { return Ok{}; }
            void stopCapture() override {}
        };
        return std::unique_ptr<CaptureStream>(std::make_unique<Handle>());
    }
    Status startCapture() override { return Ok{}; }
    void stopCapture() override {}
    QObject* context = nullptr;
    FrameHandler onFrame;
};

// The real writer, waiting for room instead of dropping: the benchmark feeds frames as fast as it can.
class PatientWriters final : public MovieWriterFactory {
    struct Writer final : MovieWriter {
        std::unique_ptr<MovieWriter> real;
        void startSession(MediaTime t) override { real->startSession(t); }
        bool isReadyForMoreMediaData() const override {
            while (!real->isReadyForMoreMediaData())
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            return true;
        }
        bool append(const PixelBufferRef& b, MediaTime t) override { return real->append(b, t); }
        void markAsFinished() override { real->markAsFinished(); }
        void endSession(MediaTime t) override { real->endSession(t); }
        void finishWriting(FinishHandler h) override { real->finishWriting(std::move(h)); }
    };
    FfmpegMovieWriterFactory m_real;

public:
    Result<std::unique_ptr<MovieWriter>> openWriter(const QString& path, const VideoSettings& s) override {
        auto w = m_real.openWriter(path, s);
        if (!w) return w.error();
        auto writer = std::make_unique<Writer>();
        writer->real = w.take();
        return std::unique_ptr<MovieWriter>(std::move(writer));
    }
};

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 9;
    QTemporaryDir dir;
    qputenv("XDG_RUNTIME_DIR", dir.path().toLocal8Bit());

    auto clock = std::make_shared<ManualClock>();
    auto capture = std::make_shared<FedCapture>();
    auto assets = std::make_shared<FfmpegMediaAssets>();
    ReplayRecorder recorder(bufferSeconds, fps, width,
                            MediaPlatform{clock, capture, std::make_shared<PatientWriters>(), assets,
                                          std::make_shared<StatvfsDiskSpace>()});
    if (!recorder.startAndWait()) return 1;

    // 31.5 s of frames, so the buffer holds more than the 30 s a save asks for.
    const int frames = int(31.5 * fps);
    std::fprintf(stderr, "encoding %d frames of %dx%d…\n", frames, width, height);
    std::vector<PixelBufferRef> patterns;
    for (int i = 0; i < 60; ++i)
        patterns.push_back(motionFrame(i));
    for (int n = 0; n < frames; ++n) {
        const CapturedFrame frame{timeOf(n), FrameStatus::Complete, patterns[n % patterns.size()]};
        QMetaObject::invokeMethod(
            capture->context, [&, frame] { capture->onFrame(frame); }, Qt::BlockingQueuedConnection);
    }
    clock->ns = timeOf(frames).valueIn(MediaTime::nanosecondTimescale);

    const QString clips = dir.filePath("clips");
    std::vector<double> saveMs;
    QString clip;
    for (int i = 0; i < runs; ++i) {
        std::atomic<bool> done = false;
        QElapsedTimer timer;
        timer.start();
        recorder.saveLast(30, clips, [&](const Result<QString>& r) {
            if (r)
                clip = r.value();
            else
                std::fprintf(stderr, "save failed: %s\n", qPrintable(r.error().message));
            done = true;
        });
        while (!done)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        saveMs.push_back(timer.nsecsElapsed() / 1e6);
    }

    // The peer: the same segments through the concat demuxer, cut at the same offset, stream copy.
    const auto segments = recorder.snapshot().segments;
    const MediaTime cut = MediaTime::fromNanoseconds(clock->ns.load()) - MediaTime::fromSeconds(30);
    QStringList list;
    double offset = 0;
    for (const Segment& s : segments) {
        if (!(s.end > cut)) continue;
        if (list.isEmpty() && s.start < cut) offset = (cut - s.start).seconds();
        list << QStringLiteral("file '%1'").arg(s.url);
    }
    QFile listFile(dir.filePath("list.txt"));
    listFile.open(QIODevice::WriteOnly);
    listFile.write(list.join('\n').toUtf8() + '\n');
    listFile.close();
    std::vector<double> peerMs;
    for (int i = 0; i < std::min(runs, 5); ++i) {
        QElapsedTimer timer;
        timer.start();
        QProcess::execute("ffmpeg",
                          {"-v", "error", "-y", "-f", "concat", "-safe", "0", "-i", listFile.fileName(),
                           "-ss", QString::number(offset, 'f', 3), "-c", "copy", dir.filePath("peer.mp4")});
        peerMs.push_back(timer.nsecsElapsed() / 1e6);
    }

    // The thumbnail as the clip tools ask for it: 0.3 s before the end, up to 1 s earlier, 360x360.
    const double duration = assets->loadAsset(clip).value().duration.seconds();
    std::vector<double> thumbMs;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        auto image = assets->imageAt(clip, MediaTime::fromSeconds(std::max(0.0, duration - 0.3)),
                                     MediaTime::fromSeconds(1.0), MediaTime::zero(), QSize(360, 360));
        thumbMs.push_back(timer.nsecsElapsed() / 1e6);
        if (!image) std::fprintf(stderr, "thumbnail failed\n");
    }

    std::printf("save last 30 s (%d runs):   median %7.1f ms\n", runs, median(saveMs));
    std::printf("ffmpeg concat -c copy:       median %7.1f ms\n", median(peerMs));
    std::printf("ratio save / peer:                  %5.2f\n", median(saveMs) / median(peerMs));
    std::printf("360x360 thumbnail, last frame: median %5.1f ms\n", median(thumbMs));
    recorder.stop();
    recorder.discardAndWait();
    return 0;
}
