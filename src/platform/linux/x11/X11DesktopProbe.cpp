#include "platform/linux/x11/X11DesktopProbe.h"

#include <QByteArray>

#include <cstdlib>

namespace {
template <typename T> using Reply = std::unique_ptr<T, decltype(&std::free)>;
}

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
    Reply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, uint16_t(name.size()), name.constData()), nullptr),
        &std::free);
    if (screens.rem == 0 || !atom) {
        xcb_disconnect(connection);
        return nullptr;
    }
    return std::unique_ptr<X11DesktopProbe>(new X11DesktopProbe(connection, screens.data->root, atom->atom));
}

std::optional<QPoint> X11DesktopProbe::pointer() const {
    xcb_connection_t* c = m_connection.get();
    Reply<xcb_query_pointer_reply_t> reply(xcb_query_pointer_reply(c, xcb_query_pointer(c, m_root), nullptr),
                                           &std::free);
    if (!reply || !reply->same_screen) return std::nullopt;
    return QPoint(reply->root_x, reply->root_y);
}

bool X11DesktopProbe::compositingManagerRunning() const {
    xcb_connection_t* c = m_connection.get();
    Reply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, m_selection), nullptr), &std::free);
    return owner && owner->owner != XCB_NONE;
}
