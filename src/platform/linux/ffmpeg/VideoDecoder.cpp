#include "platform/linux/ffmpeg/VideoDecoder.h"

#include "platform/linux/ffmpeg/Conversions.h"
#include "platform/linux/ffmpeg/VideoInput.h"

VideoDecoder::VideoDecoder(ffmpeg::CodecContextPtr context, ffmpeg::PacketPtr packet)
    : m_context(std::move(context))
    , m_packet(std::move(packet)) {}

Result<VideoDecoder> VideoDecoder::open(const AVStream* stream, int threadCount) {
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) return ffmpeg::failure(AVERROR_DECODER_NOT_FOUND);
    ffmpeg::CodecContextPtr context(avcodec_alloc_context3(codec));
    ffmpeg::PacketPtr packet(av_packet_alloc());
    if (!context || !packet) return ffmpeg::failure(AVERROR(ENOMEM));
    if (int ret = avcodec_parameters_to_context(context.get(), stream->codecpar); ret < 0)
        return ffmpeg::failure(ret);
    context->pkt_timebase = stream->time_base;
    context->thread_count = threadCount;
    if (int ret = avcodec_open2(context.get(), codec, nullptr); ret < 0) return ffmpeg::failure(ret);
    return VideoDecoder(std::move(context), std::move(packet));
}

Result<bool> VideoDecoder::next(VideoInput& input, AVFrame* frame) {
    for (;;) {
        const int received = avcodec_receive_frame(m_context.get(), frame);
        if (received == 0) return true;
        if (received == AVERROR_EOF) return false;
        if (received != AVERROR(EAGAIN)) return ffmpeg::failure(received);

        const int read = input.readPacket(m_packet.get());
        if (read == AVERROR_EOF) {
            if (m_draining) return false;
            m_draining = true;
            if (int ret = avcodec_send_packet(m_context.get(), nullptr); ret < 0) return ffmpeg::failure(ret);
            continue;
        }
        if (read < 0) return ffmpeg::failure(read);
        const int sent = avcodec_send_packet(m_context.get(), m_packet.get());
        av_packet_unref(m_packet.get());
        if (sent < 0) return ffmpeg::failure(sent);
    }
}
