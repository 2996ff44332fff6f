#pragma once

#include "base/Error.h"

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

// xcb hands out replies, events and errors as malloc'ed structs.
struct XcbFree {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using XcbReply = std::unique_ptr<T, XcbFree>;
using XcbEvent = XcbReply<xcb_generic_event_t>;

// Waits for the reply of a request; none when the request failed or the connection broke. The error, if
// any, is freed here so it never lands in the event queue.
template <typename Reply, typename Cookie>
XcbReply<Reply> xcbReply(xcb_connection_t* connection,
                         Reply* (*replyFunction)(xcb_connection_t*, Cookie, xcb_generic_error_t**),
                         Cookie cookie) {
    xcb_generic_error_t* error = nullptr;
    XcbReply<Reply> reply(replyFunction(connection, cookie, &error));
    std::free(error);
    return reply;
}

// True when a checked request without reply succeeded.
inline bool xcbSucceeded(xcb_connection_t* connection, xcb_void_cookie_t cookie) {
    XcbReply<xcb_generic_error_t> error(xcb_request_check(connection, cookie));
    return !error;
}

// One client connection to an X display and its default screen. Move-only; disconnects when destroyed.
class XcbConnection {
public:
    static constexpr int connectAttempts = 4;
    // An empty name means $DISPLAY.
    static Result<XcbConnection> open(const QString& displayName);

    xcb_connection_t* get() const { return m_connection.get(); }
    xcb_screen_t* screen() const { return m_screen; }
    xcb_window_t root() const { return m_screen->root; }
    bool hasError() const { return xcb_connection_has_error(m_connection.get()) != 0; }
    // The extension's query data (first event code …), or null when the server lacks it.
    const xcb_query_extension_reply_t* extension(xcb_extension_t* id) const;

private:
    struct Disconnect {
        void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
    };
    XcbConnection(xcb_connection_t* connection, xcb_screen_t* screen)
        : m_connection(connection)
        , m_screen(screen) {}

    std::unique_ptr<xcb_connection_t, Disconnect> m_connection;
    xcb_screen_t* m_screen = nullptr; // points into the connection's setup data
};
