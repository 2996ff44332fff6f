#pragma once

#include <QPoint>
#include <QRect>
#include <xcb/xcb.h>

#include <cstdint>
#include <vector>

// The pointer's picture from XFixes GetCursorImage, fetched again only when XFixes reports a new cursor
// serial, and drawn onto captured frames. Capture thread only.
class XcbCursor {
public:
    // From an XFixes cursor notify: the displayed cursor is now the one with this serial.
    void noteSerial(uint32_t serial);
    bool isStale() const { return m_stale; }
    // Fetches the picture when stale; a failed fetch keeps the old picture and stays stale.
    void refresh(xcb_connection_t* connection);

    // Where the picture lands for a pointer at this root position (a generous guess before the first fetch).
    QRect bounds(QPoint pointer) const;
    // Blends the premultiplied picture onto a BGRA frame that shows the root rectangle `frame`.
    void draw(uint8_t* pixels, int bytesPerRow, QRect frame, QPoint pointer) const;

private:
    std::vector<uint32_t> m_argb; // premultiplied, row-major
    QSize m_size;
    QPoint m_hotspot;
    uint32_t m_serial = 0;
    bool m_stale = true;
};
