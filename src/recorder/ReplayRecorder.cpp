#include "recorder/ReplayRecorder.h"

#include "base/Logging.h"
#include "recorder/BufferRoot.h"
#include "recorder/ClipExport.h"
#include "recorder/ReplayError.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThreadPool>
#include <QUuid>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <future>

namespace {

QString uuidString() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// Exports have threads of their own: the shared pool also runs thumbnails and frame pulls, and a save must
// not queue behind them. Never destroyed, so that a save still finishes while the process exits.
QThreadPool& exportPool() {
    static QThreadPool* pool = [] {
        auto* created = new QThreadPool;
        created->setObjectName(QStringLiteral("ferrovane.export"));
        created->setMaxThreadCount(2);
        return created;
    }();
    return *pool;
}

// What went wrong, in the system's words where it has them: "No space left on device" rather than the
// writer's sentence about a segment file nobody knows of.
QString reasonOf(const Error& error) {
    if (error.code > 0 && error.code < 4096) return QString::fromLocal8Bit(strerror(error.code));
    return error.message;
}

Error stoppedBeforeStart() {
    return platformError(QStringLiteral("Recording was stopped before it started."));
}

} // namespace

ReplayRecorder::ReplayRecorder(double bufferSeconds, int fps, double maxWidth, MediaPlatform platform)
    : bufferSeconds(bufferSeconds)
    , fps(fps)
    , maxWidth(maxWidth)
    , m_platform(std::move(platform))
    , m_workDir(BufferRoot::location() + QLatin1Char('/') + uuidString())
    , m_queue(std::make_shared<WorkQueue>(QStringLiteral("ferrovane.capture"))) {}

ReplayRecorder::~ReplayRecorder() {
    Q_ASSERT_X(!m_queue->isCurrent(), "~ReplayRecorder", "destroyed on its own work queue");
    std::unique_ptr<CaptureStream> stream;
    m_queue->sync([&] {
        m_contentAsked.reset();
        stream = std::move(m_stream);
    });
    if (stream) stream->stopCapture();
    stream.reset();
    m_queue->shutdown();
    // A recorder that goes without a discard (a quit that could not wait for one) takes its buffer along:
    // nothing can read it any more. The queue has stopped, so the folder is this thread's now.
    if (m_workFolder) m_workFolder->remove();
}

void ReplayRecorder::setOnStop(StopCallback callback) {
    m_onStop.store(callback ? std::make_shared<const StopCallback>(std::move(callback)) : nullptr);
}

QSize ReplayRecorder::captureSize(double displayWidth, double displayHeight, double maxWidth) {
    // Capture is in pixels already: scaling up would cost encoder time and disk for no detail.
    const double w = maxWidth < displayWidth ? maxWidth : displayWidth;
    const double h = (displayHeight / displayWidth) * w;
    return QSize(int(int64_t(w) & ~int64_t(1)), int(int64_t(h) & ~int64_t(1)));
}

void ReplayRecorder::start(StartCompletion done) {
    m_queue->async([this, done = std::move(done)]() mutable {
        m_startDone = std::move(done);
        if (m_stopped) return finishStart(stoppedBeforeStart());
        Result<std::unique_ptr<WorkFolder>> folder = WorkFolder::create(m_workDir);
        if (!folder) {
            qCDebug(lcRecorder) << "cannot make the buffer folder:" << folder.error().message;
            return finishStart(folder.error());
        }
        m_workFolder = folder.take();
        m_contentAsked = m_platform.capture->requestContent(
            m_queue->context(), [this](const Result<ShareableContent>& content) { contentArrived(content); });
    });
}

Status ReplayRecorder::startAndWait() {
    auto outcome = std::make_shared<std::promise<Status>>();
    std::future<Status> started = outcome->get_future();
    start([outcome](const Status& status) { outcome->set_value(status); });
    return started.get();
}

void ReplayRecorder::contentArrived(const Result<ShareableContent>& content) {
    m_queue->assertCurrent();
    m_contentAsked.reset();
    if (!content) return finishStart(content.error());
    finishStart(startStream(content.value()));
}

