#pragma once

#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>

// A serial queue on its own thread. Work posted from any thread runs there in order; `sync` blocks the
// caller until the work has run and must not be called from the queue itself. Callbacks from other
// threads keep the queue alive through a shared pointer, never the object that owns it: once shut down,
// posted work is dropped, so nothing runs against an owner that is gone.
class WorkQueue {
public:
    explicit WorkQueue(const QString& label);
    ~WorkQueue();
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    void async(std::function<void()> work);
    void sync(const std::function<void()>& work);

    bool isCurrent() const { return QThread::currentThread() == m_thread.get(); }
    void assertCurrent() const { Q_ASSERT_X(isCurrent(), "WorkQueue", "called off its queue"); }
    // The object frames and other platform callbacks are delivered to.
    QObject* context() const { return m_context; }
    // Stops the thread after the work already running; later posts are dropped.
    void shutdown();

private:
    std::unique_ptr<QThread> m_thread;
    QObject* m_context = nullptr; // lives in m_thread
    std::atomic<bool> m_open{true};
};
