#pragma once

#include <QObject>
#include <QSocketNotifier>

#include <initializer_list>

// Turns POSIX signals into a Qt signal on the main thread (the handler only writes to a socket).
class SignalWatcher : public QObject {
    Q_OBJECT
public:
    SignalWatcher(std::initializer_list<int> signalNumbers, QObject* parent = nullptr);
    ~SignalWatcher() override;

signals:
    void received(int signalNumber);

private:
    void readSignal();
    std::unique_ptr<QSocketNotifier> m_notifier;
};
