#include "platform/linux/ffmpeg/H264Encoder.h"

#include "base/Logging.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace ffmpeg {

namespace {

// Without look-ahead x264 emits each frame's packet at once, so closing a file has nothing left to flush.
// It also makes x264 thread by slices rather than by frames, since frame threads would hold back one
// frame per thread. One slice per core lets a frame use both cores of a small machine (about 20 ms of
// x264 CPU time per 1920x1200 frame at veryfast), where x264's own default of 1.5 threads per core would
// only add slices; beyond four, slices cost compression for little gain at these sizes.
constexpr const char* tune = "zerolatency";

constexpr int macroblock = 16;

int encoderThreads() {
    return std::clamp(int(std::thread::hardware_concurrency()), 1, 4);
}

int macroblocksAcross(int pixels) {
    return (pixels + macroblock - 1) / macroblock;
}

// `lastError` receives x264's errors, which say why it refused settings or a frame.
void logX264(void* lastError, int level, const char* format, va_list args) {
    char line[1024];
    std::vsnprintf(line, sizeof line, format, args);
    const QByteArray text = QByteArray(line).trimmed();
    if (level <= X264_LOG_ERROR && lastError) *static_cast<QByteArray*>(lastError) = text;
    // Otherwise diagnostics: the failures they come with reach the user as our own errors.
    qCDebug(lcEncoder).noquote() << "x264:" << text;
}

// x264's picture structure for a frame that follows the previous one by `gapTicks`: how many frame times
// of the nominal rate the previous picture stood for, which is what x264's average bit rate counts time
// by. Pictures are only sent when the screen changed, so a gap is often longer than one frame time;
// counted as one, a screen of text changing every other frame got half its bit budget. x264 can count
// up to three.
int pictureStructureFor(int64_t gapTicks, int64_t nominalTicks) {
    const int64_t frames = (gapTicks + nominalTicks / 2) / std::max<int64_t>(1, nominalTicks);
    if (frames >= 3) return PIC_STRUCT_TRIPLE;
    if (frames == 2) return PIC_STRUCT_DOUBLE;
    return PIC_STRUCT_PROGRESSIVE;
}

} // namespace

std::vector<uint8_t> H264Encoder::constantMacroblocks(const std::vector<QRect>& changed, QSize size) {
    const int across = macroblocksAcross(size.width());
    const int down = macroblocksAcross(size.height());
    std::vector<uint8_t> flags(size_t(across) * size_t(down), X264_MBINFO_CONSTANT);
    for (const QRect& area : changed) {
        const QRect inside = area & QRect(QPoint(0, 0), size);
        if (inside.isEmpty()) continue;
        for (int y = inside.top() / macroblock; y <= inside.bottom() / macroblock; ++y)
            for (int x = inside.left() / macroblock; x <= inside.right() / macroblock; ++x)
                flags[size_t(y) * across + x] = 0;
    }
    return flags;
}

Result<std::unique_ptr<H264Encoder>> H264Encoder::open(const VideoSettings& settings) {
    std::unique_ptr<H264Encoder> encoder(new H264Encoder(settings));
    if (Status started = encoder->start(); !started) return started.error();
    return encoder;
}

