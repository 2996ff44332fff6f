#include "platform/linux/x11/XcbCursor.h"

#include "platform/linux/x11/XcbConnection.h"

#include <xcb/xfixes.h>

#include <cstring>

void XcbCursor::noteSerial(uint32_t serial) {
    if (m_argb.empty() || serial != m_serial) m_stale = true;
}

void XcbCursor::refresh(xcb_connection_t* connection) {
    if (!m_stale) return;
    auto reply =
        xcbReply(connection, xcb_xfixes_get_cursor_image_reply, xcb_xfixes_get_cursor_image(connection));
    if (!reply) return;
    const int length = xcb_xfixes_get_cursor_image_cursor_image_length(reply.get());
    if (length != int(reply->width) * int(reply->height)) return;
    m_argb.resize(size_t(length));
    std::memcpy(m_argb.data(), xcb_xfixes_get_cursor_image_cursor_image(reply.get()), size_t(length) * 4);
    m_size = QSize(reply->width, reply->height);
    m_hotspot = QPoint(reply->xhot, reply->yhot);
    m_serial = reply->cursor_serial;
    m_stale = false;
}

QRect XcbCursor::bounds(QPoint pointer) const {
    if (m_argb.empty()) return QRect(pointer - QPoint(64, 64), QSize(128, 128));
    return QRect(pointer - m_hotspot, m_size);
}

void XcbCursor::draw(uint8_t* pixels, int bytesPerRow, QRect frame, QPoint pointer) const {
    if (m_argb.empty()) return;
    const QRect cursor = bounds(pointer);
    const QRect visible = cursor.intersected(frame);
    for (int y = visible.top(); y <= visible.bottom(); ++y) {
        const uint32_t* source = m_argb.data() + size_t(y - cursor.top()) * size_t(m_size.width());
        auto* target = reinterpret_cast<uint32_t*>(pixels + size_t(y - frame.top()) * size_t(bytesPerRow));
        for (int x = visible.left(); x <= visible.right(); ++x) {
            const uint32_t s = source[x - cursor.left()];
            const uint32_t alpha = s >> 24;
            uint32_t& d = target[x - frame.left()];
            if (alpha == 0xff) {
                d = s;
            } else if (alpha != 0) {
                // Premultiplied "over", per channel; 0xff00ff masks blend red and blue in one multiply.
                const uint32_t keep = 255 - alpha;
                const uint32_t rb = ((d & 0xff00ff) * keep + 0x800080) >> 8 & 0xff00ff;
                const uint32_t ag = ((d >> 8 & 0xff00ff) * keep + 0x800080) & 0xff00ff00;
                d = s + (rb | ag);
            }
        }
    }
}
