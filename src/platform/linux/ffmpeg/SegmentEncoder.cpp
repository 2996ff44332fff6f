#include "platform/linux/ffmpeg/SegmentEncoder.h"

#include <QtGlobal>

#include <algorithm>

extern "C" {
#include <libavutil/opt.h>
}

namespace ffmpeg {

namespace {

// Without look-ahead (tune zerolatency) x264 emits each frame's packet as soon as it is given the frame,
// so closing a segment has nothing left to flush. It also makes x264 thread by slices rather than by
// frames, since frame threads would hold back one frame per thread. One slice per core lets a frame use
// both cores of a small machine (about 20 ms of x264 CPU time per 1920x1200 frame at veryfast), where
// x264's own default of 1.5 threads per core would only add slices; beyond four, slices cost compression
// for little gain at these sizes.
constexpr const char* tune = "zerolatency";

int encoderThreads() {
    return std::clamp(int(std::thread::hardware_concurrency()), 1, 4);
}

} // namespace

SegmentEncoder::SegmentEncoder(const VideoSettings& settings, std::unique_ptr<PrivateFileOutput> output)
    : m_settings(settings)
    , m_output(std::move(output))
    , m_converter(settings.width, settings.height) {}

SegmentEncoder::~SegmentEncoder() = default;

Result<std::unique_ptr<SegmentEncoder>> SegmentEncoder::open(const QString& path,
                                                             const VideoSettings& settings) {
    auto output = PrivateFileOutput::create(path);
    if (!output) return output.error();
    std::unique_ptr<SegmentEncoder> encoder(new SegmentEncoder(settings, output.take()));
    if (Status started = encoder->start(); !started) {
        encoder->m_output->remove();
        return started.error();
    }
    return encoder;
}

Status SegmentEncoder::startEncoder() {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) return platformError(QStringLiteral("The H.264 encoder (libx264) is not available."));
    m_codec.reset(avcodec_alloc_context3(codec));
    if (!m_codec)
        return platformError(QStringLiteral("Out of memory while starting the H.264 encoder."),
                             AVERROR(ENOMEM));

