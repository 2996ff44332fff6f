#include "platform/linux/pipewire/PipeWireFrames.h"

#include <spa/param/video/raw.h>

#include <algorithm>
#include <utility>

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

void Changes::addBuffer(const std::optional<std::vector<QRect>>& damage) {
    if (!damage) {
        m_sinceCopyKnown = false;
        m_sinceCopy.clear();
        return;
    }
    if (!m_sinceCopyKnown) return;
    m_sinceCopy.insert(m_sinceCopy.end(), damage->begin(), damage->end());
    boundIfMany(m_sinceCopy); // while no picture is copied for long (the encoder stalled, say)
}

void Changes::describeCopy(PixelBuffer& picture, QSize size, QRect pointer) {
    describe(picture, size, std::exchange(m_sinceCopy, {}), std::exchange(m_sinceCopyKnown, true), pointer);
}

void Changes::describeRedraw(PixelBuffer& picture, QSize size, QRect pointer) {
    // The pixels are those of the last copy: only the pointer moved over them.
    describe(picture, size, {}, true, pointer);
}

void Changes::reset() {
    m_sinceCopy.clear();
    m_sinceCopyKnown = false;
    m_last = 0;
    m_lastPointer = QRect();
}

void Changes::describe(PixelBuffer& picture, QSize size, std::vector<QRect> changed, bool known,
                       QRect pointer) {
    const uint64_t previous = std::exchange(m_last, picture.sequence);
    if (!m_lastPointer.isEmpty()) changed.push_back(m_lastPointer);
    if (!pointer.isEmpty()) changed.push_back(pointer);
    m_lastPointer = pointer;
    if (!known || previous == 0) return;
    setChanged(picture, changed, size);
    picture.previous = previous;
}

void absorb(PixelBuffer& newer, const PixelBuffer& older) {
    if (newer.previous != older.sequence || older.previous == 0) {
        newer.previous = 0;
        newer.changed.clear();
        return;
    }
    newer.previous = older.previous;
    newer.changed.insert(newer.changed.end(), older.changed.begin(), older.changed.end());
    boundIfMany(newer.changed);
}

bool Gate::admit(Nanoseconds now) {
    if (now + m_interval / 4 < m_next) return false;
    // A frame long after the last starts the grid afresh; otherwise the grid keeps its beat.
    m_next = now - m_next > m_interval ? now + m_interval : m_next + m_interval;
    return true;
}

} // namespace PipeWireFrames
