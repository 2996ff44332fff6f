#pragma once

#include "base/Error.h"
#include "platform/linux/ffmpeg/FfmpegHandles.h"

class VideoInput;

// Decodes the video stream of one VideoInput, pulling packets from it as needed. Used by one thread.
class VideoDecoder {
public:
    // threadCount 0 lets the decoder choose.
    static Result<VideoDecoder> open(const AVStream* stream, int threadCount);

    // The next frame in presentation order into `frame`; false once the stream is drained.
    Result<bool> next(VideoInput& input, AVFrame* frame);

private:
    VideoDecoder(ffmpeg::CodecContextPtr context, ffmpeg::PacketPtr packet);

    ffmpeg::CodecContextPtr m_context;
    ffmpeg::PacketPtr m_packet;
    bool m_draining = false;
};