Status H264Encoder::start() {
    m_parameters.reset(avcodec_parameters_alloc());
    m_frame.reset(av_frame_alloc());
    m_ready.reset(av_packet_alloc());
    if (!m_parameters || !m_frame || !m_ready)
        return platformError(QStringLiteral("Out of memory while starting the H.264 encoder."), ENOMEM);
    m_nominalTicks = std::max<int64_t>(1, timeBase.den / std::max(1, m_settings.expectedSourceFrameRate));

    const QString refused = QStringLiteral("The H.264 encoder refused %1x%2 at %3 bit/s")
                                .arg(m_settings.width)
                                .arg(m_settings.height)
                                .arg(m_settings.averageBitRate);
    x264_param_t p;
    if (x264_param_default_preset(&p, encoderPreset, tune) < 0)
        return platformError(QStringLiteral("%1: no preset %2.").arg(refused, QLatin1String(encoderPreset)));
    p.pf_log = &logX264;
    p.p_log_private = &m_lastError;
    p.i_log_level = lcEncoder().isDebugEnabled() ? X264_LOG_INFO : X264_LOG_ERROR;
    p.i_csp = X264_CSP_I420;
    p.i_width = m_settings.width;
    p.i_height = m_settings.height;
    p.i_fps_num = uint32_t(std::max(1, m_settings.expectedSourceFrameRate));
    p.i_fps_den = 1;
    p.i_timebase_num = uint32_t(timeBase.num);
    p.i_timebase_den = uint32_t(timeBase.den);
    p.rc.i_rc_method = X264_RC_ABR;
    p.rc.i_bitrate = int(std::clamp<int64_t>(m_settings.averageBitRate / 1000, 1, INT32_MAX));
    p.i_keyint_max = m_settings.maxKeyFrameInterval;
    // Scene-cut I-frames (common on a desktop: a window switch) may then be key frames too; they cost
    // what any I-frame costs and give a cut more places to start from.
    p.i_keyint_min = std::max(1, m_settings.maxKeyFrameInterval / 10);
    p.i_bframe = 0;
    p.i_threads = encoderThreads();
    p.b_sliced_threads = 1;
    p.vui.i_colorprim = 1; // BT.709
    p.vui.i_transfer = 1;
    p.vui.i_colmatrix = 1;
    p.vui.b_fullrange = 0;
    // MP4 keeps the parameter sets in the sample description, once for every file.
    p.b_repeat_headers = 0;
    // Start codes, as libavcodec's encoders give them: the MP4 muxer turns them into lengths.
    p.b_annexb = 1;
    // The cheapest quarter-pixel refinement instead of the preset's two SATD rounds. At 1920x1200 it cut
    // the recorder's CPU time per frame of full-screen motion by about a quarter (26.7 to 18-21 ms) and
    // for a terminal adding lines by a sixth, for 0.1-0.5 dB of PSNR on the quality benchmark's contents.
    // None at all (0) would spare x264's half-pixel planes, 15 MB at this size, but a picture drifting by
    // fractions of a pixel, as a video does, lost 3.2 dB of PSNR and 0.0025 of SSIM.
    p.analyse.i_subpel_refine = 1;
    p.analyse.b_mb_info = 1;
    // Adaptive quantisation at half the preset's strength. At full strength it takes bits from detailed
    // blocks for flat ones, and on a screen the detailed blocks are text: at half strength the quality
    // benchmark's terminal and document score 70.6-70.9 dB instead of 66.2-66.4 dB. Turned off, text
    // gained no more, but full-screen motion lost 0.3 dB and 0.0009 of SSIM; at half it loses 0.0002.
    p.rc.f_aq_strength = 0.5f;
    if (x264_param_apply_profile(&p, m_settings.highProfile ? "high" : "main") < 0)
        return platformError(QStringLiteral("%1: the profile does not allow it.").arg(refused));

    m_x264.reset(x264_encoder_open(&p));
    if (!m_x264) return platformError(QStringLiteral("%1: %2").arg(refused, reason()));

    x264_nal_t* nals = nullptr;
    int count = 0;
    if (x264_encoder_headers(m_x264.get(), &nals, &count) < 0)
        return platformError(QStringLiteral("The H.264 encoder gave no parameter sets: %1").arg(reason()));
    QByteArray extradata;
    for (int i = 0; i < count; ++i) {
        const auto* payload = reinterpret_cast<const char*>(nals[i].p_payload);
        if (nals[i].i_type == NAL_SEI)
            m_firstSei = QByteArray(payload, nals[i].i_payload);
        else
            extradata.append(payload, nals[i].i_payload);
    }

    AVCodecParameters* par = m_parameters.get();
    par->codec_type = AVMEDIA_TYPE_VIDEO;
    par->codec_id = AV_CODEC_ID_H264;
    par->format = AV_PIX_FMT_YUV420P;
    par->width = m_settings.width;
    par->height = m_settings.height;
    par->bit_rate = int64_t(p.rc.i_bitrate) * 1000;
    par->color_primaries = AVCOL_PRI_BT709;
    par->color_trc = AVCOL_TRC_BT709;
    par->color_space = AVCOL_SPC_BT709;
    par->color_range = AVCOL_RANGE_MPEG;
    par->extradata =
        static_cast<uint8_t*>(av_mallocz(size_t(extradata.size()) + AV_INPUT_BUFFER_PADDING_SIZE));
    if (!par->extradata)
        return platformError(QStringLiteral("Out of memory while starting the H.264 encoder."), ENOMEM);
    std::memcpy(par->extradata, extradata.constData(), size_t(extradata.size()));
    par->extradata_size = int(extradata.size());

    m_frame->format = AV_PIX_FMT_YUV420P;
    m_frame->width = m_settings.width;
    m_frame->height = m_settings.height;
    if (const int ret = av_frame_get_buffer(m_frame.get(), 0); ret < 0)
        return platformError(
            QStringLiteral("Out of memory for a %1x%2 picture.").arg(m_settings.width).arg(m_settings.height),
            errnoOf(ret));
    return Ok{};
}

