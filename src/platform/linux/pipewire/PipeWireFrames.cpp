#include "platform/linux/pipewire/PipeWireFrames.h"

#include <spa/param/video/raw.h>

#include <algorithm>

namespace PipeWireFrames {

Kind classify(const BufferFacts& facts) {
    if (facts.corrupted || !facts.mapped) return Kind::Dropped;
    if (facts.chunkSize == 0) return Kind::Idle;
    return Kind::Complete;
}

std::optional<PixelOrder> orderOf(uint32_t spaVideoFormat) {
    switch (spaVideoFormat) {
    case SPA_VIDEO_FORMAT_BGRx:
    case SPA_VIDEO_FORMAT_BGRA:
        return PixelOrder::BGRA;
    case SPA_VIDEO_FORMAT_RGBx:
    case SPA_VIDEO_FORMAT_RGBA:
        return PixelOrder::RGBA;
    default:
        return std::nullopt;
    }
}

bool fits(int width, int height, int stride, uint32_t offset, uint32_t size) {
    if (width <= 0 || height <= 0 || stride < width * 4) return false;
    const uint64_t end = uint64_t(offset) + uint64_t(stride) * uint64_t(height - 1) + uint64_t(width) * 4;
    return end <= size;
}

void drawCursor(uint8_t* picture, QSize size, int bytesPerRow, PixelOrder order, const CursorImage& cursor,
                QPoint topLeft) {
    const bool swap = order != cursor.order; // red and blue trade places
    const int firstRow = std::max(0, -topLeft.y());
    const int lastRow = std::min(cursor.size.height(), size.height() - topLeft.y());
    const int firstColumn = std::max(0, -topLeft.x());
    const int lastColumn = std::min(cursor.size.width(), size.width() - topLeft.x());
    for (int row = firstRow; row < lastRow; ++row) {
        const uint8_t* source = cursor.pixels + size_t(row) * size_t(cursor.bytesPerRow);
        uint8_t* target = picture + size_t(topLeft.y() + row) * size_t(bytesPerRow);
        for (int column = firstColumn; column < lastColumn; ++column) {
            const uint8_t* s = source + column * 4;
            const int alpha = s[3];
            if (alpha == 0) continue;
            uint8_t* t = target + (topLeft.x() + column) * 4;
            const uint8_t colour[3] = {s[swap ? 2 : 0], s[1], s[swap ? 0 : 2]};
            for (int channel = 0; channel < 3; ++channel)
                t[channel] =
                    uint8_t(std::min(255, colour[channel] + (t[channel] * (255 - alpha) + 127) / 255));
        }
    }
}

bool Gate::admit(Nanoseconds now) {
    if (now + m_interval / 4 < m_next) return false;
    // A frame long after the last starts the grid afresh; otherwise the grid keeps its beat.
    m_next = now - m_next > m_interval ? now + m_interval : m_next + m_interval;
    return true;
}

} // namespace PipeWireFrames
