#pragma once

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

#include <QString>

#include <memory>

// Owning handles for FFmpeg's C objects, so every early return cleans up.
namespace ffmpeg {

struct CodecContextDeleter {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct PacketDeleter {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct ParametersDeleter {
    void operator()(AVCodecParameters* p) const { avcodec_parameters_free(&p); }
};
struct SwsDeleter {
    void operator()(SwsContext* s) const { sws_freeContext(s); }
};
// Input contexts are closed, output contexts have their file closed and are freed.
struct InputFormatDeleter {
    void operator()(AVFormatContext* f) const { avformat_close_input(&f); }
};
struct OutputFormatDeleter {
    void operator()(AVFormatContext* f) const {
        if (f->pb && !(f->oformat->flags & AVFMT_NOFILE)) avio_closep(&f->pb);
        avformat_free_context(f);
    }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using ParametersPtr = std::unique_ptr<AVCodecParameters, ParametersDeleter>;
using SwsPtr = std::unique_ptr<SwsContext, SwsDeleter>;
using InputFormatPtr = std::unique_ptr<AVFormatContext, InputFormatDeleter>;
using OutputFormatPtr = std::unique_ptr<AVFormatContext, OutputFormatDeleter>;

// The system's errno behind an FFmpeg code (AVERROR(ENOSPC) gives ENOSPC), as platform errors carry it;
// FFmpeg's own codes stay as they are.
inline int errnoOf(int code) {
    const int system = AVUNERROR(code);
    return system > 0 && system < 4096 ? system : code;
}

inline QString errorText(int code) {
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buffer, sizeof buffer);
    return QString::fromUtf8(buffer);
}

} // namespace ffmpeg
