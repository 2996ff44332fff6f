#pragma once

#include "platform/PixelBuffer.h"

#include <QPoint>
#include <QRect>
#include <QSize>

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

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

// Says where each picture may differ from the one made before it, from the damage the compositor sends
// with every buffer, relative to the buffer it sent before. So the damage of every buffer counts, also of
// those skipped, unreadable or without pixels, until a picture is copied from a newer one. A buffer
// without damage leaves the next picture wholly new.
class Changes {
public:
    // A buffer taken off the stream: its damage in picture coordinates, or none when it gives none.
    void addBuffer(const std::optional<std::vector<QRect>>& damage);
    // A picture copied from the newest buffer, with the pointer drawn over `pointer` (empty: none).
    void describeCopy(PixelBuffer& picture, QSize size, QRect pointer);
    // A picture made of the last copied one again, with the pointer drawn over `pointer`.
    void describeRedraw(PixelBuffer& picture, QSize size, QRect pointer);
    // The stream starts over (a new format): the next picture is wholly new.
    void reset();

private:
    void describe(PixelBuffer& picture, QSize size, std::vector<QRect> changed, bool known, QRect pointer);

    std::vector<QRect> m_sinceCopy;
    bool m_sinceCopyKnown = false;
    uint64_t m_last = 0;
    QRect m_lastPointer;
};

// A picture that takes the place of `older`, never handed on: it then differs from the picture before
// `older` wherever either did.
void absorb(PixelBuffer& newer, const PixelBuffer& older);

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
