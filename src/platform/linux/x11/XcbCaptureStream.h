#pragma once

#include "platform/ScreenCapture.h"
#include "platform/linux/capture/FrameDelivery.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

class XcbCaptureSession;

// A capture of one display on a thread of its own, paced by absolute deadlines one frame interval apart. Each
// frame carries its tick's deadline, so frames are whole intervals apart: a late tick takes a later deadline
// and is never made up for. Frames reach the handler on the handler context's thread.
class XcbCaptureStream final : public CaptureStream {
public:
    XcbCaptureStream(QString displayName, DisplayInfo display, std::vector<int64_t> excludedProcessIds,
                     StreamConfiguration configuration, QObject* handlerContext, FrameHandler onFrame,
                     StopHandler onStop);
    ~XcbCaptureStream() override;

    Status startCapture() override;
    void stopCapture() override;
    int64_t droppedFrames() const override { return m_dropped.load(); }

    // The deadline of the tick that follows the one due at `previous`, chosen at `now`: the first on the grid
    // that `now` is not too late for. Times on the monotonic clock.
    static std::chrono::nanoseconds nextTick(std::chrono::nanoseconds previous, std::chrono::nanoseconds now,
                                             std::chrono::nanoseconds interval);

private:
    void run();
    bool waitUntil(std::chrono::nanoseconds deadline);
    void endWithError(const Error& error);

    const QString m_displayName;
    const DisplayInfo m_display;
    const std::vector<int64_t> m_excludedProcessIds;
    const StreamConfiguration m_configuration;
    StopHandler m_onStop; // capture thread only, once started
    FrameDelivery m_delivery;
    std::unique_ptr<XcbCaptureSession> m_session; // capture thread only, once started
    std::thread m_thread;                         // owner's thread only

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopRequested = false; // guarded by m_mutex
    std::atomic<int64_t> m_dropped{0};
};
