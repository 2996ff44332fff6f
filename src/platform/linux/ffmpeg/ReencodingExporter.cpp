#include "platform/linux/ffmpeg/ReencodingExporter.h"

#include "platform/linux/ffmpeg/Conversions.h"
#include "platform/linux/ffmpeg/Mp4Output.h"
#include "platform/linux/ffmpeg/VideoDecoder.h"
#include "platform/linux/ffmpeg/VideoInput.h"

extern "C" {
#include <libavutil/opt.h>
}

#include <deque>
#include <limits>
#include <utility>
#include <vector>

namespace ReencodingExporter {

namespace {

// Fine enough for every frame rate and exact for the 1/600 s of cut times.
constexpr AVRational encoderTimeBase{1, 90000};
// Visually lossless for screen content. The preset trades file size for time: re-encoding 30 s of
// full-motion 1920x1200 took 76 s of CPU with "fast" and 32 s with "veryfast", and the user waits.
constexpr const char* crf = "18";
constexpr const char* preset = "veryfast";

Result<ffmpeg::CodecContextPtr> openEncoder(int width, int height, AVRational frameRate) {
    const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
    // No H.264 encoder: the fallback has nothing to encode with.
    if (!codec) return ffmpeg::failure("export preset unavailable");
    ffmpeg::CodecContextPtr context(avcodec_alloc_context3(codec));
    if (!context) return ffmpeg::failure(AVERROR(ENOMEM));
    // 4:2:0 needs even dimensions.
    context->width = std::max(2, width & ~1);
    context->height = std::max(2, height & ~1);
    context->pix_fmt = AV_PIX_FMT_YUV420P;
    context->time_base = encoderTimeBase;
    context->framerate = frameRate;
    // A key frame every second, like the segments, so a frame near any time decodes quickly later.
    context->gop_size = std::max(1, int(av_q2d(frameRate) + 0.5));
    context->max_b_frames = 0;
    context->color_primaries = AVCOL_PRI_BT709;
    context->color_trc = AVCOL_TRC_BT709;
    context->colorspace = AVCOL_SPC_BT709;
    context->color_range = AVCOL_RANGE_MPEG;
    context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER; // MP4 keeps the parameter sets in the sample description
    context->thread_count = 0;
    av_opt_set(context->priv_data, "preset", preset, 0);
    av_opt_set(context->priv_data, "crf", crf, 0);
    av_opt_set(context->priv_data, "profile", "high", 0);
    if (int ret = avcodec_open2(context.get(), codec, nullptr); ret < 0) return ffmpeg::failure(ret);
    return context;
}

// Scales decoded frames to the encoder's size and format, encodes them and writes the packets.
class Encoding {
public:
    Encoding(ffmpeg::CodecContextPtr context, Mp4Output& output)
        : m_context(std::move(context))
        , m_output(output)
        , m_packet(av_packet_alloc()) {}

    // `source` shown from `pts` for `duration`, both in encoderTimeBase.
    Status encode(const AVFrame* source, int64_t pts, int64_t duration) {
        SwsContext* scaler = sws_getCachedContext(
            m_scaler.release(), source->width, source->height, AVPixelFormat(source->format),
            m_context->width, m_context->height, AV_PIX_FMT_YUV420P, SWS_BICUBIC, nullptr, nullptr, nullptr);
        m_scaler.reset(scaler);
        ffmpeg::FramePtr frame(av_frame_alloc());
        if (!m_scaler || !frame || !m_packet) return ffmpeg::failure(AVERROR(ENOMEM));
        sws_setColorspaceDetails(scaler, sws_getCoefficients(ffmpeg::swsColorspace(source->colorspace)),
                                 source->color_range == AVCOL_RANGE_JPEG, sws_getCoefficients(SWS_CS_ITU709),
                                 0, 0, 1 << 16, 1 << 16);
        frame->width = m_context->width;
        frame->height = m_context->height;
        frame->format = AV_PIX_FMT_YUV420P;
        if (int ret = av_frame_get_buffer(frame.get(), 0); ret < 0) return ffmpeg::failure(ret);
        sws_scale(scaler, source->data, source->linesize, 0, source->height, frame->data, frame->linesize);
        frame->pts = pts;
        m_durations.emplace_back(pts, duration);
        if (int ret = avcodec_send_frame(m_context.get(), frame.get()); ret < 0) return ffmpeg::failure(ret);
        return drain();
    }

