#pragma once

#include <QPoint>

#include <xcb/xcb.h>

#include <memory>
#include <optional>

// Questions about the X desktop the notch panel asks often or that Qt does not answer: where the pointer
// is, and whether a compositing manager runs (it owns the _NET_WM_CM_S<screen> selection). Asks on a
// connection of its own: a query on Qt's connection also wakes Qt's event reader thread, which doubles
// the cost of the twenty pointer queries a second. Main thread only.
class X11DesktopProbe {
public:
    // None when the display cannot be opened.
    static std::unique_ptr<X11DesktopProbe> open();

    // In the X screen's pixels; none when the connection broke or the pointer is on another screen.
    std::optional<QPoint> pointer() const;
    bool compositingManagerRunning() const;

private:
    struct Disconnect {
        void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
    };
    X11DesktopProbe(xcb_connection_t* connection, xcb_window_t root, xcb_atom_t selection)
        : m_connection(connection)
        , m_root(root)
        , m_selection(selection) {}

    std::unique_ptr<xcb_connection_t, Disconnect> m_connection;
    xcb_window_t m_root;
    xcb_atom_t m_selection;
};
