#include "platform/linux/dbus/ControlService.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QThread>
#include <QTimer>

const QString ControlService::serviceName = QStringLiteral("io.github.ferrovane.Ferrovane");
const QString ControlService::objectPath = QStringLiteral("/io/github/ferrovane/Ferrovane");
const QString ControlService::interfaceName = QStringLiteral("io.github.ferrovane.Ferrovane");

ControlService::ControlService(ControlHandlers handlers, QObject* parent)
    : QObject(parent)
    , m_handlers(std::move(handlers)) {}

// Answered once the clip is written, or with the reason there is none. Started at once, in the order the
// calls arrive, so that a quit sent after it waits for it.
QString ControlService::Save() {
    Q_ASSERT(QThread::currentThread() == thread());
    setDelayedReply(true);
    if (!m_handlers.save) return {};
    m_handlers.save([bus = connection(), call = message()](const Result<QString>& result) {
        bus.send(result ? call.createReply(result.value())
                        : call.createErrorReply(QDBusError::Failed, result.error().message));
    });
    return {};
}

void ControlService::TogglePause() {
    afterReply(m_handlers.togglePause);
}

void ControlService::Peek() {
    afterReply(m_handlers.peek);
}

void ControlService::Locked() {
    afterReply(m_handlers.locked);
}

void ControlService::Unlocked() {
    afterReply(m_handlers.unlocked);
}

QString ControlService::Status() {
    Q_ASSERT(QThread::currentThread() == thread());
    return m_handlers.status ? m_handlers.status() : QString();
}

void ControlService::Quit() {
    // The reply leaves through the bus thread, which may not get to it before the process ends. A round
    // trip to the bus on the same connection returns only once the bus has read everything sent before
    // it, reply included, so the caller gets its answer however soon the quit follows.
    setDelayedReply(true);
    connection().send(message().createReply());
    connection().call(QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus.Peer"), QStringLiteral("Ping")));
    afterReply(m_handlers.quit);
}

// Commands run from the event loop, not inside the call: the caller's answer does not wait for a save to
// begin, and a handler may destroy the channel.
void ControlService::afterReply(const std::function<void()>& handler) {
    Q_ASSERT(QThread::currentThread() == thread());
    if (handler) QTimer::singleShot(0, this, handler);
}
