#include "platform/linux/x11/XcbCaptureStream.h"

#include "base/Logging.h"
#include "platform/linux/capture/MonotonicClock.h"
#include "platform/linux/x11/XcbCaptureSession.h"

#include <pthread.h>

XcbCaptureStream::XcbCaptureStream(QString displayName, DisplayInfo display,
                                   std::vector<int64_t> excludedProcessIds, StreamConfiguration configuration,
                                   QObject* handlerContext, FrameHandler onFrame, StopHandler onStop)
    : m_displayName(std::move(displayName))
    , m_display(std::move(display))
    , m_excludedProcessIds(std::move(excludedProcessIds))
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
        XcbCaptureSession::open(m_displayName, m_display, m_excludedProcessIds, m_configuration);
    if (!session) {
        qCDebug(lcCapture) << "cannot capture" << m_display.name << "on" << m_displayName << ":"
                           << session.error().message;
        return session.error();
    }
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

namespace {

std::chrono::nanoseconds monotonicNow() {
    return std::chrono::nanoseconds(MonotonicClock::read().valueIn(MediaTime::nanosecondTimescale));
}

} // namespace

// Capture thread.
void XcbCaptureStream::run() {
    using namespace std::chrono;
    // Named for profilers and top -H, where the benchmarks look for it.
    pthread_setname_np(pthread_self(), "ferrovane-grab");
    // Rounded up, so that frames are never closer than the interval, not even by a nanosecond.
    const MediaTime frameInterval = m_configuration.minimumFrameInterval;
    const nanoseconds interval(
        (frameInterval.value() * MediaTime::nanosecondTimescale + frameInterval.timescale() - 1) /
        frameInterval.timescale());
    nanoseconds previous = monotonicNow() - interval; // so the first tick is due at once
    for (;;) {
        const nanoseconds deadline = nextTick(previous, monotonicNow(), interval);
        if (!waitUntil(deadline)) return;
        // Woken too late for this deadline (a busy core): the tick waits for a later one.
        if (nextTick(previous, monotonicNow(), interval) != deadline) continue;
        const int64_t skipped = (deadline - previous) / interval - 1;
        if (skipped > 0) {
            m_dropped += skipped;
            qCDebug(lcCapture) << "capture of" << m_display.name << "skipped" << skipped << "late ticks";
        }
        previous = deadline;

        Result<std::optional<CapturedFrame>> tick =
            m_session->capture(MediaTime::fromNanoseconds(deadline.count()));
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
    }
}

// A tick woken up to half an interval late still runs, and its frame still carries the deadline: its
// picture is nearer that deadline than any other, where skipping it would leave the one before shown for a
// whole extra interval. On a busy two-core machine wake-ups 9-10 ms late at 30 fps are common (a quarter
// interval cost a frame every half minute or so). Later than half, the picture belongs to the next
// deadline, and the tick waits for it rather than running at once.
std::chrono::nanoseconds XcbCaptureStream::nextTick(std::chrono::nanoseconds previous,
                                                    std::chrono::nanoseconds now,
                                                    std::chrono::nanoseconds interval) {
    const std::chrono::nanoseconds tolerance = interval / 2;
    const std::chrono::nanoseconds late = now - (previous + interval);
    if (late <= tolerance) return previous + interval;
    // The deadlines missed by more than the tolerance.
    const int64_t missed = (late - tolerance + interval - std::chrono::nanoseconds(1)) / interval;
    return previous + interval * (1 + missed);
}

// False once a stop was requested. Timed against the clock frames are stamped on, which need not be the
// condition variable's.
bool XcbCaptureStream::waitUntil(std::chrono::nanoseconds deadline) {
    std::unique_lock lock(m_mutex);
    for (std::chrono::nanoseconds left;
         (left = deadline - monotonicNow()) > std::chrono::nanoseconds::zero();)
        if (m_wake.wait_for(lock, left, [this] { return m_stopRequested; })) return false;
    return !m_stopRequested;
}

// Capture thread. Frames stop before the handler hears of it; a stop already requested by the owner wins.
void XcbCaptureStream::endWithError(const Error& error) {
    qCDebug(lcCapture) << "capture of" << m_display.name << "on" << m_displayName
                       << "ended:" << error.message;
    m_delivery.close();
    {
        std::lock_guard lock(m_mutex);
        if (m_stopRequested) return;
    }
    if (m_onStop) m_onStop(error);
}
