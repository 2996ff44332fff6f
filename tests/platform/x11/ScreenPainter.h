#pragma once

#include <QColor>
#include <QRect>
#include <QString>
#include <xcb/xcb.h>

// Draws on a test display and adds or removes RandR monitors, through a connection of its own. Every
// call returns once the server has done it.
class ScreenPainter {
public:
    explicit ScreenPainter(const QString& display);
    ~ScreenPainter();
    ScreenPainter(const ScreenPainter&) = delete;
    ScreenPainter& operator=(const ScreenPainter&) = delete;

    bool isConnected() const;
    // The root window's background.
    void fill(QColor color);
    // Maps a child window over `rect` that keeps what was shown there, then draws into that window.
    void fillInWindow(QRect rect, QColor color);
    bool addMonitor(const QString& name, QRect rect, bool primary);
    bool removeMonitor(const QString& name);

private:
    bool succeeded(xcb_void_cookie_t cookie);
    xcb_atom_t atom(const QString& name);

    xcb_connection_t* m_connection = nullptr;
    xcb_screen_t* m_screen = nullptr;
    xcb_gcontext_t m_gc = 0;
};
