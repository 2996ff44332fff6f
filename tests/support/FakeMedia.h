#pragma once

#include "platform/MediaPlatform.h"
#include "support/Fakes.h"

#include <QObject>

#include <atomic>

#include <map>
#include <mutex>

// A display list and a stream whose frames the test hands in by hand.
class FakeCaptureStream final : public CaptureStream {
public:
    FakeCaptureStream(QObject* context, FrameHandler onFrame, StopHandler onStop)
        : context(context)
        , onFrame(std::move(onFrame))
        , onStop(std::move(onStop)) {}
    Status startCapture() override { return Ok{}; }
    void stopCapture() override {}

    QObject* context;
    FrameHandler onFrame;
    StopHandler onStop;
};

class FakeScreenCapture final : public ScreenCapture {
public:
    Result<ShareableContent> shareableContent() override;
    Result<std::unique_ptr<CaptureStream>> createStream(const DisplayInfo& display,
                                                        const std::vector<int64_t>&,
                                                        const StreamConfiguration& configuration,
                                                        QObject* context, CaptureStream::FrameHandler onFrame,
                                                        CaptureStream::StopHandler onStop) override;

    // Delivers a frame on the handler's thread and waits until it has been handled. `seconds` are on the
    // host clock, to the nanosecond; the picture is a blank one.
    void deliver(double seconds, FrameStatus status = FrameStatus::Complete, bool withImage = true);
    void deliver(MediaTime pts, PixelBufferRef image, FrameStatus status = FrameStatus::Complete);
    // Ends the stream as a lost display would, from a thread of its own.
    void failStream(const Error& error);

    std::vector<DisplayInfo> displays{{7, QStringLiteral("fake"), 1512, 982, 0, 0}};
    uint32_t mainDisplayId = 7;
    std::optional<Error> contentError;
    std::optional<Error> startError;
    StreamConfiguration lastConfiguration;
    DisplayInfo lastDisplay;
    FakeCaptureStream* stream = nullptr; // the last one created, owned by the recorder
};

// Writers that keep what they were given. Finishing is held until the test completes it, so a segment
// can be "being finalised" for as long as a test needs.
class FakeMovieWriterFactory final : public MovieWriterFactory {
public:
    struct Record {
        QString path;
        VideoSettings settings;
        MediaTime sessionStart;
        MediaTime sessionEnd;
        std::vector<MediaTime> frames;
        MovieWriter::FinishHandler finish;
    };

    Result<std::unique_ptr<MovieWriter>> openWriter(const QString& path,
                                                    const VideoSettings& settings) override;

    // Runs the finish handler of writer `index` from another thread, as the platform would. A completed
    // file gets `segmentBytes` of content.
    void complete(size_t index, const Status& status);
    // Completes every writer whose finish is requested and still pending.
    void completeAll(const Status& status = Ok{});
    size_t count() const;
    Record record(size_t index) const;

    bool refuseOpen = false;
    std::optional<Error> openError; // refuses with this
    bool ready = true;
    bool autoComplete = false; // complete at once, failing with finishError when set
    std::optional<Error> finishError;
    qint64 segmentBytes = 0;

private:
    friend class FakeMovieWriter;
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
    std::optional<Error> passthroughError;
    std::optional<Error> fallbackError;
    std::vector<std::pair<Composition, ExportPreset>> exports;
    std::function<void()> duringExport; // runs inside each export, on its thread
    mutable std::mutex mutex;
};

// A file system of `totalBytes` whose free space is what the files in the queried folder and `otherBytes`
// leave.
class FakeDiskSpace final : public DiskSpace {
public:
    Result<DiskUsage> usage(const QString& path) const override;
    std::atomic<int64_t> totalBytes = int64_t(1) << 40;
    std::atomic<int64_t> otherBytes = 0;
};

struct FakeMediaPlatform {
    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    std::shared_ptr<FakeScreenCapture> capture = std::make_shared<FakeScreenCapture>();
    std::shared_ptr<FakeMovieWriterFactory> writers = std::make_shared<FakeMovieWriterFactory>();
    std::shared_ptr<FakeMediaAssets> assets = std::make_shared<FakeMediaAssets>();
    std::shared_ptr<FakeDiskSpace> disk = std::make_shared<FakeDiskSpace>();

    MediaPlatform platform() const { return MediaPlatform{clock, capture, writers, assets, disk}; }
};
