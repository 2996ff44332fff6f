#pragma once

#include "base/Error.h"
#include "platform/ScreenCapture.h"
#include "platform/linux/portal/RestoreTokenFile.h"

#include <QDBusConnection>
#include <QSize>

#include <functional>
#include <memory>

// One ScreenCast portal session sharing one monitor: asked for (or restored from the stored token) when
// opened, closed with the object. `onClosed` runs on the main thread when the desktop ends the session
// (the user stopped sharing from its indicator).
class ScreenCastSession final {
public:
    struct Stream {
        uint32_t node = 0;
        QSize size;
    };
    using Opened = std::function<void(Result<std::unique_ptr<ScreenCastSession>>)>;

    // CreateSession, SelectSources, Start (where the desktop may ask the user) and OpenPipeWireRemote, one
    // after the other without waiting on any thread. `done` runs once on this thread; dropping the answer
    // first closes the request in flight and the session.
    static std::unique_ptr<PendingAnswer> open(const RestoreTokenFile& tokens, Opened done);
    ~ScreenCastSession();

    const Stream& stream() const { return m_stream; }
    // The pointer comes beside the pictures, for us to draw, rather than in them.
    bool cursorAsMetadata() const { return m_cursorMode == 4; }
    // The connection to the PipeWire daemon that can see the shared stream; the caller owns it from here.
    int takePipeWireRemote() { return std::exchange(m_pipeWireFd, -1); }
    void setOnClosed(std::function<void()> onClosed);

    // The cursor mode to ask for among those the portal offers (a bit mask): embedded where possible,
    // else metadata, else none.
    static uint cursorMode(uint available);

private:
    class Listener;
    class Opening;
    explicit ScreenCastSession(QDBusConnection bus);
    void listen(const RestoreTokenFile& tokens);

    QDBusConnection m_bus;
    QString m_handle;
    Stream m_stream;
    uint m_cursorMode = 0;
    int m_pipeWireFd = -1;
    Listener* m_listener = nullptr; // lives on the main thread; deleted there
};
