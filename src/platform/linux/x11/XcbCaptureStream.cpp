#include "platform/linux/x11/XcbCaptureStream.h"

#include "platform/linux/MonotonicClock.h"
#include "platform/linux/x11/XcbCaptureSession.h"

#include <pthread.h>

XcbCaptureStream::XcbCaptureStream(QString displayName, DisplayInfo display,
                                   StreamConfiguration configuration, QObject* handlerContext,
                                   FrameHandler onFrame, StopHandler onStop)
    : m_displayName(std::move(displayName))
    , m_display(std::move(display))
    , m_configuration(configuration)
    , m_onStop(std::move(onStop))
    // Idle frames count too, so a stalled handler holds at most queueDepth frames of either kind.
    , m_delivery(handlerContext, std::move(onFrame), configuration.queueDepth) {}

XcbCaptureStream::~XcbCaptureStream() {
    stopCapture();
}

Status XcbCaptureStream::startCapture() {
    if (m_thread.joinable() || m_session)
        return platformError(QStringLiteral("The capture has already started."));
    // Set up on the caller's thread so that a display that cannot be captured fails the start.
    Result<std::unique_ptr<XcbCaptureSession>> session =
        XcbCaptureSession::open(m_displayName, m_display, m_configuration);
    if (!session) return session.error();
    m_session = session.take();
    m_thread = std::thread([this] { run(); });
    return Ok{};
}

void XcbCaptureStream::stopCapture() {
    Q_ASSERT(std::this_thread::get_id() != m_thread.get_id());
    {
        std::lock_guard lock(m_mutex);
        m_stopRequested = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
    m_delivery.close();
    m_session.reset();
}

// Capture thread.
void XcbCaptureStream::run() {
    using namespace std::chrono;
    // Named for profilers and top -H, where the benchmarks look for it.
    pthread_setname_np(pthread_self(), "ferrovane-grab");
    const nanoseconds interval(m_configuration.minimumFrameInterval.valueIn(MediaTime::nanosecondTimescale));
    steady_clock::time_point deadline = steady_clock::now();
    while (waitUntil(deadline)) {
        const steady_clock::time_point started = steady_clock::now();
        Result<std::optional<CapturedFrame>> tick = m_session->capture(MonotonicClock::read());
        if (!tick) {
            endWithError(tick.error());
            return;
        }
        if (!tick.value()) {
            ++m_dropped;
        } else {
            const bool complete = tick.value()->status == FrameStatus::Complete;
            if (!m_delivery.post(std::move(*tick.value())) && complete) ++m_dropped;
        }

        const nanoseconds next =
            nextTick(deadline.time_since_epoch(), steady_clock::now().time_since_epoch(), interval);
        m_dropped += (next - deadline.time_since_epoch()) / interval - 1;
        deadline = steady_clock::time_point(next);
        deadline = std::max(deadline, started + interval / 2);
    }
}

// A tick that is late by up to half an interval (a busy X server, a busy core) still runs, at once: jitter
// then costs no frames. Later than that it is skipped, and no tick ever follows the last one by less than
// half an interval, so a stall never bunches frames.
std::chrono::nanoseconds XcbCaptureStream::nextTick(std::chrono::nanoseconds previous,
                                                    std::chrono::nanoseconds now,
                                                    std::chrono::nanoseconds interval) {
    std::chrono::nanoseconds deadline = previous + interval;
    if (now - deadline > interval / 2) deadline += interval * ((now - deadline) / interval + 1);
    return deadline;
}

// False once a stop was requested.
bool XcbCaptureStream::waitUntil(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock lock(m_mutex);
    return !m_wake.wait_until(lock, deadline, [this] { return m_stopRequested; });
}

// Capture thread. Frames stop before the handler hears of it; a stop already requested by the owner wins.
void XcbCaptureStream::endWithError(const Error& error) {
    m_delivery.close();
    {
        std::lock_guard lock(m_mutex);
        if (m_stopRequested) return;
    }
    if (m_onStop) m_onStop(error);
}