Status ReplayRecorder::startStream(const ShareableContent& content) {
    m_queue->assertCurrent();
    const auto& displays = content.displays;
    if (displays.empty()) return ReplayError::noDisplay().toError();
    auto display = std::find_if(displays.begin(), displays.end(),
                                [&](const DisplayInfo& d) { return d.displayId == content.mainDisplayId; });
    if (display == displays.end()) display = displays.begin();

    const QSize size = captureSize(display->width, display->height, maxWidth);
    StreamConfiguration configuration;
    configuration.width = size.width();
    configuration.height = size.height();
    configuration.minimumFrameInterval = MediaTime(1, fps);
    configuration.pixelFormat = PixelFormat::BGRA;
    configuration.showsCursor = true;
    configuration.queueDepth = queueDepth;
    // The size is stored before frames can arrive, so no segment is ever encoded at the placeholder size.
    m_width = size.width();
    m_height = size.height();

    Result<std::unique_ptr<CaptureStream>> stream = m_platform.capture->createStream(
        *display, configuration, m_queue->context(),
        [this](const CapturedFrame& frame) { handleFrame(frame); },
        [this](const Error& error) { streamStopped(error); });
    if (!stream) return stream.error();
    if (Status started = stream.value()->startCapture(); !started) return started;
    m_stream = stream.take();
    return Ok{};
}

void ReplayRecorder::finishStart(const Status& status) {
    m_queue->assertCurrent();
    if (StartCompletion done = std::exchange(m_startDone, nullptr)) done(status);
}

void ReplayRecorder::stop() {
    std::unique_ptr<CaptureStream> stream;
    m_queue->sync([&] {
        m_stopped = true;
        // Closes the desktop's dialog, if one is open for this start.
        m_contentAsked.reset();
        finishStart(stoppedBeforeStart());
        stream = std::move(m_stream);
    });
    if (stream) stream->stopCapture();
    m_queue->sync([&] {
        if (stream) m_captureDropped += stream->droppedFrames();
        finishCurrentSegment(m_platform.clock->now());
    });
    stream.reset();
}

// Runs on the capture thread. The segment is closed later on the work queue, so it may still be open
// when the callback runs.
void ReplayRecorder::streamStopped(const Error& error) {
    m_queue->async([this] {
        finishCurrentSegment(m_platform.clock->now());
        if (m_stream) m_captureDropped += m_stream->droppedFrames();
        m_stream.reset();
    });
    if (const auto callback = m_onStop.load()) (*callback)(error);
}

void ReplayRecorder::handleFrame(const CapturedFrame& frame) {
    m_queue->assertCurrent();
    if (frame.status != FrameStatus::Complete || !frame.image) return;
    const MediaTime pts = frame.presentationTime;
    // Frames already in flight when a save or a roll closed the segment belong to the closed one.
    if (!(pts > m_lastSegmentEnd)) return;
    ++m_framesAccepted;

    if (!m_writer) {
        startSegment(pts);
    } else if ((pts - m_segmentStart).seconds() >= segmentSeconds) {
        finishCurrentSegment(pts);
        startSegment(pts);
    }

    if (m_writer && m_writer->isReadyForMoreMediaData()) {
        m_writer->append(frame.image, pts);
        ++m_framesWritten;
    } else if (m_writer) {
        ++m_framesDropped;
    }
}

void ReplayRecorder::startSegment(MediaTime at) {
    m_queue->assertCurrent();
    const QString url = m_workDir + QStringLiteral("/seg-") + uuidString() + QStringLiteral(".mp4");

    VideoSettings settings;
    settings.width = m_width;
    settings.height = m_height;
    settings.averageBitRate = int64_t(m_width) * m_height * 3;
    settings.maxKeyFrameInterval = fps;
    settings.expectedSourceFrameRate = fps;
    settings.highProfile = true;
    settings.allowFrameReordering = false;
    settings.expectsMediaDataInRealTime = true;

    // A refused segment leaves a gap; the next accepted frame tries again.
    if (!m_workFolder) return;
    if (Status there = m_workFolder->ensure(); !there) return noteBufferError(there.error());
    Result<std::unique_ptr<MovieWriter>> writer = m_platform.writers->openWriter(url, settings);
    if (!writer) return noteBufferError(writer.error());
    m_writer = writer.take();
    m_writer->startSession(at);
    m_segmentStart = at;
    m_currentURL = url;
}

