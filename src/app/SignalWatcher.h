#pragma once

#include <QList>
#include <QObject>
#include <QSocketNotifier>

#include <initializer_list>

// Turns POSIX signals into a Qt signal on the main thread (the handler only writes to a socket), in
// batches of those that arrived together.
class SignalWatcher : public QObject {
    Q_OBJECT
public:
    SignalWatcher(std::initializer_list<int> signalNumbers, QObject* parent = nullptr);
    ~SignalWatcher() override;

signals:
    void received(const QList<int>& signalNumbers);

private:
    void readSignals();
    std::unique_ptr<QSocketNotifier> m_notifier;
};
