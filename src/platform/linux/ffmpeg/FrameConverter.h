#pragma once

#include "base/Error.h"
#include "platform/PixelBuffer.h"
#include "platform/linux/ffmpeg/FfmpegHandles.h"

namespace ffmpeg {

// 32-bit RGB pictures of any size and byte order to YUV 4:2:0 at the encoder's size in one libswscale pass,
// with BT.709 coefficients and limited range, as the stream is tagged. The scaler is rebuilt only when the
// source size changes (a monitor can be narrower or wider than the encoder). Encoder thread only.
class FrameConverter {
public:
    FrameConverter(int width, int height)
        : m_width(width)
        , m_height(height) {}

    // `frame` must be a writable YUV420P frame of the encoder's size.
    Status convert(const PixelBuffer& source, AVFrame& frame);

private:
    Status prepare(int sourceWidth, int sourceHeight, PixelOrder order);

    const int m_width;
    const int m_height;
    SwsPtr m_sws;
    int m_sourceWidth = 0;
    int m_sourceHeight = 0;
    PixelOrder m_sourceOrder = PixelOrder::BGRA;
};

} // namespace ffmpeg