void ReplayRecorder::finishCurrentSegment(MediaTime end) {
    m_queue->assertCurrent();
    if (!m_writer || m_currentURL.isEmpty()) return;
    std::unique_ptr<MovieWriter> writer = std::move(m_writer);
    const QString url = m_currentURL;
    const MediaTime start = m_segmentStart;
    m_currentURL.clear();
    m_lastSegmentEnd = end;

    writer->markAsFinished();
    writer->endSession(end);
    ++m_inFlight;
    // The completion holds the queue, not the recorder: once the recorder is gone the queue drops it.
    writer->finishWriting([queue = m_queue, this, url, start, end](const Status& status) {
        queue->async([this, status, url, start, end] { segmentFinished(status, url, start, end); });
    });
}

void ReplayRecorder::segmentFinished(const Status& status, const QString& url, MediaTime start,
                                     MediaTime end) {
    m_queue->assertCurrent();
    if (status) {
        m_segments.push_back(Segment{url, start, end, MediaTime(1, fps)});
        if (m_bufferError) qCDebug(lcRecorder) << "the buffer is written again";
        m_bufferError.reset();
    } else {
        QFile::remove(url);
        noteBufferError(status.error());
    }
    prune(end);
    --m_inFlight;
    if (m_inFlight == 0) {
        auto waiters = std::exchange(m_idleWaiters, {});
        for (auto& action : waiters)
            action();
    }
    wakeQuietWaiters();
}

void ReplayRecorder::noteBufferError(const Error& error) {
    m_queue->assertCurrent();
    if (!m_bufferError || m_bufferError->message != error.message)
        qCDebug(lcRecorder) << "segment not written:" << error.message;
    m_bufferError = error;
}

void ReplayRecorder::prune(MediaTime now) {
    m_queue->assertCurrent();
    if (m_exportsInProgress != 0) return;
    const MediaTime cutoff = now - MediaTime::fromSeconds(bufferSeconds + segmentSeconds);
    auto overdue = m_segments.begin();
    while (overdue != m_segments.end() && overdue->end < cutoff) {
        QFile::remove(overdue->url);
        ++overdue;
    }
    m_segments.erase(m_segments.begin(), overdue);
    pruneForSpace(now);
}

// Space for the next segment (as large as the newest) must leave the floor free. Oldest segments go
// first: those only the pruning margin keeps, then, when that is not enough, older seconds of the buffer
// itself. The newest segment always stays, so a save still finds the last seconds.
void ReplayRecorder::pruneForSpace(MediaTime now) {
    if (!m_platform.disk || m_segments.empty()) return;
    const Result<DiskUsage> usage = m_platform.disk->usage(m_workDir);
    if (!usage) return;
    const int64_t floor =
        std::max(int64_t(double(usage.value().totalBytes) * minimumFreeShare), minimumFreeBytes);
    int64_t available = usage.value().availableBytes - QFileInfo(m_segments.back().url).size();
    size_t dropped = 0;
    while (available < floor && dropped + 1 < m_segments.size()) {
        available += QFileInfo(m_segments[dropped].url).size();
        QFile::remove(m_segments[dropped].url);
        ++dropped;
    }
    if (dropped == 0) return;
    m_segments.erase(m_segments.begin(), m_segments.begin() + dropped);
    qCInfo(lcRecorder) << "low on space: dropped" << dropped << "old segments; the buffer now holds"
                       << (now - m_segments.front().start).seconds() << "s";
}

void ReplayRecorder::runWhenIdle(std::function<void()> action) {
    m_queue->assertCurrent();
    if (m_inFlight == 0)
        action();
    else
        m_idleWaiters.push_back(std::move(action));
}

void ReplayRecorder::runWhenQuiet(std::function<void()> action) {
    m_queue->assertCurrent();
    m_quietWaiters.push_back(std::move(action));
    wakeQuietWaiters();
}

void ReplayRecorder::wakeQuietWaiters() {
    m_queue->assertCurrent();
    if (m_inFlight != 0 || m_exportsInProgress != 0) return;
    auto waiters = std::exchange(m_quietWaiters, {});
    for (auto& action : waiters)
        action();
}

ReplayRecorder::Fill ReplayRecorder::fill() {
    Fill result;
    m_queue->sync([&] {
        // While the newest seconds cannot be written, a save has nothing to offer: older seconds are not
        // the last ones.
        if (m_bufferError) {
            result.writeError =
                platformError(QStringLiteral("The buffer cannot be written: ") + reasonOf(*m_bufferError),
                              m_bufferError->code);
            return;
        }
        MediaTime reference;
        if (!m_segments.empty())
            reference = m_segments.front().start;
        else if (m_writer)
            reference = m_segmentStart;
        else
            return;
        const double elapsed = (m_platform.clock->now() - reference).seconds();
        result.seconds = std::min(std::max(elapsed, 0.0), bufferSeconds);
    });
    return result;
}

