#include "platform/linux/x11/X11DesktopProbe.h"

#include "platform/linux/x11/XcbConnection.h"

#include <QByteArray>

#include <xcb/xinput.h>

#include <cstdlib>

namespace {
// Motion the raw events do not report (a warp by another client, a screen change that moves the pointer)
// is still seen within this long.
constexpr std::chrono::milliseconds requeryAfter{1000};
} // namespace

std::unique_ptr<X11DesktopProbe> X11DesktopProbe::open() {
    int screenNumber = 0;
    // $DISPLAY, as Qt's own connection uses.
    xcb_connection_t* connection = xcb_connect(nullptr, &screenNumber);
    if (!connection || xcb_connection_has_error(connection)) {
        if (connection) xcb_disconnect(connection);
        return nullptr;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screenNumber);
    auto atom = xcbReply(connection, xcb_intern_atom_reply,
                         xcb_intern_atom(connection, 0, uint16_t(name.size()), name.constData()));
    if (screens.rem == 0 || !atom) {
        xcb_disconnect(connection);
        return nullptr;
    }
    std::unique_ptr<X11DesktopProbe> probe(new X11DesktopProbe(connection, screens.data->root, atom->atom));
    probe->watchMotion();
    return probe;
}

void X11DesktopProbe::watchMotion() {
    xcb_connection_t* c = m_connection.get();
    const xcb_query_extension_reply_t* xinput = xcb_get_extension_data(c, &xcb_input_id);
    if (!xinput || !xinput->present) return;
    // Raw events reach a root window listener whoever grabs the pointer from 2.1 on; touch needs 2.2.
    auto version = xcbReply(c, xcb_input_xi_query_version_reply, xcb_input_xi_query_version(c, 2, 2));
    if (!version || version->major_version < 2 || (version->major_version == 2 && version->minor_version < 2))
        return;
    struct {
        xcb_input_event_mask_t head;
        uint32_t bits;
    } mask{{XCB_INPUT_DEVICE_ALL_MASTER, 1},
           XCB_INPUT_XI_EVENT_MASK_RAW_MOTION | XCB_INPUT_XI_EVENT_MASK_RAW_TOUCH_BEGIN |
               XCB_INPUT_XI_EVENT_MASK_RAW_TOUCH_UPDATE | XCB_INPUT_XI_EVENT_MASK_RAW_TOUCH_END};
    m_watching = xcbSucceeded(c, xcb_input_xi_select_events_checked(c, m_root, 1, &mask.head));
}

bool X11DesktopProbe::inputArrived() {
    // Only raw input events are selected here, so any event means the pointer may have moved. Errors land
    // here too, and count the same.
    bool any = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection.get())) {
        std::free(event);
        any = true;
    }
    return any;
}

std::optional<QPoint> X11DesktopProbe::pointer() {
    // Twenty times a second, all day: while the pointer rests, the last answer stands, and neither this
    // process nor the X server wakes for a round trip.
    const auto now = std::chrono::steady_clock::now();
    if (m_watching && !inputArrived() && m_last && now - m_lastQuery < requeryAfter) return m_last;
    xcb_connection_t* c = m_connection.get();
    auto reply = xcbReply(c, xcb_query_pointer_reply, xcb_query_pointer(c, m_root));
    m_lastQuery = now;
    if (!reply || !reply->same_screen)
        m_last.reset();
    else
        m_last = QPoint(reply->root_x, reply->root_y);
    return m_last;
}

bool X11DesktopProbe::compositingManagerRunning() const {
    xcb_connection_t* c = m_connection.get();
    auto owner = xcbReply(c, xcb_get_selection_owner_reply, xcb_get_selection_owner(c, m_selection));
    return owner && owner->owner != XCB_NONE;
}
