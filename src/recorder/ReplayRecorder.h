#pragma once

#include "base/MediaTime.h"
#include "platform/MediaPlatform.h"
#include "recorder/Segment.h"
#include "recorder/WorkFolder.h"
#include "recorder/WorkQueue.h"

#include <QSize>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Captures the main display into a rolling buffer of ~5 s H.264 segments and saves the last seconds of it
// as one clip. All mutable state below belongs to the work queue "ferrovane.capture"; other threads reach
// it only by posting to that queue. Started once, never restarted.
class ReplayRecorder {
public:
    using StopCallback = std::function<void(const Error&)>;
    using StartCompletion = std::function<void(const Status&)>;
    using SaveCompletion = std::function<void(const Result<QString>&)>;

    static constexpr double segmentSeconds = 5.0;
    static constexpr int queueDepth = 6;
    // The buffer usually lives on a RAM-backed file system: it gives way before that fills up.
    static constexpr double minimumFreeShare = 0.10;
    static constexpr int64_t minimumFreeBytes = 64LL * 1024 * 1024;

    ReplayRecorder(double bufferSeconds, int fps, double maxWidth, MediaPlatform platform);
    ~ReplayRecorder();
    ReplayRecorder(const ReplayRecorder&) = delete;
    ReplayRecorder& operator=(const ReplayRecorder&) = delete;

    const double bufferSeconds;
    const int fps;
    const double maxWidth;
    QString workDir() const { return m_workDir; }

    // Told, on the capture thread, when the stream stops by itself. Set before start(), cleared before
    // stop().
    void setOnStop(StopCallback callback);

    // Returns at once; `done` runs once, on the work queue, when capture runs, when it could not start, or
    // when stop() came first. The desktop may ask the user which screen to share meanwhile; no thread
    // waits for that.
    void start(StartCompletion done);
    // start(), waiting for its outcome; for tools without an event loop of their own. Not on the work queue.
    Status startAndWait();
    // Blocks until the stream has stopped (a start still waiting for the desktop is called off) and the
    // open segment is closed. Must not run on the work queue.
    void stop();
    // Returns at once; once no segment is being finalised and no export reads the buffer, forgets the
    // buffer and deletes the work folder. `whenDone` runs on the work queue after that. It is moved along,
    // never copied, so whatever it holds goes where it goes; it must not own this recorder.
    void discard(std::function<void()> whenDone = {});
    // discard(), then waits until the buffer is gone: exports in progress finish first, so the wait is
    // bounded by their length. For the way out of the process.
    void discardAndWait();
    // Seconds of history a save could have now, 0 … bufferSeconds, and why nothing can be saved while
    // the newest segment could not be written. Blocks on the work queue.
    struct Fill {
        double seconds = 0;
        std::optional<Error> writeError;
    };
    Fill fill();
    double bufferedSeconds() { return fill().seconds; }
    // Returns at once; `completion` runs exactly once, off the main thread, with the clip's path or an error.
    void saveLast(double seconds, const QString& folder, SaveCompletion completion);

    // Deletes the buffers every earlier run left behind. Before any recorder exists.
    static void removeStaleBuffers();
    // Encoded size for a display of the given size in pixels: its own width up to maxWidth, the height
    // in proportion, both even.
    static QSize captureSize(double displayWidth, double displayHeight, double maxWidth);

    // Counters and bookkeeping, read on the work queue; for tests, the benchmark and diagnostics.
    struct Snapshot {
        std::vector<Segment> segments;
        int inFlight = 0;
        int exportsInProgress = 0;
        bool writing = false;
        bool streaming = false;
        MediaTime segmentStart;
        MediaTime lastSegmentEnd;
        QSize size;
        int64_t framesAccepted = 0; // complete frames later than the last segment end
        int64_t framesWritten = 0;
        int64_t framesDropped = 0; // encoder not ready, or the capture had no frame when one was due
        std::optional<Error> bufferError;
    };
    Snapshot snapshot();

private:
    void contentArrived(const Result<ShareableContent>& content);
    Status startStream(const ShareableContent& content);
    void finishStart(const Status& status);
    void handleFrame(const CapturedFrame& frame);
    void streamStopped(const Error& error);
    void startSegment(MediaTime at);
    void finishCurrentSegment(MediaTime end);
    void segmentFinished(const Status& status, const QString& url, MediaTime start, MediaTime end);
    void prune(MediaTime now);
    void pruneForSpace(MediaTime now);
    void noteBufferError(const Error& error);
    void runWhenIdle(std::function<void()> action);
    void runWhenQuiet(std::function<void()> action);
    void wakeQuietWaiters();
    void select(MediaTime now, double seconds, const QString& folder, SaveCompletion completion);

    const MediaPlatform m_platform;
    const QString m_workDir;
    const std::shared_ptr<WorkQueue> m_queue;
    std::atomic<std::shared_ptr<const StopCallback>> m_onStop;

    // Work queue only.
    StartCompletion m_startDone;                   // while a start is under way
    std::unique_ptr<PendingAnswer> m_contentAsked; // while the desktop has not answered
    bool m_stopped = false;
    std::unique_ptr<WorkFolder> m_workFolder; // from start() until the buffer is discarded
    std::unique_ptr<CaptureStream> m_stream;
    std::unique_ptr<MovieWriter> m_writer;
    MediaTime m_segmentStart = MediaTime::invalid();
    MediaTime m_lastSegmentEnd = MediaTime::zero();
    QString m_currentURL;
    std::vector<Segment> m_segments;
    int m_inFlight = 0;
    std::vector<std::function<void()>> m_idleWaiters;
    int m_exportsInProgress = 0;
    std::vector<std::function<void()>> m_quietWaiters; // until nothing is finalised and no export runs
    std::optional<Error> m_bufferError; // why the newest segment was not written; cleared by the next one
    int m_width = 1920;
    int m_height = 1200;
    int64_t m_framesAccepted = 0;
    int64_t m_framesWritten = 0;
    int64_t m_framesDropped = 0;
    int64_t m_captureDropped = 0; // of streams already stopped
};
