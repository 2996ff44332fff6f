#include "platform/linux/FfmpegMovieWriter.h"

#include "platform/linux/ffmpeg/FrameQueue.h"
#include "platform/linux/ffmpeg/SegmentEncoder.h"

#include <QFile>

#include <mutex>
#include <pthread.h>
#include <system_error>
#include <variant>

extern "C" {
#include <libavutil/log.h>
}

using ffmpeg::FrameQueue;
using ffmpeg::SegmentEncoder;

namespace {

// FFmpeg and x264 report on stderr by default; the product logs nothing.
void silenceLibraries() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

std::optional<Error> checkSettings(const VideoSettings& s) {
    const QString size = QStringLiteral("%1x%2").arg(s.width).arg(s.height);
    if (s.width <= 0 || s.height <= 0)
        return platformError(QStringLiteral("Cannot record a movie of %1 pixels.").arg(size));
    // 4:2:0 chroma covers 2x2 pixels, and libx264 refuses odd sizes.
    if (s.width % 2 || s.height % 2)
        return platformError(
            QStringLiteral("Cannot record a movie of %1 pixels: width and height must be even.").arg(size));
    if (s.averageBitRate <= 0)
        return platformError(QStringLiteral("Cannot record a movie at %1 bit/s.").arg(s.averageBitRate));
    if (s.maxKeyFrameInterval <= 0 || s.expectedSourceFrameRate <= 0)
        return platformError(
            QStringLiteral("Cannot record a movie with a key frame every %1 frames at %2 fps.")
                .arg(s.maxKeyFrameInterval)
                .arg(s.expectedSourceFrameRate));
    if (s.allowFrameReordering)
        return platformError(
            QStringLiteral("Frame reordering is not supported: segments must close at once."));
    return std::nullopt;
}

// Encoder thread: owns the encoder; the queue is shared with the writer, which may be gone by the end.
void runEncoder(std::shared_ptr<FrameQueue> queue, std::unique_ptr<SegmentEncoder> encoder) {
    for (;;) {
        FrameQueue::Item item = queue->waitNext();
        if (auto* frame = std::get_if<FrameQueue::Frame>(&item)) {
            if (!encoder->encode(std::move(frame->buffer), frame->ptsTicks)) queue->markFailed();
            continue;
        }
        if (auto* finish = std::get_if<FrameQueue::Finish>(&item)) {
            const bool completed = encoder->finish(finish->endTicks).ok();
            encoder.reset(); // the file is closed before anyone hears of it
            if (finish->handler) finish->handler(completed ? WriterStatus::Completed : WriterStatus::Failed);
        }
        return;
    }
}

} // namespace

Result<std::unique_ptr<MovieWriter>> FfmpegMovieWriterFactory::openWriter(const QString& path,
                                                                          const VideoSettings& settings) {
    silenceLibraries();
    if (std::optional<Error> refused = checkSettings(settings)) return *refused;
    auto encoder = SegmentEncoder::open(path, settings);
    if (!encoder) return encoder.error();

    auto queue = std::make_shared<FrameQueue>(FfmpegMovieWriter::queueCapacity);
    std::thread thread;
    try {
        thread = std::thread(runEncoder, queue, encoder.take());
    } catch (const std::system_error& e) {
        QFile::remove(path); // ours: created exclusively above
        return platformError(
            QStringLiteral("Could not start the encoder thread: %1").arg(QString::fromUtf8(e.what())),
            e.code().value());
    }
    pthread_setname_np(thread.native_handle(), "ferrovane.enc");
    return std::unique_ptr<MovieWriter>(new FfmpegMovieWriter(std::move(queue), std::move(thread)));
}

FfmpegMovieWriter::FfmpegMovieWriter(std::shared_ptr<FrameQueue> queue, std::thread encoderThread)
    : m_owner(std::this_thread::get_id())
    , m_queue(std::move(queue))
    , m_encoderThread(std::move(encoderThread)) {}

FfmpegMovieWriter::~FfmpegMovieWriter() {
    if (m_finishRequested) {
        m_encoderThread.detach();
        return;
    }
    // Bounded by the frame the thread may be encoding right now.
    m_queue->cancel();
    m_encoderThread.join();
}

std::optional<int64_t> FfmpegMovieWriter::ticksSinceStart(MediaTime time) const {
    if (!time.isValid() || !m_sessionStart.isValid() || time < m_sessionStart) return std::nullopt;
    return (time - m_sessionStart).valueIn(SegmentEncoder::timeBase.den);
}

void FfmpegMovieWriter::startSession(MediaTime sourceTime) {
    Q_ASSERT(onOwnerSequence());
    Q_ASSERT(!m_sessionStart.isValid());
    if (!m_sessionStart.isValid()) m_sessionStart = sourceTime;
}

bool FfmpegMovieWriter::isReadyForMoreMediaData() const {
    Q_ASSERT(onOwnerSequence());
    return !m_markedFinished && !m_finishRequested && m_queue->hasRoom();
}

bool FfmpegMovieWriter::append(const PixelBufferRef& buffer, MediaTime presentationTime) {
    Q_ASSERT(onOwnerSequence());
    if (m_markedFinished || m_finishRequested || !buffer || !buffer->data || buffer->width <= 0 ||
        buffer->height <= 0 || buffer->bytesPerRow < buffer->width * 4)
        return false;
    const std::optional<int64_t> ticks = ticksSinceStart(presentationTime);
    // The file's timeline only moves forward; two frames on one tick would be refused by the muxer.
    if (!ticks || (m_lastTicks && *ticks <= *m_lastTicks)) return false;
    if (!m_queue->tryPush(buffer, *ticks)) return false;
    m_lastTicks = ticks;
    return true;
}

void FfmpegMovieWriter::markAsFinished() {
    Q_ASSERT(onOwnerSequence());
    m_markedFinished = true;
}

void FfmpegMovieWriter::endSession(MediaTime sourceTime) {
    Q_ASSERT(onOwnerSequence());
    m_endTicks = ticksSinceStart(sourceTime);
}

void FfmpegMovieWriter::finishWriting(FinishHandler handler) {
    Q_ASSERT(onOwnerSequence());
    Q_ASSERT(!m_finishRequested);
    if (m_finishRequested) return;
    m_finishRequested = true;
    m_queue->requestFinish(FrameQueue::Finish{m_endTicks, std::move(handler)});
}
