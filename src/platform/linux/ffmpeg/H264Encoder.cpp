#include "platform/linux/ffmpeg/H264Encoder.h"

#include <algorithm>
#include <thread>

extern "C" {
#include <libavutil/opt.h>
}

namespace ffmpeg {

namespace {

// Without look-ahead x264 emits each frame's packet at once, so closing a file has nothing left to flush.
// It also makes x264 thread by slices rather than by frames, since frame threads would hold back one
// frame per thread. One slice per core lets a frame use both cores of a small machine (about 20 ms of
// x264 CPU time per 1920x1200 frame at veryfast), where x264's own default of 1.5 threads per core would
// only add slices; beyond four, slices cost compression for little gain at these sizes.
constexpr const char* tune = "zerolatency";

int encoderThreads() {
    return std::clamp(int(std::thread::hardware_concurrency()), 1, 4);
}

} // namespace

Result<std::unique_ptr<H264Encoder>> H264Encoder::open(const VideoSettings& settings) {
    std::unique_ptr<H264Encoder> encoder(new H264Encoder(settings));
    if (Status started = encoder->start(); !started) return started.error();
    return encoder;
}

Status H264Encoder::start() {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    if (!codec) return platformError(QStringLiteral("The H.264 encoder (libx264) is not available."));
    m_codec.reset(avcodec_alloc_context3(codec));
    m_parameters.reset(avcodec_parameters_alloc());
    m_frame.reset(av_frame_alloc());
    if (!m_codec || !m_parameters || !m_frame)
        return platformError(QStringLiteral("Out of memory while starting the H.264 encoder."), ENOMEM);

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
    // MP4 keeps the parameter sets in the sample description, once for every file.
    c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;

    const char* profile = m_settings.highProfile ? "high" : "main";
    // forced-idr: a picture sent as I starts a closed GOP, which a new file needs.
    // subme=1: the cheapest quarter-pixel refinement instead of the preset's two SATD rounds. At
    // 1920x1200 it cut the recorder's CPU time per frame of full-screen motion by about a quarter (26.7
    // to 18-21 ms) and for a terminal adding lines by a sixth, for 0.1-0.5 dB of PSNR on the quality
    // benchmark's contents.
    const std::pair<const char*, const char*> options[] = {{"preset", encoderPreset},
                                                           {"tune", tune},
                                                           {"profile", profile},
                                                           {"forced-idr", "1"},
                                                           {"x264-params", "subme=1"}};
    for (const auto& [key, value] : options) {
        if (const int ret = av_opt_set(c->priv_data, key, value, 0); ret < 0)
            return platformError(
                QStringLiteral("The H.264 encoder refused %1 %2: %3").arg(key, value, errorText(ret)),
                errnoOf(ret));
    }
    if (const int ret = avcodec_open2(c, codec, nullptr); ret < 0)
        return platformError(QStringLiteral("The H.264 encoder refused %1x%2 at %3 bit/s: %4")
                                 .arg(m_settings.width)
                                 .arg(m_settings.height)
                                 .arg(m_settings.averageBitRate)
                                 .arg(errorText(ret)),
                             errnoOf(ret));
    if (const int ret = avcodec_parameters_from_context(m_parameters.get(), c); ret < 0)
        return platformError(
            QStringLiteral("The H.264 encoder gave no stream parameters: %1").arg(errorText(ret)),
            errnoOf(ret));

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
            errnoOf(ret));
    return Ok{};
}

Status H264Encoder::codecFailure(int code, const QString& what) {
    m_spent = true;
    return platformError(QStringLiteral("%1: %2").arg(what, errorText(code)), errnoOf(code));
}

Status H264Encoder::send(PixelBufferRef buffer, int64_t ptsTicks, bool startsFile) {
    // The encoder may still hold the previous picture; then this gives the frame fresh memory.
    if (const int ret = av_frame_make_writable(m_frame.get()); ret < 0)
        return platformError(QStringLiteral("No memory for the next picture: %1").arg(errorText(ret)),
                             errnoOf(ret));
    Status converted = m_converter.convert(*buffer, *m_frame);
    buffer.reset(); // back to the capture pool before the slow part
    if (!converted) return converted;
    m_frame->pts = ptsTicks;
    m_frame->pict_type = startsFile ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    if (const int ret = avcodec_send_frame(m_codec.get(), m_frame.get()); ret < 0)
        return codecFailure(ret, QStringLiteral("Encoding a frame failed"));
    ++m_pending;
    return Ok{};
}

Result<bool> H264Encoder::receive(AVPacket* packet) {
    const int ret = avcodec_receive_packet(m_codec.get(), packet);
    if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return false;
    if (ret < 0) return codecFailure(ret, QStringLiteral("Encoding a frame failed")).error();
    --m_pending;
    return true;
}

Status H264Encoder::sendEnd() {
    if (const int ret = avcodec_send_frame(m_codec.get(), nullptr); ret < 0)
        return codecFailure(ret, QStringLiteral("Flushing the encoder failed"));
    m_spent = true; // drained: no further frames
    return Ok{};
}

} // namespace ffmpeg
