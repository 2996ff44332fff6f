#include "platform/linux/ffmpeg/FrameQueue.h"

namespace ffmpeg {

bool FrameQueue::tryPush(PixelBufferRef buffer, int64_t ptsTicks) {
    {
        std::lock_guard lock(m_mutex);
        if (!hasRoomLocked()) return false;
        m_slots[(m_head + m_count) % m_slots.size()] = Frame{std::move(buffer), ptsTicks};
        ++m_count;
    }
    m_wake.notify_one();
    return true;
}

bool FrameQueue::hasRoom() const {
    std::lock_guard lock(m_mutex);
    return hasRoomLocked();
}

void FrameQueue::requestFinish(Finish finish) {
    {
        std::lock_guard lock(m_mutex);
        m_finish = std::move(finish);
        m_finishing = true;
    }
    m_wake.notify_one();
}

void FrameQueue::cancel() {
    // Queued pictures go back to the capture pool now, not when the last owner of the queue lets go.
    std::vector<Frame> dropped;
    {
        std::lock_guard lock(m_mutex);
        m_cancelled = true;
        dropped.swap(m_slots);
        m_count = 0;
    }
    m_wake.notify_one();
}

void FrameQueue::markFailed() {
    std::lock_guard lock(m_mutex);
    m_failed = true;
}

FrameQueue::Item FrameQueue::waitNext() {
    std::unique_lock lock(m_mutex);
    m_wake.wait(lock, [this] { return m_cancelled || m_count > 0 || m_finish; });
    if (m_cancelled) return Cancelled{};
    if (m_count > 0) {
        Frame frame = std::move(m_slots[m_head]);
        m_head = (m_head + 1) % m_slots.size();
        --m_count;
        return frame;
    }
    Finish finish = std::move(*m_finish);
    m_finish.reset();
    return finish;
}

} // namespace ffmpeg
