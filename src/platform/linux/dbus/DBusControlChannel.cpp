#include "platform/linux/dbus/DBusControlChannel.h"

#include "platform/linux/dbus/ControlService.h"
#include "platform/linux/dbus/DBusLogging.h"

#include <QDBusConnectionInterface>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusReply>
#include <QThread>

namespace {

QString methodFor(ControlCommand command) {
    switch (command) {
    case ControlCommand::Save:
        return QStringLiteral("Save");
    case ControlCommand::TogglePause:
        return QStringLiteral("TogglePause");
    case ControlCommand::Status:
        return QStringLiteral("Status");
    case ControlCommand::Quit:
        return QStringLiteral("Quit");
    case ControlCommand::Peek:
        return QStringLiteral("Peek");
    case ControlCommand::Locked:
        return QStringLiteral("Locked");
    case ControlCommand::Unlocked:
        return QStringLiteral("Unlocked");
    }
    Q_UNREACHABLE();
}

constexpr int saveTimeoutMs = 15 * 60 * 1000;
// How long a launch gives an instance that holds the lock to show up on the bus.
constexpr int nameWaitSteps = 50;

Error notRunning() {
    return platformError(QStringLiteral("Ferrovane is not running."));
}

} // namespace

DBusControlChannel::DBusControlChannel(const QDBusConnection& sessionBus)
    : m_bus(sessionBus) {}

DBusControlChannel::~DBusControlChannel() {
    release();
}

ClaimOutcome DBusControlChannel::claim(ControlHandlers handlers) {
    Q_ASSERT(!m_service);
    if (!m_lock.acquire()) {
        // Held elsewhere: that instance answers on the bus (once it is up, if it is starting too), or nobody
        // can reach it.
        for (int attempt = 0; m_bus.isConnected() && attempt < nameWaitSteps; ++attempt) {
            if (m_bus.interface()->isServiceRegistered(ControlService::serviceName).value())
                return ClaimOutcome::AlreadyRunning;
            QThread::msleep(100);
        }
        return ClaimOutcome::Unreachable;
    }
    if (!m_bus.isConnected()) {
        qCWarning(lcDbus) << "no session bus:" << m_bus.lastError().message();
        return ClaimOutcome::NoBus;
    }
    // The object goes up before the name, so a launch that sees the name can already call it.
    m_service = std::make_unique<ControlService>(std::move(handlers));
    if (!m_bus.registerObject(ControlService::objectPath, m_service.get(), QDBusConnection::ExportAllSlots)) {
        // Another channel of this process holds the path on the same connection.
        m_service.reset();
        return ClaimOutcome::AlreadyRunning;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        m_bus.interface()->registerService(ControlService::serviceName,
                                           QDBusConnectionInterface::DontQueueService,
                                           QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered)
        return ClaimOutcome::Claimed;
    m_bus.unregisterObject(ControlService::objectPath);
    m_service.reset();
    if (reply.isValid()) return ClaimOutcome::AlreadyRunning;
    qCWarning(lcDbus) << "could not ask for" << ControlService::serviceName << ":" << reply.error().message();
    return ClaimOutcome::NoBus;
}

Result<QString> DBusControlChannel::send(ControlCommand command) {
    if (!m_bus.isConnected()) return notRunning();
    QDBusMessage call =
        QDBusMessage::createMethodCall(ControlService::serviceName, ControlService::objectPath,
                                       ControlService::interfaceName, methodFor(command));
    // Nothing installs a bus activation file for the name, but a stray one must not start an instance
    // just to hand it a command.
    call.setAutoStartService(false);
    // A save answers once its clip is written, which takes about as long as re-encoding it at worst.
    const QDBusMessage reply =
        m_bus.call(call, QDBus::Block, command == ControlCommand::Save ? saveTimeoutMs : -1);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return reply.arguments().isEmpty() ? QString() : reply.arguments().constFirst().toString();
    const QDBusError error(reply);
    qCInfo(lcDbus) << methodFor(command) << "failed:" << error.name() << error.message();
    // Without auto-start the bus answers NameHasNoOwner for a name nobody holds.
    if (error.type() == QDBusError::ServiceUnknown || error.type() == QDBusError::Disconnected ||
        error.name() == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
        return notRunning();
    // The instance went away with the call unanswered: it was quitting, or it crashed.
    if (error.type() == QDBusError::NoReply)
        return platformError(QStringLiteral("Ferrovane quit before it answered."));
    return platformError(error.message());
}

void DBusControlChannel::release() {
    if (!m_service) return;
    m_bus.interface()->unregisterService(ControlService::serviceName);
    m_bus.unregisterObject(ControlService::objectPath);
    m_service.reset();
}
