#include "platform/linux/x11/XcbConnection.h"

#include <QByteArray>

#include <chrono>
#include <thread>

Result<XcbConnection> XcbConnection::open(const QString& displayName) {
    const QByteArray name = displayName.toLocal8Bit();
    int screenNumber = 0;
    XcbConnection connection(xcb_connect(name.isEmpty() ? nullptr : name.constData(), &screenNumber),
                             nullptr);
    // X servers (Xvfb and Xorg alike) now and then drop a connection made right after another client
    // of the same process hung up; a moment later the same connect succeeds.
    for (int attempt = 1;
         attempt < connectAttempts && xcb_connection_has_error(connection.get()) == XCB_CONN_ERROR;
         ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10 * attempt));
        connection =
            XcbConnection(xcb_connect(name.isEmpty() ? nullptr : name.constData(), &screenNumber), nullptr);
    }
    if (!connection.hasError()) {
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
        for (int i = 0; it.rem > 0 && i < screenNumber; ++i)
            xcb_screen_next(&it);
        connection.m_screen = it.rem > 0 ? it.data : nullptr;
    }
    if (connection.hasError() || !connection.m_screen) {
        const QString shown = name.isEmpty() ? qEnvironmentVariable("DISPLAY") : displayName;
        return platformError(QStringLiteral("Cannot open the X display \"%1\".").arg(shown));
    }
    return connection;
}

const xcb_query_extension_reply_t* XcbConnection::extension(xcb_extension_t* id) const {
    const xcb_query_extension_reply_t* reply = xcb_get_extension_data(m_connection.get(), id);
    return reply && reply->present ? reply : nullptr;
}
