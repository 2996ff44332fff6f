#include "platform/linux/wayland/PipeWireFrames.h"

#include <spa/param/video/raw.h>

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

bool Gate::admit(Nanoseconds now) {
    if (now + m_interval / 4 < m_next) return false;
    // A frame long after the last starts the grid afresh; otherwise the grid keeps its beat.
    m_next = now - m_next > m_interval ? now + m_interval : m_next + m_interval;
    return true;
}

} // namespace PipeWireFrames
