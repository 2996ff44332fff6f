#include "platform/linux/capture/FramePool.h"

#include <sys/ipc.h>
#include <sys/mman.h>
#include <sys/shm.h>

#include <cstdlib>
#include <unistd.h>

void FramePool::ReleaseMemory::operator()(uint8_t* memory) const {
    if (shared)
        shmdt(memory);
    else
        std::free(memory);
}

FramePool::FramePool(int count, QSize size, PixelOrder order)
    : m_size(size)
    , m_order(order)
    , m_buffers(size_t(count))
    , m_free(size_t(count), true) {}

FramePool::~FramePool() = default;

std::shared_ptr<FramePool> FramePool::createShared(int count, QSize size, const Attach& attach,
                                                   const Detach& detach) {
    std::shared_ptr<FramePool> pool(new FramePool(count, size));
    size_t attached = 0;
    for (; attached < size_t(count); ++attached) {
        const int id = shmget(IPC_PRIVATE, pool->bytesPerBuffer(), IPC_CREAT | 0600);
        if (id < 0) break;
        void* address = shmat(id, nullptr, 0);
        if (address == reinterpret_cast<void*>(-1)) {
            shmctl(id, IPC_RMID, nullptr);
            break;
        }
        std::unique_ptr<uint8_t, ReleaseMemory> memory(static_cast<uint8_t*>(address), ReleaseMemory{true});
        const uint32_t segment = attach(id);
        // Removed as soon as the producer holds it, so the segment vanishes with the last detach even if we
        // crash.
        shmctl(id, IPC_RMID, nullptr);
        if (!segment) break;
        pool->adopt(attached, std::move(memory), segment);
    }
    if (attached < size_t(count)) {
        pool->detach(detach);
        return nullptr;
    }
    return pool;
}

std::shared_ptr<FramePool> FramePool::createPrivate(int count, QSize size, PixelOrder order) {
    std::shared_ptr<FramePool> pool(new FramePool(count, size, order));
    for (size_t i = 0; i < size_t(count); ++i) {
        // Cache-line aligned for the scaler's vector loads.
        auto* memory = static_cast<uint8_t*>(std::aligned_alloc(64, (pool->bytesPerBuffer() + 63) / 64 * 64));
        if (!memory) return nullptr;
        pool->adopt(i, std::unique_ptr<uint8_t, ReleaseMemory>(memory, ReleaseMemory{false}), 0);
    }
    return pool;
}

void FramePool::prefault(size_t index) {
    const long pageBytes = sysconf(_SC_PAGESIZE);
    const size_t step = pageBytes > 0 ? size_t(pageBytes) : 4096;
    const volatile uint8_t* memory = m_buffers[index].memory.get();
    for (size_t offset = 0; offset < bytesPerBuffer(); offset += step)
        (void)memory[offset];
}

void FramePool::returnPages(size_t index) {
    Buffer& buffer = m_buffers[index];
    const long pageBytes = sysconf(_SC_PAGESIZE);
    const uintptr_t page = pageBytes > 0 ? uintptr_t(pageBytes) : 4096;
    const auto address = reinterpret_cast<uintptr_t>(buffer.memory.get());
    const uintptr_t first = (address + page - 1) / page * page;
    const uintptr_t end = (address + bytesPerBuffer()) / page * page;
    // Shared memory keeps its pages until they are removed; private ones are simply dropped. Either way
    // they read as zeros afterwards, and every use writes the whole picture.
    if (end > first)
        madvise(reinterpret_cast<void*>(first), end - first,
                buffer.memory.get_deleter().shared ? MADV_REMOVE : MADV_DONTNEED);
    buffer.used = false;
}

void FramePool::adopt(size_t index, std::unique_ptr<uint8_t, ReleaseMemory> memory, uint32_t segment) {
    Buffer& buffer = m_buffers[index];
    buffer.picture = PixelBuffer{};
    buffer.picture.data = memory.get();
    buffer.picture.width = m_size.width();
    buffer.picture.height = m_size.height();
    buffer.picture.bytesPerRow = bytesPerRow();
    buffer.picture.order = m_order;
    buffer.memory = std::move(memory);
    buffer.segment = segment;
}

void FramePool::detach(const Detach& detach) {
    for (Buffer& buffer : m_buffers) {
        if (buffer.segment) detach(buffer.segment);
        buffer.segment = 0;
    }
}

std::optional<FramePool::Lease> FramePool::acquire() {
    const auto now = std::chrono::steady_clock::now();
    size_t index = 0;
    std::vector<size_t> spare;
    {
        std::lock_guard lock(m_mutex);
        while (index < m_free.size() && !m_free[index])
            ++index;
        if (index == m_free.size()) return std::nullopt;
        m_free[index] = false;
        // Only this thread takes buffers, so a free one stays free while its pages go.
        for (size_t above = index + 1; above < m_free.size(); ++above)
            if (m_free[above] && m_buffers[above].used && now - m_buffers[above].lastUsed > m_spareAfter)
                spare.push_back(above);
    }
    for (const size_t above : spare)
        returnPages(above);
    Buffer& buffer = m_buffers[index];
    buffer.lastUsed = now;
    // A shared buffer's first use maps in its pages (2,250 at 1920x1200). Done here, once per buffer on the
    // capture thread, it stays out of the encoder's first read: slowed by it, the first frames of a
    // full-motion recording queued up and kept a third 9 MB buffer resident for good. (Private buffers are
    // first written on this thread anyway.)
    if (!buffer.used && buffer.segment) prefault(index);
    buffer.used = true;
    buffer.picture.sequence = nextPictureSequence();
    buffer.picture.previous = 0;
    buffer.picture.changed.clear();
    // The picture does not own its struct; the deleter only hands the buffer back and keeps the pool alive.
    PixelBufferRef picture(&buffer.picture,
                           [pool = shared_from_this(), index](const PixelBuffer*) { pool->release(index); });
    return Lease{std::move(picture), buffer.memory.get(), buffer.segment, &buffer.picture};
}

void FramePool::release(size_t index) {
    std::lock_guard lock(m_mutex);
    m_free[index] = true;
}
