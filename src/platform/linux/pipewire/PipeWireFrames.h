#pragma once

#include "platform/PixelBuffer.h"

#include <QPoint>
#include <QSize>

#include <chrono>
#include <cstdint>
#include <optional>

// The decisions the PipeWire capture stream makes about each buffer, apart from PipeWire itself.
namespace PipeWireFrames {

enum class Kind { Complete, Idle, Dropped };

struct BufferFacts {
    bool corrupted = false; // flagged in the buffer's header or its chunk
    bool mapped = false;    // the memory is readable here
    uint32_t chunkSize = 0;
};

// A corrupted or unreadable buffer is dropped; one without pixels (only the cursor moved, or nothing
// changed) is idle; the rest carry a new picture.
Kind classify(const BufferFacts& facts);

// The byte order of a SPA video format the stream accepts; none for any other format.
std::optional<PixelOrder> orderOf(uint32_t spaVideoFormat);

// Whether `height` rows of `width` 32-bit pixels, `stride` bytes apart from `offset`, lie inside `size`.
bool fits(int width, int height, int stride, uint32_t offset, uint32_t size);

// A pointer image the compositor sends beside the picture (cursor mode "metadata"), with premultiplied
// alpha, as every compositor hands it out.
struct CursorImage {
    QSize size;
    int bytesPerRow = 0;
    PixelOrder order = PixelOrder::BGRA;
    const uint8_t* pixels = nullptr;
};

// Draws the pointer over a picture with its top left corner at `topLeft`; whatever lies outside the
// picture is left out.
void drawCursor(uint8_t* picture, QSize size, int bytesPerRow, PixelOrder order, const CursorImage& cursor,
                QPoint topLeft);

// Passes at most one frame per interval. A frame that comes early is held back, not lost: the
// compositor sends nothing more while the screen stays still, so the last picture must still be
// shown, once its time has come.
class Gate {
public:
    using Nanoseconds = std::chrono::nanoseconds;
    explicit Gate(Nanoseconds interval)
        : m_interval(interval) {}

    // True when a frame arriving at `now` may pass now. Jitter of a quarter interval is forgiven.
    bool admit(Nanoseconds now);
    // When a held-back frame may pass.
    Nanoseconds next() const { return m_next; }

private:
    Nanoseconds m_interval;
    Nanoseconds m_next{0};
};

} // namespace PipeWireFrames
