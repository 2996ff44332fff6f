#pragma once

#include "platform/MovieWriter.h"
#include "platform/PixelBuffer.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <variant>
#include <vector>

namespace ffmpeg {

// The bounded hand-over between the writer's caller and its encoder thread. Pushing never blocks: a full
// queue refuses the frame, which is how a slow encoder drops frames instead of stalling capture. The
// finish request is taken only after every queued frame; cancellation overtakes them.
class FrameQueue {
public:
    struct Frame {
        PixelBufferRef buffer;
        int64_t ptsTicks = 0;
    };
    struct Finish {
        std::optional<int64_t> endTicks;
        MovieWriter::FinishHandler handler;
    };
    struct Cancelled {};
    using Item = std::variant<Frame, Finish, Cancelled>;

    explicit FrameQueue(int capacity)
        : m_slots(size_t(capacity)) {}

    // Caller side. False when full, failed, finishing or cancelled.
    bool tryPush(PixelBufferRef buffer, int64_t ptsTicks);
    bool hasRoom() const;
    void requestFinish(Finish finish);
    void cancel();

    // Encoder thread. Blocks until there is something to do.
    Item waitNext();
    // Refuses every further frame; queued ones are still handed out, to be dropped.
    void markFailed();

private:
    bool hasRoomLocked() const {
        return m_count < m_slots.size() && !m_failed && !m_finishing && !m_cancelled;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    // A ring so steady-state pushing allocates nothing.
    std::vector<Frame> m_slots;
    size_t m_head = 0;
    size_t m_count = 0;
    std::optional<Finish> m_finish;
    bool m_finishing = false;
    bool m_failed = false;
    bool m_cancelled = false;
};

} // namespace ffmpeg
