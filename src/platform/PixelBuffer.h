#pragma once

#include <QRect>
#include <QSize>

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

// Byte order of a 32-bit pixel in memory; the fourth byte is alpha or padding and is never read.
enum class PixelOrder { BGRA, RGBA };

// A captured 32-bit picture. The capture backend owns the memory (a pool of shared buffers); holders keep
// it alive through the shared pointer and give it back by dropping it, so frames travel to the encoder
// without a copy.
struct PixelBuffer {
    const uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    int bytesPerRow = 0;
    PixelOrder order = PixelOrder::BGRA;

    // Which picture this is, unique in the process, and what differs from the one before it in the same
    // stream: `changed` holds every rectangle (picture coordinates) where this picture may differ from
    // picture `previous`. With `previous` 0 the whole picture counts as new. Lets the encoder convert only
    // what changed into the picture it keeps.
    uint64_t sequence = 0;
    uint64_t previous = 0;
    std::vector<QRect> changed = {};
};

// The next picture number of the process; never 0.
inline uint64_t nextPictureSequence() {
    static std::atomic<uint64_t> last{0};
    return ++last;
}

using PixelBufferRef = std::shared_ptr<const PixelBuffer>;

// More changed areas than this are replaced by their bounds: many small ones (a page of text redrawn)
// cost more to walk than their bounds to convert.
inline constexpr size_t maxChangedAreas = 64;

inline void boundIfMany(std::vector<QRect>& areas) {
    if (areas.size() <= maxChangedAreas) return;
    QRect bounds;
    for (const QRect& area : areas)
        bounds |= area;
    areas.assign(1, bounds);
}

// Sets `picture.changed` to `areas`, moved by `offset` into picture coordinates and clipped to `size`.
inline void setChanged(PixelBuffer& picture, const std::vector<QRect>& areas, QSize size,
                       QPoint offset = QPoint()) {
    const QRect inside(QPoint(0, 0), size);
    picture.changed.clear();
    for (const QRect& area : areas)
        if (const QRect clipped = area.translated(offset) & inside; !clipped.isEmpty())
            picture.changed.push_back(clipped);
    boundIfMany(picture.changed);
}