    Status flush() {
        if (int ret = avcodec_send_frame(m_context.get(), nullptr); ret < 0) return ffmpeg::failure(ret);
        return drain();
    }

private:
    Status drain() {
        for (;;) {
            const int ret = avcodec_receive_packet(m_context.get(), m_packet.get());
            if (ret == AVERROR(EAGAIN) || ret == AVERROR_EOF) return Ok{};
            if (ret < 0) return ffmpeg::failure(ret);
            // The encoder does not carry durations through; the muxer needs the last one for the clip's end.
            while (!m_durations.empty() && m_durations.front().first < m_packet->pts)
                m_durations.pop_front();
            if (!m_durations.empty() && m_durations.front().first == m_packet->pts) {
                m_packet->duration = m_durations.front().second;
                m_durations.pop_front();
            }
            av_packet_rescale_ts(m_packet.get(), encoderTimeBase, m_output.timeBase());
            Status written = m_output.write(m_packet.get());
            av_packet_unref(m_packet.get());
            if (!written) return written;
        }
    }

    ffmpeg::CodecContextPtr m_context;
    Mp4Output& m_output;
    ffmpeg::PacketPtr m_packet;
    ffmpeg::SwsPtr m_scaler;
    std::deque<std::pair<int64_t, int64_t>> m_durations; // (pts, duration) of frames sent, in order
};

// Decodes one range and encodes the frames shown in it, each from its composition time until the
// next frame's or the range's end. `lastPts` keeps the output strictly increasing across ranges.
Status encodeRange(VideoInput& input, const CompositionRange& range, Encoding& encoding, int64_t& lastPts) {
    const AVRational timeBase = input.timeBase();
    const int64_t start = ffmpeg::toTicks(range.start, timeBase);
    const int64_t end = ffmpeg::toTicks(range.start + range.duration, timeBase);
    const int64_t at = ffmpeg::toTicks(range.at, encoderTimeBase);
    Result<VideoDecoder> decoder = VideoDecoder::open(input.stream(), 0);
    if (!decoder) return decoder.error();
    if (start > 0) {
        if (int ret = input.seekBackward(start); ret < 0) return ffmpeg::failure(ret);
    }

    auto present = [&](const AVFrame* frame, int64_t from, int64_t until) -> Status {
        if (until <= start) return Ok{};
        const int64_t pts = av_rescale_q(std::max(from, start) - start, timeBase, encoderTimeBase) + at;
        const int64_t ptsEnd = av_rescale_q(until - start, timeBase, encoderTimeBase) + at;
        if (pts <= lastPts) return Ok{};
        lastPts = pts;
        return encoding.encode(frame, pts, ptsEnd - pts);
    };

    ffmpeg::FramePtr held(av_frame_alloc());
    ffmpeg::FramePtr frame(av_frame_alloc());
    if (!held || !frame) return ffmpeg::failure(AVERROR(ENOMEM));
    bool haveHeld = false;
    for (;;) {
        Result<bool> decoded = decoder.value().next(input, frame.get());
        if (!decoded) return decoded.error();
        if (!decoded.value()) break;
        const int64_t pts = frame->best_effort_timestamp;
        if (pts == AV_NOPTS_VALUE) continue;
        if (haveHeld) {
            if (Status presented = present(held.get(), held->best_effort_timestamp, std::min(pts, end));
                !presented)
                return presented;
        }
        haveHeld = pts < end;
        if (!haveHeld) return Ok{};
        std::swap(held, frame);
    }
    if (haveHeld) return present(held.get(), held->best_effort_timestamp, end);
    return Ok{};
}

} // namespace

Status run(const Composition& composition, const QString& outputPath) {
    const std::vector<CompositionRange>& ranges = composition.ranges;
    Result<std::vector<VideoInput>> opened = VideoInput::openAll(composition);
    if (!opened) return opened.error();
    std::vector<VideoInput>& inputs = opened.value();

    const AVStream* first = inputs.front().stream();
    const AVRational frameRate = first->avg_frame_rate.num > 0 ? first->avg_frame_rate : AVRational{30, 1};
    Result<ffmpeg::CodecContextPtr> encoder =
        openEncoder(first->codecpar->width, first->codecpar->height, frameRate);
    if (!encoder) return encoder.error();
    Result<Mp4Output> created = Mp4Output::open(outputPath, encoder.value().get());
    if (!created) return created.error();
    Mp4Output& output = created.value();

    Encoding encoding(encoder.take(), output);
    int64_t lastPts = std::numeric_limits<int64_t>::min();
    for (size_t k = 0; k < ranges.size(); ++k) {
        if (Status encoded = encodeRange(inputs[k], ranges[k], encoding, lastPts); !encoded) return encoded;
    }
    if (Status flushed = encoding.flush(); !flushed) return flushed;
    return output.finish();
}

} // namespace ReencodingExporter
