#include "platform/linux/dbus/LogindSession.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>

#include <unistd.h>

namespace {

const QString logind = QStringLiteral("org.freedesktop.login1");
const QString managerPath = QStringLiteral("/org/freedesktop/login1");
const QString managerInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString sessionInterface = QStringLiteral("org.freedesktop.login1.Session");
// logind's name for "the caller's session, else the user's graphical one". It only works as a call
// target: signals come from the session's real path, so the lookup ends with GetSession of its Id.
const QString autoSessionPath = QStringLiteral("/org/freedesktop/login1/session/auto");

using Done = std::function<void(Result<QString>)>;
using Answered = std::function<void(const QDBusMessage&)>;
using Failed = std::function<void(const QString&)>;

void call(const QDBusConnection& bus, const QDBusMessage& message, QObject* context, Answered answered,
          Failed failed) {
    QDBusConnection connection = bus;
    auto* watcher = new QDBusPendingCallWatcher(connection.asyncCall(message), context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, context,
                     [watcher, answered = std::move(answered), failed = std::move(failed)] {
                         watcher->deleteLater();
                         const QDBusMessage reply = watcher->reply();
                         if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
                             answered(reply);
                         else
                             failed(reply.errorMessage());
                     });
}

QDBusMessage managerCall(const QString& method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(logind, managerPath, managerInterface, method);
    message.setArguments(arguments);
    return message;
}

QString pathIn(const QDBusMessage& reply) {
    return reply.arguments().constFirst().value<QDBusObjectPath>().path();
}

void byId(const QDBusConnection& bus, const QString& id, QObject* context, Done done, Failed otherwise) {
    call(
        bus, managerCall(QStringLiteral("GetSession"), {id}), context,
        [done](const QDBusMessage& reply) { done(pathIn(reply)); }, std::move(otherwise));
}

void byAutoSession(const QDBusConnection& bus, QObject* context, Done done) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        logind, autoSessionPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get.setArguments({sessionInterface, QStringLiteral("Id")});
    const Failed fail = [done](const QString& reason) { done(platformError(reason)); };
    call(
        bus, get, context,
        [bus, context, done, fail](const QDBusMessage& reply) {
            const QString id = reply.arguments().constFirst().value<QDBusVariant>().variant().toString();
            byId(bus, id, context, done, fail);
        },
        fail);
}

// A process that desktops start outside the login session (autostart entries run as systemd user
// units) belongs to none, so the lookup by process fails there and "auto" is what is left.
void byProcess(const QDBusConnection& bus, QObject* context, Done done) {
    call(
        bus, managerCall(QStringLiteral("GetSessionByPID"), {uint(getpid())}), context,
        [done](const QDBusMessage& reply) { done(pathIn(reply)); },
        [bus, context, done](const QString&) { byAutoSession(bus, context, done); });
}

} // namespace

namespace LogindSession {

void find(const QDBusConnection& systemBus, const QString& sessionId, QObject* context,
          std::function<void(Result<QString>)> done) {
    if (sessionId.isEmpty()) return byProcess(systemBus, context, std::move(done));
    byId(systemBus, sessionId, context, done,
         [systemBus, context, done](const QString&) { byProcess(systemBus, context, done); });
}

} // namespace LogindSession