    AVCodecContext* c = m_codec.get();
    c->width = m_settings.width;
    c->height = m_settings.height;
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = timeBase;
    c->framerate = AVRational{m_settings.expectedSourceFrameRate, 1};
    c->bit_rate = m_settings.averageBitRate;
    c->gop_size = m_settings.maxKeyFrameInterval;
    // Scene-cut I-frames (common on a desktop: a window switch) may then be key frames too; they cost
    // what any I-frame costs and give a cut more places to start from.
    c->keyint_min = std::max(1, m_settings.maxKeyFrameInterval / 10);
    c->max_b_frames = 0;
    c->thread_count = encoderThreads();
    // libx264's wrapper replaces the tune's slice threading with frame threading unless told otherwise.
    c->thread_type = FF_THREAD_SLICE;
    c->color_primaries = AVCOL_PRI_BT709;
    c->color_trc = AVCOL_TRC_BT709;
    c->colorspace = AVCOL_SPC_BT709;
    c->color_range = AVCOL_RANGE_MPEG;
    if (m_format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    const char* profile = m_settings.highProfile ? "high" : "main";
    const std::pair<const char*, const char*> options[] = {
        {"preset", encoderPreset}, {"tune", tune}, {"profile", profile}};
    for (const auto& [key, value] : options) {
        if (const int ret = av_opt_set(c->priv_data, key, value, 0); ret < 0)
            return platformError(
                QStringLiteral("The H.264 encoder refused %1 %2: %3").arg(key, value, errorText(ret)), ret);
    }
    if (const int ret = avcodec_open2(c, codec, nullptr); ret < 0)
        return platformError(QStringLiteral("The H.264 encoder refused %1x%2 at %3 bit/s: %4")
                                 .arg(m_settings.width)
                                 .arg(m_settings.height)
                                 .arg(m_settings.averageBitRate)
                                 .arg(errorText(ret)),
                             ret);
    return Ok{};
}

Status SegmentEncoder::start() {
    AVFormatContext* format = nullptr;
    if (const int ret = avformat_alloc_output_context2(&format, nullptr, "mp4", nullptr); ret < 0 || !format)
        return platformError(QStringLiteral("The MP4 container is not available: %1").arg(errorText(ret)),
                             ret);
    m_format.reset(format);
    format->pb = m_output->context();
    format->flags |= AVFMT_FLAG_CUSTOM_IO;

    if (Status started = startEncoder(); !started) return started;

    m_stream = avformat_new_stream(format, nullptr);
    if (!m_stream)
        return platformError(QStringLiteral("Out of memory while creating the video track."),
                             AVERROR(ENOMEM));
    m_stream->time_base = timeBase;
    if (const int ret = avcodec_parameters_from_context(m_stream->codecpar, m_codec.get()); ret < 0)
        return platformError(QStringLiteral("The video track refused the encoder: %1").arg(errorText(ret)),
                             ret);
    if (const int ret = avformat_write_header(format, nullptr); ret < 0)
        return platformError(
            QStringLiteral("The MP4 container refused the video track: %1").arg(errorText(ret)), ret);

    m_frame.reset(av_frame_alloc());
    m_packet.reset(av_packet_alloc());
    m_held.reset(av_packet_alloc());
    if (!m_frame || !m_packet || !m_held)
        return platformError(QStringLiteral("Out of memory while starting the H.264 encoder."),
                             AVERROR(ENOMEM));
    m_frame->format = AV_PIX_FMT_YUV420P;
    m_frame->width = m_settings.width;
    m_frame->height = m_settings.height;
    m_frame->color_primaries = AVCOL_PRI_BT709;
    m_frame->color_trc = AVCOL_TRC_BT709;
    m_frame->colorspace = AVCOL_SPC_BT709;
    m_frame->color_range = AVCOL_RANGE_MPEG;
    if (const int ret = av_frame_get_buffer(m_frame.get(), 0); ret < 0)
        return platformError(
            QStringLiteral("Out of memory for a %1x%2 picture.").arg(m_settings.width).arg(m_settings.height),
            ret);
    return Ok{};
}

void SegmentEncoder::assertOnEncoderThread() {
    if (m_encoderThread == std::thread::id()) m_encoderThread = std::this_thread::get_id();
    Q_ASSERT(m_encoderThread == std::this_thread::get_id());
}

Status SegmentEncoder::fail(Error error) {
    if (!m_error) m_error = std::move(error);
    return *m_error;
}

Status SegmentEncoder::failWith(int code, const QString& what) {
    return fail(platformError(QStringLiteral("%1: %2").arg(what, errorText(code)), code));
}

Status SegmentEncoder::encode(PixelBufferRef buffer, int64_t ptsTicks) {
    assertOnEncoderThread();
    if (m_error) return *m_error;
    // The encoder may still hold the previous picture; then this gives the frame fresh memory.
    if (const int ret = av_frame_make_writable(m_frame.get()); ret < 0)
        return failWith(ret, QStringLiteral("No memory for the next picture"));
    Status converted = m_converter.convert(*buffer, *m_frame);
    buffer.reset(); // back to the capture pool before the slow part
    if (!converted) return fail(converted.error());
    m_frame->pts = ptsTicks;
    if (const int ret = avcodec_send_frame(m_codec.get(), m_frame.get()); ret < 0)
        return failWith(ret, QStringLiteral("Encoding a frame failed"));
    return receivePackets();
}

Status SegmentEncoder::receivePackets() {
    for (;;) {
        const int ret = avcodec_receive_packet(m_codec.get(), m_packet.get());
        if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return Ok{};
        if (ret < 0) return failWith(ret, QStringLiteral("Encoding a frame failed"));
        if (m_hasHeld) {
            m_held->duration = m_packet->pts - m_held->pts;
            if (Status written = writeHeld(); !written) return written;
        }
        av_packet_move_ref(m_held.get(), m_packet.get());
        m_hasHeld = true;
    }
}

Status SegmentEncoder::writeHeld() {
    m_held->stream_index = m_stream->index;
    av_packet_rescale_ts(m_held.get(), timeBase, m_stream->time_base);
    m_hasHeld = false;
    // Takes the packet's data and leaves m_held blank.
    if (const int ret = av_interleaved_write_frame(m_format.get(), m_held.get()); ret < 0)
        return failWith(ret, QStringLiteral("Writing the movie file failed"));
    return Ok{};
}

Status SegmentEncoder::finish(std::optional<int64_t> endTicks) {
    assertOnEncoderThread();
    if (m_error) return *m_error;
    if (const int ret = avcodec_send_frame(m_codec.get(), nullptr); ret < 0)
        return failWith(ret, QStringLiteral("Flushing the encoder failed"));
    if (Status drained = receivePackets(); !drained) return drained;
    if (!m_hasHeld) return fail(platformError(QStringLiteral("No frame was written to the movie file.")));

    const int64_t nominalTicks = std::max<int64_t>(1, timeBase.den / m_settings.expectedSourceFrameRate);
    // A session end at or before the last frame still leaves that frame one tick to exist in.
    m_held->duration = endTicks ? std::max<int64_t>(1, *endTicks - m_held->pts) : nominalTicks;
    if (Status written = writeHeld(); !written) return written;
    if (const int ret = av_write_trailer(m_format.get()); ret < 0)
        return failWith(ret, QStringLiteral("Writing the movie index failed"));
    if (Status closed = m_output->close(); !closed) return fail(closed.error());
    return Ok{};
}

} // namespace ffmpeg
