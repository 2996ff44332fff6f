#pragma once

#include "platform/PixelBuffer.h"

#include <QSize>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

// The 32-bit buffers one capture stream fills and hands downstream without a copy, whatever the backend. A
// buffer goes back to the pool when the last reference to its picture is dropped, on whichever thread that
// happens; the memory lives as long as the pool or any of its pictures.
class FramePool : public std::enable_shared_from_this<FramePool> {
public:
    struct Lease {
        PixelBufferRef picture; // dropping the last reference returns the buffer
        uint8_t* pixels = nullptr;
        uint32_t segment = 0; // the producer's handle of a shared buffer; 0 for private memory
        // A new sequence number, counted as wholly new; the producer may say what changed until it hands
        // the picture on.
        PixelBuffer* description = nullptr;
    };
    // Lends a System V segment to the producer (an X server, say); its handle, or 0 when refused.
    using Attach = std::function<uint32_t(int shmId)>;
    using Detach = std::function<void(uint32_t segment)>;

    // System V segments the producer writes straight into (MIT-SHM GetImage); null when it cannot attach
    // them (a remote display, another IPC namespace).
    static std::shared_ptr<FramePool> createShared(int count, QSize size, const Attach& attach,
                                                   const Detach& detach);
    static std::shared_ptr<FramePool> createPrivate(int count, QSize size,
                                                    PixelOrder order = PixelOrder::BGRA);
    ~FramePool();

    QSize size() const { return m_size; }
    int bytesPerRow() const { return m_size.width() * 4; }
    size_t bytesPerBuffer() const { return size_t(bytesPerRow()) * size_t(m_size.height()); }

    // A free buffer, or none while every buffer is still held downstream. Capture thread. Buffers are
    // taken lowest first, so those above are needed only when the pipeline backs up; one left unused for
    // `spareAfter` gives its pages back, and is mapped in again when next needed.
    std::optional<Lease> acquire();
    void setSpareAfter(std::chrono::milliseconds spareAfter) { m_spareAfter = spareAfter; }
    // Lets the producer drop its mappings of the segments; for a pool replaced while the producer lives on.
    void detach(const Detach& detach);

private:
    struct ReleaseMemory {
        bool shared; // value-initialised to false by the empty unique_ptr
        void operator()(uint8_t* memory) const;
    };
    struct Buffer {
        std::unique_ptr<uint8_t, ReleaseMemory> memory;
        uint32_t segment = 0;
        PixelBuffer picture;
        bool used = false; // capture thread only, as is the next
        std::chrono::steady_clock::time_point lastUsed;
    };

    FramePool(int count, QSize size, PixelOrder order = PixelOrder::BGRA);
    void adopt(size_t index, std::unique_ptr<uint8_t, ReleaseMemory> memory, uint32_t segment);
    // Maps in every page of a shared buffer.
    void prefault(size_t index);
    // Hands a free buffer's pages back to the system.
    void returnPages(size_t index);
    void release(size_t index);

    const QSize m_size;
    const PixelOrder m_order;
    std::vector<Buffer> m_buffers; // fixed after creation
    std::mutex m_mutex;
    std::vector<bool> m_free; // guarded by m_mutex
    std::chrono::milliseconds m_spareAfter{10000};
};
