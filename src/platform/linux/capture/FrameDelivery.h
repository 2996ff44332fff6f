#pragma once

#include "platform/ScreenCapture.h"

#include <condition_variable>
#include <memory>
#include <mutex>

class QObject;
class QThread;

// Carries frames from the capture thread to the handler context's thread by queued invocation, and closes:
// once close() has returned no handler runs again, including for frames already queued. The context must
// outlive the delivery.
class FrameDelivery {
public:
    FrameDelivery(QObject* context, CaptureStream::FrameHandler handler, int maxPending);
    ~FrameDelivery();

    // Capture thread. False when the frame was not queued: too many frames still wait, or delivery closed.
    bool post(CapturedFrame frame);
    // Any thread. Waits for a handler running on another thread; on the context's thread none can be.
    void close();

private:
    struct Shared {
        std::mutex mutex;
        std::condition_variable handlerDone;
        bool open = true;     // guarded by mutex
        int pending = 0;      // frames queued and not yet handled or discarded; guarded by mutex
        bool running = false; // a handler is running; guarded by mutex
        CaptureStream::FrameHandler handler; // called on the context's thread only
        QThread* contextThread = nullptr;    // fixed at construction
    };
    struct Ticket;

    std::shared_ptr<Shared> m_shared;
    QObject* const m_context;
    const int m_maxPending;
};
