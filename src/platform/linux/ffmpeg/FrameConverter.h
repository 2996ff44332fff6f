#pragma once

#include "base/Error.h"
#include "platform/PixelBuffer.h"
#include "platform/linux/ffmpeg/FfmpegHandles.h"

namespace ffmpeg {

// 32-bit RGB pictures of any size and byte order to YUV 4:2:0 at the encoder's size, with BT.709
// coefficients and limited range, as the stream is tagged. At the encoder's size only the areas a picture
// changed since the one converted before it are converted again, into the frame that still holds that one;
// other sizes (a monitor narrower or wider than the encoder) go whole through libswscale, whose scaler is
// rebuilt only when the source size changes. Encoder thread only.
class FrameConverter {
public:
    FrameConverter(int width, int height)
        : m_width(width)
        , m_height(height) {}

    // `frame` must be a writable YUV420P frame of the encoder's size, holding what the last call wrote.
    Status convert(const PixelBuffer& source, AVFrame& frame);
    // Whether the last convert() rewrote only the picture's changed areas, so that everything outside
    // them is exactly what the frame held before.
    bool convertedChangesOnly() const { return m_changesOnly; }

private:
    Status prepare(int sourceWidth, int sourceHeight, PixelOrder order);

    const int m_width;
    const int m_height;
    SwsPtr m_sws;
    int m_sourceWidth = 0;
    int m_sourceHeight = 0;
    PixelOrder m_sourceOrder = PixelOrder::BGRA;
    uint64_t m_lastSequence = 0; // of the picture the frame holds; 0 when unknown
    bool m_changesOnly = false;
};

} // namespace ffmpeg
