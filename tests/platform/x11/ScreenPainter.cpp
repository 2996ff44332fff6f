#include "ScreenPainter.h"

#include <xcb/randr.h>
#include <xcb/xcbext.h>

#include <sys/uio.h>

#include <cstdlib>
#include <memory>

namespace {

template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;

// The root visual is 24-bit true colour, so a pixel value is 0xRRGGBB.
uint32_t pixelOf(QColor color) {
    return color.rgb() & 0xffffff;
}

} // namespace

ScreenPainter::ScreenPainter(const QString& display) {
    m_connection = xcb_connect(display.toLocal8Bit().constData(), nullptr);
    if (xcb_connection_has_error(m_connection)) return;
    m_screen = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
    m_gc = xcb_generate_id(m_connection);
    xcb_create_gc(m_connection, m_gc, m_screen->root, 0, nullptr);
    Reply<xcb_randr_query_version_reply_t> version(
        xcb_randr_query_version_reply(m_connection, xcb_randr_query_version(m_connection, 1, 5), nullptr),
        &std::free);
}

ScreenPainter::~ScreenPainter() {
    xcb_disconnect(m_connection);
}

bool ScreenPainter::isConnected() const {
    return m_screen && !xcb_connection_has_error(m_connection);
}

void ScreenPainter::fill(QColor color) {
    const uint32_t pixel = pixelOf(color);
    xcb_change_window_attributes(m_connection, m_screen->root, XCB_CW_BACK_PIXEL, &pixel);
    succeeded(xcb_clear_area_checked(m_connection, 0, m_screen->root, 0, 0, 0, 0));
}

void ScreenPainter::fillInWindow(QRect rect, QColor color) {
    const xcb_window_t window = xcb_generate_id(m_connection);
    const uint32_t values[] = {XCB_BACK_PIXMAP_NONE, 1};
    xcb_create_window(m_connection, XCB_COPY_FROM_PARENT, window, m_screen->root, int16_t(rect.x()),
                      int16_t(rect.y()), uint16_t(rect.width()), uint16_t(rect.height()), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT,
                      XCB_CW_BACK_PIXMAP | XCB_CW_OVERRIDE_REDIRECT, values);
    xcb_map_window(m_connection, window);
    const uint32_t pixel = pixelOf(color);
    xcb_change_gc(m_connection, m_gc, XCB_GC_FOREGROUND, &pixel);
    const xcb_rectangle_t area{0, 0, uint16_t(rect.width()), uint16_t(rect.height())};
    succeeded(xcb_poly_fill_rectangle_checked(m_connection, window, m_gc, 1, &area));
}

bool ScreenPainter::addMonitor(const QString& name, QRect rect, bool primary) {
    xcb_randr_monitor_info_t info{atom(name),
                                  primary,
                                  0,
                                  0,
                                  int16_t(rect.x()),
                                  int16_t(rect.y()),
                                  uint16_t(rect.width()),
                                  uint16_t(rect.height()),
                                  100,
                                  100};
    // Sent by hand: libxcb 1.15's xcb_randr_set_monitor mis-sizes a monitor without outputs and aborts.
    xcb_randr_set_monitor_request_t request{};
    request.window = m_screen->root;
    iovec parts[6]{};
    parts[2] = {&request, sizeof request};
    parts[4] = {&info, sizeof info};
    const xcb_protocol_request_t protocol{4, &xcb_randr_id, XCB_RANDR_SET_MONITOR, 1};
    return succeeded({xcb_send_request(m_connection, XCB_REQUEST_CHECKED, parts + 2, &protocol)});
}

bool ScreenPainter::removeMonitor(const QString& name) {
    return succeeded(xcb_randr_delete_monitor_checked(m_connection, m_screen->root, atom(name)));
}

bool ScreenPainter::succeeded(xcb_void_cookie_t cookie) {
    Reply<xcb_generic_error_t> error(xcb_request_check(m_connection, cookie), &std::free);
    return !error;
}

xcb_atom_t ScreenPainter::atom(const QString& name) {
    const QByteArray latin = name.toLatin1();
    Reply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(m_connection,
                              xcb_intern_atom(m_connection, 0, uint16_t(latin.size()), latin.constData()),
                              nullptr),
        &std::free);
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}
