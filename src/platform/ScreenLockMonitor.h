#pragma once

#include <QObject>

// The user's session being locked and unlocked, from whatever the desktop announces it through. Each
// change is reported once, however many sources announce it. Signals arrive on the main thread; a session
// with no source at all simply never reports.
class ScreenLockMonitor : public QObject {
    Q_OBJECT
public:
    ~ScreenLockMonitor() override = default;

signals:
    void locked();
    void unlocked();

protected:
    explicit ScreenLockMonitor(QObject* parent = nullptr)
        : QObject(parent) {}
};
