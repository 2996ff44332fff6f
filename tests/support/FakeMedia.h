#pragma once

#include "platform/MediaPlatform.h"
#include "recorder/ReplayRecorder.h"
#include "support/Fakes.h"

#include <QDir>
#include <QMetaObject>

#include <atomic>
#include <map>
#include <mutex>
#include <thread>

inline MediaTime secondsAt(double seconds) {
    return MediaTime::fromNanoseconds(std::llround(seconds * 1e9));
}

// A display list and streams whose frames the test hands in by hand.
class FakeScreenCapture final : public ScreenCapture {
public:
    std::unique_ptr<PendingAnswer> requestContent(QObject* context, ContentHandler done) override {
        const auto content = [this]() -> Result<ShareableContent> { return ShareableContent{displays, 7}; };
        return answerLater(context, content, std::move(done));
    }
    Result<std::unique_ptr<CaptureStream>> createStream(const DisplayInfo& display,
                                                        const StreamConfiguration& configuration,
                                                        QObject* context, CaptureStream::FrameHandler onFrame,
                                                        CaptureStream::StopHandler onStop) override {
        struct Stream final : CaptureStream {
            Status startCapture() override { return Ok{}; }
            void stopCapture() override {}
        };
        if (startError) return *startError;
        lastDisplay = display;
        lastConfiguration = configuration;
        m_context = context;
        m_onFrame = std::move(onFrame);
        m_onStop = std::move(onStop);
        return std::unique_ptr<CaptureStream>(std::make_unique<Stream>());
    }

    // Delivers a frame on the handler's thread and waits until it has been handled.
    void deliver(MediaTime pts, PixelBufferRef image, FrameStatus status = FrameStatus::Complete) {
        QMetaObject::invokeMethod(
            m_context, [this, frame = CapturedFrame{pts, status, std::move(image)}] { m_onFrame(frame); },
            Qt::BlockingQueuedConnection);
    }
    // Ends the stream as a lost display would, from a thread of its own.
    void failStream(const Error& error) {
        std::thread([this, error] { m_onStop(error); }).join();
    }

    std::vector<DisplayInfo> displays{{7, QStringLiteral("fake"), 1512, 982, 0, 0}}; // 7 is the main one
    std::optional<Error> startError;
    StreamConfiguration lastConfiguration;
    DisplayInfo lastDisplay;

private:
    QObject* m_context = nullptr;
    CaptureStream::FrameHandler m_onFrame;
    CaptureStream::StopHandler m_onStop;
};

// Writers that keep what they were given. Finishing is held until the test completes it, so a segment
// can be "being finalised" for as long as a test needs.
class FakeMovieWriterFactory final : public MovieWriterFactory {
public:
    struct Record {
        QString path;
        VideoSettings settings;
        MediaTime sessionStart, sessionEnd;
        std::vector<MediaTime> frames;
        MovieWriter::FinishHandler finish;
    };

    Result<std::unique_ptr<MovieWriter>> openWriter(const QString& path,
                                                    const VideoSettings& settings) override;

    // Runs every pending finish handler from another thread, as the platform would. A completed file gets
    // `segmentBytes` of content.
    void completeAll(const Status& status = Ok{}) {
        for (size_t i = 0; i < count(); ++i)
            complete(i, status);
    }
    size_t count() const {
        std::lock_guard lock(m_mutex);
        return m_records.size();
    }
    Record record(size_t index) const {
        std::lock_guard lock(m_mutex);
        return m_records.at(index);
    }

    std::optional<Error> openError; // refuses with this
    bool ready = true;
    bool autoComplete = false; // complete at once, failing with finishError when set
    std::optional<Error> finishError;
    qint64 segmentBytes = 0;

private:
    friend class FakeMovieWriter;
    void complete(size_t index, const Status& status);
    mutable std::mutex m_mutex;
    std::vector<Record> m_records;
};

// Assets described by the test: duration and video per path, exports that succeed or fail per preset.
class FakeMediaAssets final : public MediaAssets {
public:
    Result<AssetInfo> loadAsset(const QString& path) override;
    Status exportComposition(const Composition& composition, ExportPreset preset,
                             const QString& output) override;
    Result<ImageAtTime> imageAt(const QString&, MediaTime, MediaTime, MediaTime, QSize) override {
        return platformError(QStringLiteral("no images here"));
    }

    std::map<QString, AssetInfo> infos; // paths not listed load as 5 s of video
    std::map<QString, Error> loadErrors;
    std::optional<Error> passthroughError, fallbackError;
    std::vector<std::pair<Composition, ExportPreset>> exports;
    std::function<void()> duringExport; // runs inside each export, on its thread
    std::mutex mutex;
};

// A file system of `totalBytes` whose free space is what the files in the queried folder and `otherBytes`
// leave.
class FakeDiskSpace final : public DiskSpace {
public:
    Result<DiskUsage> usage(const QString& path) const override {
        int64_t used = otherBytes;
        for (const QFileInfo& file : QDir(path).entryInfoList(QDir::Files))
            used += file.size();
        return DiskUsage{totalBytes - used, totalBytes};
    }
    std::atomic<int64_t> totalBytes = int64_t(1) << 40;
    std::atomic<int64_t> otherBytes = 0;
};

// A 30 s recorder on the fakes, made by start(); a test may swap any service in `platform` before that.
// Frame times are seconds on the fake clock.
struct RecorderRig {
    explicit RecorderRig(int fps = 30, double maxWidth = 1920)
        : fps(fps)
        , maxWidth(maxWidth) {}
    Status start() {
        recorder = std::make_unique<ReplayRecorder>(30, fps, maxWidth, platform);
        return recorder->startAndWait();
    }
    // A blank picture.
    void frame(double seconds, FrameStatus status = FrameStatus::Complete) {
        static const uint8_t pixels[16] = {};
        capture->deliver(secondsAt(seconds), std::make_shared<PixelBuffer>(PixelBuffer{pixels, 2, 2, 8}),
                         status);
    }
    // Frames every 5 s from `from` to `to` inclusive; each one after the first rolls a segment, and each
    // closed segment is finalised at once.
    void rollEvery5(double from, double to) {
        for (double t = from; t <= to + 1e-9; t += 5, writers->completeAll())
            frame(t);
    }
    // Saves the last `seconds` at `now` into `folder` and waits for the outcome.
    Result<QString> save(double seconds, double now);
    ReplayRecorder::Snapshot state() { return recorder->snapshot(); }

    const int fps;
    const double maxWidth;
    QString folder = QDir::home().filePath(QStringLiteral("Videos/Ferrovane"));
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<FakeScreenCapture> capture = std::make_shared<FakeScreenCapture>();
    std::shared_ptr<FakeMovieWriterFactory> writers = std::make_shared<FakeMovieWriterFactory>();
    std::shared_ptr<FakeMediaAssets> assets = std::make_shared<FakeMediaAssets>();
    std::shared_ptr<FakeDiskSpace> disk = std::make_shared<FakeDiskSpace>();
    MediaPlatform platform{clock, capture, writers, assets, disk};
    std::unique_ptr<ReplayRecorder> recorder;
};
