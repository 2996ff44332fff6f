#include "recorder/WorkQueue.h"

#include <QMetaObject>

WorkQueue::WorkQueue(const QString& label)
    : m_thread(std::make_unique<QThread>()) {
    m_thread->setObjectName(label);
    m_context = new QObject;
    m_context->setObjectName(label);
    m_context->moveToThread(m_thread.get());
    m_thread->start();
}

WorkQueue::~WorkQueue() {
    shutdown();
    // The thread has finished, so its object can go from here; events still posted to it go with it.
    delete m_context;
}

void WorkQueue::async(std::function<void()> work) {
    if (!m_open.load()) return;
    QMetaObject::invokeMethod(m_context, std::move(work), Qt::QueuedConnection);
}

void WorkQueue::sync(const std::function<void()>& work) {
    Q_ASSERT_X(!isCurrent(), "WorkQueue::sync", "would wait for itself");
    if (!m_open.load()) return;
    QMetaObject::invokeMethod(
        m_context, [&work] { work(); }, Qt::BlockingQueuedConnection);
}

void WorkQueue::shutdown() {
    if (!m_open.exchange(false)) return;
    Q_ASSERT_X(!isCurrent(), "WorkQueue::shutdown", "would wait for itself");
    m_thread->quit();
    m_thread->wait();
}
