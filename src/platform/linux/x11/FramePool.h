#pragma once

#include "platform/PixelBuffer.h"

#include <QSize>
#include <xcb/shm.h>

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// The 32-bit buffers one capture stream fills and hands downstream without a copy. A buffer goes back to the
// pool when the last reference to its picture is dropped, on whichever thread that happens; the memory
// lives as long as the pool or any of its pictures.
class FramePool : public std::enable_shared_from_this<FramePool> {
public:
    struct Lease {
        PixelBufferRef picture; // dropping the last reference returns the buffer
        uint8_t* pixels = nullptr;
        xcb_shm_seg_t segment = 0; // 0 for private memory
    };

    // System V segments attached to the connection's server, so MIT-SHM GetImage writes straight into
    // them; null when the server cannot attach them (remote display, another IPC namespace).
    static std::shared_ptr<FramePool> createShared(xcb_connection_t* connection, int count, QSize size);
    static std::shared_ptr<FramePool> createPrivate(int count, QSize size,
                                                    PixelOrder order = PixelOrder::BGRA);
    ~FramePool();

    QSize size() const { return m_size; }
    int bytesPerRow() const { return m_size.width() * 4; }
    size_t bytesPerBuffer() const { return size_t(bytesPerRow()) * size_t(m_size.height()); }

    // A free buffer, or none while every buffer is still held downstream. Capture thread.
    std::optional<Lease> acquire();
    // Lets the server drop its mappings of the segments; for a pool replaced while the connection lives on.
    void detach(xcb_connection_t* connection);

private:
    struct ReleaseMemory {
        bool shared; // value-initialised to false by the empty unique_ptr
        void operator()(uint8_t* memory) const;
    };
    struct Buffer {
        std::unique_ptr<uint8_t, ReleaseMemory> memory;
        xcb_shm_seg_t segment = 0;
        PixelBuffer picture;
        bool used = false; // capture thread only
    };

    FramePool(int count, QSize size, PixelOrder order = PixelOrder::BGRA);
    void adopt(size_t index, std::unique_ptr<uint8_t, ReleaseMemory> memory, xcb_shm_seg_t segment);
    // Maps in every page of a shared buffer.
    void prefault(size_t index);
    void release(size_t index);

    const QSize m_size;
    const PixelOrder m_order;
    std::vector<Buffer> m_buffers; // fixed after creation
    std::mutex m_mutex;
    std::vector<bool> m_free; // guarded by m_mutex
};
