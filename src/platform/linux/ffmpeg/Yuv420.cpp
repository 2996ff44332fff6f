#include "platform/linux/ffmpeg/Yuv420.h"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ffmpeg {

namespace {

constexpr int fixed(double value, int bits) {
    const double scaled = value * double(1 << bits);
    return int(scaled >= 0 ? scaled + 0.5 : scaled - 0.5);
}

// Y = 16 + 219/255 (Kr R + Kg G + Kb B); Cb and Cr = 128 + 224/255 of the scaled colour differences.
// Fifteen bits keep every coefficient within a signed 16-bit lane, so SSE2's multiply-add of 16-bit pairs
// computes the very sums the scalar code does: both paths give the same bytes.
constexpr double kr = 0.2126, kb = 0.0722, kg = 1 - kr - kb;
constexpr double lumaScale = 219.0 / 255, chromaScale = 224.0 / 255;
constexpr int lumaBits = 15;
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
static_assert(yg < 32768 && ub < 32768 && vr < 32768 && ug >= -32768 && vg >= -32768);

inline uint8_t luma(int r, int g, int b) {
    return uint8_t((yr * r + yg * g + yb * b + lumaOffset) >> lumaBits);
}

// Two picture rows into two luma rows and one row of each chroma plane, `pairs` columns pairs long. R and
// B are the byte offsets of red and blue in a pixel.
template <int R, int B>
void convertPairsScalar(const uint8_t* __restrict top, const uint8_t* __restrict bottom,
                        uint8_t* __restrict y0, uint8_t* __restrict y1, uint8_t* __restrict u,
                        uint8_t* __restrict v, int pairs) {
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

#if defined(__SSE2__)

// The coefficients of one pixel's four bytes, in memory order, twice (two pixels per register).
template <int R, int B> __m128i coefficients(int red, int green, int blue) {
    int16_t c[4] = {};
    c[R] = int16_t(red);
    c[1] = int16_t(green);
    c[B] = int16_t(blue);
    return _mm_setr_epi16(c[0], c[1], c[2], c[3], c[0], c[1], c[2], c[3]);
}

// Sums the pairs of 32-bit lanes of `a` and `b`: {a0 + a1, a2 + a3, b0 + b1, b2 + b3}.
inline __m128i addPairs(__m128i a, __m128i b) {
    const __m128 fa = _mm_castsi128_ps(a), fb = _mm_castsi128_ps(b);
    return _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(2, 0, 2, 0))),
                         _mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(3, 1, 3, 1))));
}

// The four values in `sums` (each a sum plus its offset) shifted down and packed next to `other`'s.
template <int Bits> inline __m128i scaled(__m128i sums, __m128i other) {
    return _mm_packs_epi32(_mm_srai_epi32(other, Bits), _mm_srai_epi32(sums, Bits));
}

// Sixteen columns at a time with SSE2 (part of every x86-64), the rest as above.
template <int R, int B>
void convertRowPair(const uint8_t* __restrict top, const uint8_t* __restrict bottom, uint8_t* __restrict y0,
                    uint8_t* __restrict y1, uint8_t* __restrict u, uint8_t* __restrict v, int pairs) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i lumaK = coefficients<R, B>(yr, yg, yb), uK = coefficients<R, B>(ur, ug, ub),
                  vK = coefficients<R, B>(vr, vg, vb);
    const __m128i lumaAdd = _mm_set1_epi32(lumaOffset), chromaAdd = _mm_set1_epi32(chromaOffset);
    int i = 0;
    for (; i + 8 <= pairs; i += 8) {
        __m128i lumaTop[4], lumaBottom[4], uSums[2], vSums[2];
        for (int k = 0; k < 4; ++k) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + 8 * i + 16 * k));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + 8 * i + 16 * k));
            // Each pixel's four bytes as 16-bit lanes: two pixels per register.
            const __m128i aLow = _mm_unpacklo_epi8(a, zero), aHigh = _mm_unpackhi_epi8(a, zero);
            const __m128i bLow = _mm_unpacklo_epi8(b, zero), bHigh = _mm_unpackhi_epi8(b, zero);
            lumaTop[k] =
                _mm_add_epi32(addPairs(_mm_madd_epi16(aLow, lumaK), _mm_madd_epi16(aHigh, lumaK)), lumaAdd);
            lumaBottom[k] =
                _mm_add_epi32(addPairs(_mm_madd_epi16(bLow, lumaK), _mm_madd_epi16(bHigh, lumaK)), lumaAdd);
            // The two blocks' channel sums, one block per half.
            const __m128i low = _mm_add_epi16(aLow, bLow), high = _mm_add_epi16(aHigh, bHigh);
            const __m128i blocks = _mm_unpacklo_epi64(_mm_add_epi16(low, _mm_srli_si128(low, 8)),
                                                      _mm_add_epi16(high, _mm_srli_si128(high, 8)));
            const __m128i uPair = _mm_madd_epi16(blocks, uK), vPair = _mm_madd_epi16(blocks, vK);
            if (k % 2 == 0) {
                uSums[k / 2] = uPair;
                vSums[k / 2] = vPair;
            } else {
                uSums[k / 2] = _mm_add_epi32(addPairs(uSums[k / 2], uPair), chromaAdd);
                vSums[k / 2] = _mm_add_epi32(addPairs(vSums[k / 2], vPair), chromaAdd);
            }
        }
        const __m128i topBytes = _mm_packus_epi16(scaled<lumaBits>(lumaTop[1], lumaTop[0]),
                                                  scaled<lumaBits>(lumaTop[3], lumaTop[2]));
        const __m128i bottomBytes = _mm_packus_epi16(scaled<lumaBits>(lumaBottom[1], lumaBottom[0]),
                                                     scaled<lumaBits>(lumaBottom[3], lumaBottom[2]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(y0 + 2 * i), topBytes);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(y1 + 2 * i), bottomBytes);
        const __m128i chroma =
            _mm_packus_epi16(scaled<chromaBits>(uSums[1], uSums[0]), scaled<chromaBits>(vSums[1], vSums[0]));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(u + i), chroma);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(v + i), _mm_srli_si128(chroma, 8));
    }
    convertPairsScalar<R, B>(top + 8 * i, bottom + 8 * i, y0 + 2 * i, y1 + 2 * i, u + i, v + i, pairs - i);
}

#else

template <int R, int B>
void convertRowPair(const uint8_t* top, const uint8_t* bottom, uint8_t* y0, uint8_t* y1, uint8_t* u,
                    uint8_t* v, int pairs) {
    convertPairsScalar<R, B>(top, bottom, y0, y1, u, v, pairs);
}

#endif

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
