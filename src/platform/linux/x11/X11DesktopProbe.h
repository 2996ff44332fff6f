#pragma once

#include <QPoint>

#include <xcb/xcb.h>

#include <chrono>
#include <memory>
#include <optional>

// Questions about the X desktop the notch panel asks often or that Qt does not answer: where the pointer
// is, and whether a compositing manager runs (it owns the _NET_WM_CM_S<screen> selection). Asks on a
// connection of its own: a query on Qt's connection also wakes Qt's event reader thread. The pointer is
// queried only after the input devices reported motion, or once a second; the reports wait on the
// connection until the next question, so it is meant to be asked regularly. Main thread only.
class X11DesktopProbe {
public:
    // None when the display cannot be opened.
    static std::unique_ptr<X11DesktopProbe> open();

    // In the X screen's pixels; none when the connection broke or the pointer is on another screen.
    std::optional<QPoint> pointer();
    bool compositingManagerRunning() const;

private:
    struct Disconnect {
        void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
    };
    X11DesktopProbe(xcb_connection_t* connection, xcb_window_t root, xcb_atom_t selection)
        : m_connection(connection)
        , m_root(root)
        , m_selection(selection) {}

    // Asks for the input devices' raw motion, so a still pointer needs no query.
    void watchMotion();
    // True when input arrived since the last call; reads what the socket holds without waiting.
    bool inputArrived();

    std::unique_ptr<xcb_connection_t, Disconnect> m_connection;
    xcb_window_t m_root;
    xcb_atom_t m_selection;
    bool m_watching = false;
    std::optional<QPoint> m_last;
    std::chrono::steady_clock::time_point m_lastQuery;
};