void ReplayRecorder::discard(std::function<void()> whenDone) {
    // Exports read the segment files: deleting them under a running save would lose the clip.
    m_queue->async([this, whenDone = std::move(whenDone)]() mutable {
        runWhenQuiet([this, whenDone = std::move(whenDone)]() mutable {
            m_segments.clear();
            if (m_workFolder) {
                m_workFolder->remove();
                m_workFolder.reset();
            } else {
                BufferRoot::removeFolder(m_workDir);
                BufferRoot::removeIfEmpty(BufferRoot::location());
            }
            if (whenDone) std::exchange(whenDone, nullptr)();
        });
    });
}

void ReplayRecorder::discardAndWait() {
    // Finalising the last segment takes well under a second and an export copying the buffer about as
    // long; re-encoding it runs at about real time. A writer that never reports must not hang the way
    // out: the next start-up sweeps whatever is left.
    const auto patience = std::chrono::seconds(10 + int(bufferSeconds));
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> cleared = done->get_future();
    discard([done] { done->set_value(); });
    cleared.wait_for(patience);
}

void ReplayRecorder::removeStaleBuffers() {
    BufferRoot::removeAll();
}

void ReplayRecorder::saveLast(double seconds, const QString& folder, SaveCompletion completion) {
    const double effective = std::min(std::max(seconds, 1.0), bufferSeconds);
    // A save asked for is seen through even when the process is made to exit meanwhile (the X server went
    // away): the buffer is on disk and the export needs nothing else.
    std::shared_ptr<void> hold = WorkFolder::holdExit(std::chrono::seconds(10 + int(bufferSeconds)));
    completion = [hold = std::move(hold), completion = std::move(completion)](const Result<QString>& result) {
        completion(result);
    };
    QElapsedTimer asked;
    asked.start();
    m_queue->async([this, asked, effective, folder, completion = std::move(completion)]() mutable {
        const MediaTime now = m_platform.clock->now();
        finishCurrentSegment(now);
        runWhenIdle([this, asked, now, effective, folder, completion = std::move(completion)]() mutable {
            qCDebug(lcRecorder) << "save: segments closed" << asked.nsecsElapsed() / 1e6
                                << "ms after the request";
            select(now, effective, folder, std::move(completion));
        });
    });
}

void ReplayRecorder::select(MediaTime now, double seconds, const QString& folder, SaveCompletion completion) {
    m_queue->assertCurrent();
    const MediaTime cut = now - MediaTime::fromSeconds(seconds);
    std::vector<Segment> picked;
    std::copy_if(m_segments.begin(), m_segments.end(), std::back_inserter(picked),
                 [&](const Segment& segment) { return segment.end > cut; });
    // While the newest seconds cannot be written, older ones must not pass for them: say why instead. A
    // buffer that cannot be written is not an empty one either.
    if (m_bufferError) return completion(ReplayError::exportFailed(reasonOf(*m_bufferError)).toError());
    if (picked.empty()) return completion(ReplayError::nothingRecorded().toError());
    ++m_exportsInProgress;
    exportPool().start([queue = m_queue, this, assets = m_platform.assets, picked = std::move(picked), cut,
                        folder, completion = std::move(completion)]() mutable {
        Result<QString> result = ClipExport::exportSegments(*assets, picked, cut, folder);
        // Completion first: whoever waits for the buffer's deletion has every result in hand by then.
        std::exchange(completion, nullptr)(result);
        queue->async([this] {
            --m_exportsInProgress;
            wakeQuietWaiters();
        });
    });
}

ReplayRecorder::Snapshot ReplayRecorder::snapshot() {
    Snapshot s;
    m_queue->sync([&] {
        s.segments = m_segments;
        s.inFlight = m_inFlight;
        s.exportsInProgress = m_exportsInProgress;
        s.writing = bool(m_writer);
        s.streaming = bool(m_stream);
        s.segmentStart = m_segmentStart;
        s.lastSegmentEnd = m_lastSegmentEnd;
        s.size = QSize(m_width, m_height);
        s.framesAccepted = m_framesAccepted;
        s.framesWritten = m_framesWritten;
        s.framesDropped = m_framesDropped + m_captureDropped + (m_stream ? m_stream->droppedFrames() : 0);
        s.bufferError = m_bufferError;
    });
    return s;
}
