#include "platform/linux/ffmpeg/SegmentFile.h"

#include <algorithm>

namespace ffmpeg {

Result<std::unique_ptr<SegmentFile>> SegmentFile::start(std::unique_ptr<PrivateFileOutput> output,
                                                        const AVCodecParameters* parameters,
                                                        AVRational timeBase) {
    std::unique_ptr<SegmentFile> file(new SegmentFile(std::move(output), timeBase));
    if (Status begun = file->begin(parameters); !begun) {
        file->m_output->remove();
        return begun.error();
    }
    return file;
}

SegmentFile::~SegmentFile() = default;

Status SegmentFile::begin(const AVCodecParameters* parameters) {
    AVFormatContext* format = nullptr;
    if (const int ret = avformat_alloc_output_context2(&format, nullptr, "mp4", nullptr); ret < 0 || !format)
        return platformError(QStringLiteral("The MP4 container is not available: %1").arg(errorText(ret)),
                             errnoOf(ret));
    m_format.reset(format);
    format->pb = m_output->context();
    format->flags |= AVFMT_FLAG_CUSTOM_IO;
    m_held.reset(av_packet_alloc());
    m_stream = avformat_new_stream(format, nullptr);
    if (!m_stream || !m_held)
        return platformError(QStringLiteral("Out of memory while creating the video track."), ENOMEM);
    m_stream->time_base = m_timeBase;
    if (const int ret = avcodec_parameters_copy(m_stream->codecpar, parameters); ret < 0)
        return platformError(QStringLiteral("The video track refused the encoder: %1").arg(errorText(ret)),
                             errnoOf(ret));
    if (const int ret = avformat_write_header(format, nullptr); ret < 0)
        return platformError(
            QStringLiteral("The MP4 container refused the video track: %1").arg(errorText(ret)),
            errnoOf(ret));
    return Ok{};
}

Status SegmentFile::write(AVPacket* packet) {
    if (m_hasHeld) {
        m_held->duration = packet->pts - m_held->pts;
        if (Status written = writeHeld(); !written) return written;
    }
    av_packet_move_ref(m_held.get(), packet);
    m_hasHeld = true;
    return Ok{};
}

Status SegmentFile::writeHeld() {
    m_held->stream_index = m_stream->index;
    av_packet_rescale_ts(m_held.get(), m_timeBase, m_stream->time_base);
    m_hasHeld = false;
    // Takes the packet's data and leaves m_held blank.
    if (const int ret = av_interleaved_write_frame(m_format.get(), m_held.get()); ret < 0)
        return platformError(QStringLiteral("Writing the movie file failed: %1").arg(errorText(ret)),
                             errnoOf(ret));
    return Ok{};
}

Status SegmentFile::finish(std::optional<int64_t> endTicks, int64_t nominalTicks) {
    if (!m_hasHeld) return platformError(QStringLiteral("No frame was written to the movie file."));
    // A session end at or before the last frame still leaves that frame one tick to exist in.
    m_held->duration = endTicks ? std::max<int64_t>(1, *endTicks - m_held->pts) : nominalTicks;
    if (Status written = writeHeld(); !written) return written;
    if (const int ret = av_write_trailer(m_format.get()); ret < 0)
        return platformError(QStringLiteral("Writing the movie index failed: %1").arg(errorText(ret)),
                             errnoOf(ret));
    return m_output->close();
}

} // namespace ffmpeg
