#pragma once

#include "platform/Error.h"
#include "platform/linux/wayland/RestoreTokenFile.h"

#include <QDBusConnection>
#include <QSize>

#include <functional>
#include <memory>

// One ScreenCast portal session sharing one monitor: asked for (or restored from the stored token) when
// opened, closed with the object. Opening blocks until the user has answered the desktop's dialog; call it
// on a worker thread. `onClosed` runs on the main thread when the desktop ends the session (the user
// stopped sharing from its indicator).
class ScreenCastSession final {
public:
    struct Stream {
        uint32_t node = 0;
        QSize size;
    };

    static Result<std::unique_ptr<ScreenCastSession>> open(const RestoreTokenFile& tokens);
    ~ScreenCastSession();

    const Stream& stream() const { return m_stream; }
    // The pointer comes beside the pictures, for us to draw, rather than in them.
    bool cursorAsMetadata() const { return m_cursorMode == 4; }
    // A connection to the PipeWire daemon that can see the shared stream; the caller owns the descriptor.
    Result<int> openPipeWireRemote();
    void setOnClosed(std::function<void()> onClosed);

    // The cursor mode to ask for among those the portal offers (a bit mask): embedded where possible,
    // else metadata, else none.
    static uint cursorMode(uint available);

private:
    class Listener;
    explicit ScreenCastSession(QDBusConnection bus);

    QDBusConnection m_bus;
    QString m_handle;
    Stream m_stream;
    uint m_cursorMode = 0;
    Listener* m_listener = nullptr; // lives on the main thread; deleted there
};
