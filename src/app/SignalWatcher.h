#pragma once

#include <QList>
#include <QObject>
#include <QSocketNotifier>

#include <memory>

// Turns POSIX signals into a Qt signal on the main thread, in batches of those pending together.
//
// The signals are blocked in every thread and read from a signalfd, so no other thread ever takes one:
// a save and a quit sent back to back cannot be split between a thread that runs late and the main
// thread, whichever order the kernel hands them over in.
class SignalWatcher : public QObject {
    Q_OBJECT
public:
    // Before any thread starts (threads inherit the mask), or a signal could still end the process by its
    // default action in a thread that does not block it.
    static void blockInEveryThread(const QList<int>& signalNumbers);

    explicit SignalWatcher(const QList<int>& signalNumbers, QObject* parent = nullptr);
    ~SignalWatcher() override;

signals:
    void received(const QList<int>& signalNumbers);

private:
    void readSignals();
    int m_fd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
