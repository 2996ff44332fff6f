#include "platform/linux/ffmpeg/FfmpegMovieWriter.h"

#include "platform/linux/ffmpeg/EncoderPipeline.h"
#include "platform/linux/ffmpeg/H264Encoder.h"
#include "platform/linux/ffmpeg/LibraryLog.h"
#include "platform/linux/ffmpeg/PrivateFileOutput.h"
#include "platform/linux/ffmpeg/SegmentFile.h"

#include <sys/prctl.h>

using ffmpeg::EncoderPipeline;
using ffmpeg::H264Encoder;
using ffmpeg::PipelineSegment;

namespace {

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

} // namespace

FfmpegMovieWriterFactory::FfmpegMovieWriterFactory() {
    // x264 asks for transparent huge pages for its picture buffers, and a 2 MB page is resident as soon as
    // one byte of it is touched: at 1920x1200 that is 6 to 8 MB of padding. The encoder is opened once per
    // recording, so the extra page faults are paid once. Best effort, for the whole process: where huge
    // pages are always on this keeps other large buffers (capture, Qt) exact too.
    prctl(PR_SET_THP_DISABLE, 1, 0, 0, 0);
}

Result<std::unique_ptr<MovieWriter>> FfmpegMovieWriterFactory::openWriter(const QString& path,
                                                                          const VideoSettings& settings) {
    ffmpeg::routeLibraryLogs();
    // Writers are opened from the recorder's own thread, where the encoder is set up too.
    ffmpeg::logAsEncoderThread();
    if (std::optional<Error> refused = checkSettings(settings)) return *refused;
    auto output = ffmpeg::PrivateFileOutput::create(path);
    if (!output) return output.error();

    std::shared_ptr<EncoderPipeline> pipeline;
    {
        std::lock_guard lock(m_mutex);
        pipeline = m_pipeline.lock();
        if (!pipeline || pipeline->settings() != settings || !pipeline->attach()) {
            auto started = EncoderPipeline::start(settings);
            if (!started) {
                output.value()->remove();
                return started.error();
            }
            pipeline = started.take();
            m_pipeline = pipeline;
        }
    }
    auto file = ffmpeg::SegmentFile::start(output.take(), pipeline->parameters(), H264Encoder::timeBase);
    if (!file) {
        pipeline->detach();
        return file.error();
    }
    return std::unique_ptr<MovieWriter>(
        new FfmpegMovieWriter(std::move(pipeline), std::make_shared<PipelineSegment>(file.take())));
}

FfmpegMovieWriter::FfmpegMovieWriter(std::shared_ptr<EncoderPipeline> pipeline,
                                     std::shared_ptr<PipelineSegment> segment)
    : m_owner(std::this_thread::get_id())
    , m_pipeline(std::move(pipeline))
    , m_segment(std::move(segment)) {}

FfmpegMovieWriter::~FfmpegMovieWriter() {
    if (!m_finishRequested) m_pipeline->abandon(m_segment);
}

std::optional<int64_t> FfmpegMovieWriter::ticksSinceStart(MediaTime time) const {
    if (!time.isValid() || !m_sessionStart.isValid() || time < m_sessionStart) return std::nullopt;
    return (time - m_sessionStart).valueIn(H264Encoder::timeBase.den);
}

void FfmpegMovieWriter::startSession(MediaTime sourceTime) {
    Q_ASSERT(onOwnerSequence());
    Q_ASSERT(!m_sessionStart.isValid());
    if (!m_sessionStart.isValid()) m_sessionStart = sourceTime;
}

bool FfmpegMovieWriter::isReadyForMoreMediaData() const {
    Q_ASSERT(onOwnerSequence());
    return !m_markedFinished && !m_finishRequested && !m_segment->failed && m_pipeline->hasRoom(!m_lastTicks);
}

bool FfmpegMovieWriter::append(const PixelBufferRef& buffer, MediaTime presentationTime) {
    Q_ASSERT(onOwnerSequence());
    if (m_markedFinished || m_finishRequested || !buffer || !buffer->data || buffer->width <= 0 ||
        buffer->height <= 0 || buffer->bytesPerRow < buffer->width * 4 || m_segment->failed)
        return false;
    const std::optional<int64_t> ticks = ticksSinceStart(presentationTime);
    // The file's timeline only moves forward; two frames on one tick would be refused by the muxer.
    if (!ticks || (m_lastTicks && *ticks <= *m_lastTicks)) return false;
    if (!m_pipeline->tryPush(m_segment, buffer, *ticks, !m_lastTicks)) return false;
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
    m_pipeline->finish(m_segment, m_endTicks, std::move(handler));
}
