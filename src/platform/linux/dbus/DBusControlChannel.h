#pragma once

#include "platform/ControlChannel.h"
#include "platform/linux/dbus/InstanceLock.h"

#include <QDBusConnection>

#include <memory>

class ControlService;

// The running instance owns a well-known name on the session bus; the bus hands a name to exactly one
// of several launches asking at once, so the name is the single-instance lock as well as the address
// other launches send their commands to. A lock file backs it up: a bus that restarts forgets the name.
class DBusControlChannel final : public ControlChannel {
public:
    explicit DBusControlChannel(const QDBusConnection& sessionBus);
    ~DBusControlChannel() override;

    ClaimOutcome claim(ControlHandlers handlers) override;
    qint64 runningProcess() const override { return m_lock.holder(); }
    Result<QString> send(ControlCommand command) override;

private:
    void release();

    QDBusConnection m_bus;
    InstanceLock m_lock;
    // Set while claimed.
    std::unique_ptr<ControlService> m_service;
};
