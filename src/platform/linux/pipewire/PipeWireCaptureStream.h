#pragma once

#include "platform/ScreenCapture.h"
#include "platform/linux/capture/FrameDelivery.h"
#include "platform/linux/capture/FramePool.h"
#include "platform/linux/pipewire/PipeWireFrames.h"
#include "platform/linux/portal/ScreenCastSession.h"

#include <pipewire/stream.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

struct pw_thread_loop;
struct pw_context;
struct pw_registry;
struct spa_buffer;
struct spa_source;

// The shared screen's PipeWire stream: shared-memory buffers in a 32-bit RGB format are copied into a pool
// of pictures (PipeWire wants its buffers back at once) and passed on at most `fps` times a second, each
// stamped on the monotonic clock when it is taken. Buffers without a new picture cost nothing. The
// stream ends with an error when the desktop stops sharing, the producer goes away or the picture's size
// changes. PipeWire's callbacks run on the stream's own loop thread.
class PipeWireCaptureStream final : public CaptureStream {
public:
    PipeWireCaptureStream(std::unique_ptr<ScreenCastSession> session, int pipeWireFd,
                          const StreamConfiguration& configuration, QObject* handlerContext,
                          FrameHandler onFrame, StopHandler onStop);
    ~PipeWireCaptureStream() override;

    Status startCapture() override;
    void stopCapture() override;
    int64_t droppedFrames() const override { return m_dropped.load(); }

private:
    static void onStateChanged(void* self, pw_stream_state old, pw_stream_state state, const char* error);
    static void onParamChanged(void* self, uint32_t id, const spa_pod* param);
    static void onProcess(void* self);
    static void onHeldFrameDue(void* self, uint64_t expirations);
    static void onGlobalRemoved(void* self, uint32_t id);
    static void onCoreError(void* self, uint32_t id, int seq, int result, const char* message);

    void process();
    void deliver(FramePool::Lease lease, std::chrono::nanoseconds time);
    // Loop thread; reports once.
    void endWithError(const QString& text);
    void endWith(const Error& error);

    std::unique_ptr<ScreenCastSession> m_session;
    int m_fd;
    const StreamConfiguration m_configuration;
    StopHandler m_onStop;
    FrameDelivery m_delivery;
    std::atomic<int64_t> m_dropped{0};

    pw_thread_loop* m_loop = nullptr;
    pw_context* m_context = nullptr;
    pw_core* m_core = nullptr;
    pw_stream* m_stream = nullptr;
    pw_registry* m_registry = nullptr;
    spa_source* m_heldTimer = nullptr;
    struct Hooks;
    std::shared_ptr<Hooks> m_hooks;

    // Loop thread only, once started.
    QSize m_size;
    PixelOrder m_order = PixelOrder::BGRA;
    std::shared_ptr<FramePool> m_pool;
    PipeWireFrames::Gate m_gate;
    std::optional<FramePool::Lease> m_held;
    PipeWireFrames::Changes m_changes;
    bool m_damageSeen = false;
    // With the pointer sent beside the pictures: the last picture, what its pointer covers, and the
    // pointer itself.
    PixelBufferRef m_last;
    QRect m_lastCursorArea;
    std::vector<uint8_t> m_underCursor;
    std::vector<uint8_t> m_cursorPixels;
    PipeWireFrames::CursorImage m_cursor;
    QPoint m_cursorTopLeft;
    QRect cursorArea() const;
    size_t offsetOf(QRect area) const;
    bool readCursor(spa_buffer* buffer);
    bool m_ended = false;
    bool m_connected = false; // guarded by the loop's lock
    QString m_startError;     // guarded by the loop's lock
};