QString H264Encoder::reason() const {
    return m_lastError.isEmpty() ? QStringLiteral("x264 gave no reason.") : QString::fromUtf8(m_lastError);
}

Status H264Encoder::failure(const QString& what) {
    m_spent = true;
    return platformError(QStringLiteral("%1: %2").arg(what, reason()));
}

Status H264Encoder::encode(x264_picture_t* picture) {
    x264_nal_t* nals = nullptr;
    int count = 0;
    x264_picture_t out;
    x264_picture_init(&out);
    const int size = x264_encoder_encode(m_x264.get(), &nals, &count, picture, &out);
    if (size < 0) return failure(QStringLiteral("Encoding a frame failed"));
    if (size == 0 || count == 0) return Ok{};
    // A frame's units lie one after another in x264's buffer.
    const int sei = int(m_firstSei.size());
    av_packet_unref(m_ready.get());
    if (const int ret = av_new_packet(m_ready.get(), sei + size); ret < 0)
        return platformError(QStringLiteral("No memory for an encoded frame: %1").arg(errorText(ret)),
                             errnoOf(ret));
    std::memcpy(m_ready->data, m_firstSei.constData(), size_t(sei));
    std::memcpy(m_ready->data + sei, nals[0].p_payload, size_t(size));
    m_firstSei.clear();
    m_ready->pts = out.i_pts;
    m_ready->dts = out.i_dts;
    if (out.b_keyframe) m_ready->flags |= AV_PKT_FLAG_KEY;
    return Ok{};
}

Status H264Encoder::send(PixelBufferRef buffer, int64_t ptsTicks, bool startsFile) {
    if (m_spent) return platformError(QStringLiteral("The H.264 encoder was already closed."));
    if (m_ready->size > 0) { // a caller's fault; a fresh encoder starts clean
        m_spent = true;
        return platformError(QStringLiteral("The previous encoded frame was not taken."));
    }
    Status converted = m_converter.convert(*buffer, *m_frame);
    if (!converted) return converted;

    x264_picture_t picture;
    x264_picture_init(&picture);
    picture.img.i_csp = X264_CSP_I420;
    picture.img.i_plane = 3;
    for (int i = 0; i < 3; ++i) {
        picture.img.plane[i] = m_frame->data[i];
        picture.img.i_stride[i] = m_frame->linesize[i];
    }
    picture.i_pts = ptsTicks;
    picture.i_type = startsFile ? X264_TYPE_IDR : X264_TYPE_AUTO;
    picture.i_pic_struct =
        m_sentAny ? pictureStructureFor(ptsTicks - m_lastPts, m_nominalTicks) : PIC_STRUCT_PROGRESSIVE;
    if (m_converter.convertedChangesOnly()) {
        // x264 frees the flags with the frame it encoded. Without them it analyses every block, which is
        // slower, not wrong.
        const std::vector<uint8_t> flags =
            constantMacroblocks(buffer->changed, QSize(m_settings.width, m_settings.height));
        if (auto* copy = static_cast<uint8_t*>(std::malloc(flags.size()))) {
            std::memcpy(copy, flags.data(), flags.size());
            picture.prop.mb_info = copy;
            picture.prop.mb_info_free = &std::free;
        }
    }
    buffer.reset(); // back to the capture pool before the slow part

    if (Status encoded = encode(&picture); !encoded) return encoded;
    m_lastPts = ptsTicks;
    m_sentAny = true;
    ++m_pending;
    return Ok{};
}

Result<bool> H264Encoder::receive(AVPacket* packet) {
    if (m_ready->size == 0 && m_flushing && x264_encoder_delayed_frames(m_x264.get()) > 0) {
        if (Status encoded = encode(nullptr); !encoded) return encoded.error();
    }
    if (m_ready->size == 0) return false;
    av_packet_unref(packet);
    av_packet_move_ref(packet, m_ready.get());
    --m_pending;
    return true;
}

Status H264Encoder::sendEnd() {
    m_flushing = true;
    m_spent = true; // drained: no further frames
    return Ok{};
}

} // namespace ffmpeg
