#include "platform/linux/ffmpeg/Yuv420.h"

#include <algorithm>

namespace ffmpeg {

namespace {

constexpr int fixed(double value, int bits) {
    const double scaled = value * double(1 << bits);
    return int(scaled >= 0 ? scaled + 0.5 : scaled - 0.5);
}

// Y = 16 + 219/255 (Kr R + Kg G + Kb B); Cb and Cr = 128 + 224/255 of the scaled colour differences.
constexpr double kr = 0.2126, kb = 0.0722, kg = 1 - kr - kb;
constexpr double lumaScale = 219.0 / 255, chromaScale = 224.0 / 255;
constexpr int lumaBits = 16;
constexpr int yr = fixed(kr * lumaScale, lumaBits), yg = fixed(kg * lumaScale, lumaBits),
              yb = fixed(kb * lumaScale, lumaBits);
constexpr int lumaOffset = (16 << lumaBits) + (1 << (lumaBits - 1));
// Chroma is computed from the sum of a 2x2 block, hence two more bits. The coefficients of each row sum
// to zero exactly, so every grey has chroma 128.
constexpr int chromaBits = lumaBits + 2;
constexpr int ur = fixed(-kr / (2 * (1 - kb)) * chromaScale, lumaBits),
              ug = fixed(-kg / (2 * (1 - kb)) * chromaScale, lumaBits), ub = -(ur + ug);
constexpr int vg = fixed(-kg / (2 * (1 - kr)) * chromaScale, lumaBits),
              vb = fixed(-kb / (2 * (1 - kr)) * chromaScale, lumaBits), vr = -(vg + vb);
constexpr int chromaOffset = (128 << chromaBits) + (1 << (chromaBits - 1));

inline uint8_t luma(int r, int g, int b) {
    return uint8_t((yr * r + yg * g + yb * b + lumaOffset) >> lumaBits);
}

// Two picture rows into two luma rows and one row of each chroma plane, `pairs` columns pairs long. R and
// B are the byte offsets of red and blue in a pixel.
template <int R, int B>
void convertRowPair(const uint8_t* __restrict top, const uint8_t* __restrict bottom, uint8_t* __restrict y0,
                    uint8_t* __restrict y1, uint8_t* __restrict u, uint8_t* __restrict v, int pairs) {
    for (int i = 0; i < pairs; ++i) {
        const uint8_t* a = top + 8 * i;
        const uint8_t* b = bottom + 8 * i;
        y0[2 * i] = luma(a[R], a[1], a[B]);
        y0[2 * i + 1] = luma(a[4 + R], a[5], a[4 + B]);
        y1[2 * i] = luma(b[R], b[1], b[B]);
        y1[2 * i + 1] = luma(b[4 + R], b[5], b[4 + B]);
        const int r = a[R] + a[4 + R] + b[R] + b[4 + R];
        const int g = a[1] + a[5] + b[1] + b[5];
        const int bl = a[B] + a[4 + B] + b[B] + b[4 + B];
        u[i] = uint8_t((ur * r + ug * g + ub * bl + chromaOffset) >> chromaBits);
        v[i] = uint8_t((vr * r + vg * g + vb * bl + chromaOffset) >> chromaBits);
    }
}

} // namespace

void convertToYuv420(const PixelBuffer& source, const Yuv420Planes& planes, QRect area) {
    const int left = std::max(0, area.left() & ~1), top = std::max(0, area.top() & ~1);
    const int right = std::min(source.width, (area.right() + 2) & ~1);
    const int bottom = std::min(source.height, (area.bottom() + 2) & ~1);
    if (left >= right || top >= bottom) return;
    const int pairs = (right - left) / 2;
    const auto rowPair = source.order == PixelOrder::BGRA ? convertRowPair<2, 0> : convertRowPair<0, 2>;
    for (int row = top; row < bottom; row += 2) {
        const uint8_t* picture = source.data + size_t(row) * size_t(source.bytesPerRow) + size_t(left) * 4;
        rowPair(picture, picture + source.bytesPerRow, planes.y + size_t(row) * size_t(planes.yStride) + left,
                planes.y + size_t(row + 1) * size_t(planes.yStride) + left,
                planes.u + size_t(row / 2) * size_t(planes.uStride) + left / 2,
                planes.v + size_t(row / 2) * size_t(planes.vStride) + left / 2, pairs);
    }
}

} // namespace ffmpeg
