#include "platform/linux/capture/FrameDelivery.h"

#include <QMetaObject>
#include <QThread>

// One queued frame. Counted until the invocation is destroyed, whether it ran or the context's thread
// discarded it.
struct FrameDelivery::Ticket {
    explicit Ticket(std::shared_ptr<Shared> shared)
        : shared(std::move(shared)) {}
    ~Ticket() {
        std::lock_guard lock(shared->mutex);
        --shared->pending;
    }
    std::shared_ptr<Shared> shared;
};

FrameDelivery::FrameDelivery(QObject* context, CaptureStream::FrameHandler handler, int maxPending)
    : m_shared(std::make_shared<Shared>())
    , m_context(context)
    , m_maxPending(maxPending) {
    m_shared->handler = std::move(handler);
    m_shared->contextThread = context->thread();
}

FrameDelivery::~FrameDelivery() {
    close();
}

bool FrameDelivery::post(CapturedFrame frame) {
    {
        std::lock_guard lock(m_shared->mutex);
        if (!m_shared->open || m_shared->pending >= m_maxPending) return false;
        ++m_shared->pending;
    }
    auto ticket = std::make_shared<Ticket>(m_shared);
    QMetaObject::invokeMethod(
        m_context,
        [ticket, frame = std::move(frame)] {
            Shared& shared = *ticket->shared;
            Q_ASSERT(QThread::currentThread() == shared.contextThread);
            {
                std::lock_guard lock(shared.mutex);
                if (!shared.open) return;
                shared.running = true;
            }
            shared.handler(frame);
            {
                std::lock_guard lock(shared.mutex);
                shared.running = false;
            }
            shared.handlerDone.notify_all();
        },
        Qt::QueuedConnection);
    return true;
}

void FrameDelivery::close() {
    std::unique_lock lock(m_shared->mutex);
    m_shared->open = false;
    if (QThread::currentThread() != m_shared->contextThread)
        m_shared->handlerDone.wait(lock, [this] { return !m_shared->running; });
}
