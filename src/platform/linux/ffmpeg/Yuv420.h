#pragma once

#include "platform/PixelBuffer.h"

#include <QRect>

#include <cstdint>

namespace ffmpeg {

// The three planes of a YUV 4:2:0 picture of even width and height.
struct Yuv420Planes {
    uint8_t* y = nullptr;
    uint8_t* u = nullptr;
    uint8_t* v = nullptr;
    int yStride = 0;
    int uStride = 0;
    int vStride = 0;
};

// Converts the pixels of `source` inside `area` (widened to even edges, clipped to the picture) into
// `planes` of the same size: BT.709, limited range, each chroma sample the mean of its 2x2 block, every
// value rounded to nearest. Each output sample depends only on its own block, so converting the changed
// areas of a picture into planes that hold the previous one gives what converting all of it would.
void convertToYuv420(const PixelBuffer& source, const Yuv420Planes& planes, QRect area);

} // namespace ffmpeg
