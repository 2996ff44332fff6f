#include "platform/linux/portal/PortalRequest.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QTimer>

#include <atomic>

namespace PortalRequest {

namespace {

const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");

} // namespace

Result<QVariantMap> fromResponse(uint code, const QVariantMap& results, const QString& step,
                                 const QString& interface) {
    const bool sharing = interface == QLatin1String("org.freedesktop.portal.ScreenCast");
    switch (code) {
    case 0:
        return results;
    case 1:
        return Error{cancelledCategory, 1,
                     (sharing ? QStringLiteral("Screen sharing was not allowed (%1).")
                              : QStringLiteral("The desktop's request was turned down (%1)."))
                         .arg(step)};
    default:
        return Error{QStringLiteral("portal"), int(code),
                     (sharing ? QStringLiteral("The desktop could not share the screen (%1 failed).")
                              : QStringLiteral("The desktop could not do it (%1 failed)."))
                         .arg(step)};
    }
}

QString senderPart(const QDBusConnection& bus) {
    return bus.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
}

QString newToken() {
    static std::atomic<int> counter{0};
    return QStringLiteral("ferrovane%1").arg(++counter);
}

void closeSession(QDBusConnection bus, const QString& sessionHandle) {
    if (sessionHandle.isEmpty()) return;
    bus.send(QDBusMessage::createMethodCall(QString::fromLatin1(service), sessionHandle,
                                            QStringLiteral("org.freedesktop.portal.Session"),
                                            QStringLiteral("Close")));
}

Pending::~Pending() {
    if (m_call) m_call->abandon();
}

std::unique_ptr<Pending> call(QDBusConnection bus, const QString& interface, const QString& method,
                              const QVariantList& arguments, QVariantMap options, int timeoutMs, Done done) {
    auto* request = new Call(std::move(bus), interface, method, std::move(done));
    auto pending = std::make_unique<Pending>(request);
    request->send(arguments, std::move(options), timeoutMs);
    return pending;
}

Call::Call(QDBusConnection bus, QString interface, QString method, Done done)
    : m_bus(std::move(bus))
    , m_interface(std::move(interface))
    , m_method(std::move(method))
    , m_done(std::move(done)) {}

void Call::send(const QVariantList& arguments, QVariantMap options, int timeoutMs) {
    if (!m_bus.isConnected()) {
        // Answered on the next turn, as every other outcome is: the caller holds its Pending by then.
        QTimer::singleShot(0, this, [this] {
            finish(platformError(QStringLiteral("No session bus to reach the desktop's portal.")));
        });
        return;
    }
    const QString token = newToken();
    options.insert(QStringLiteral("handle_token"), token);
    subscribe(QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(senderPart(m_bus), token));

    QDBusMessage message = QDBusMessage::createMethodCall(
        QString::fromLatin1(service), QString::fromLatin1(objectPath), m_interface, m_method);
    message.setArguments(arguments + QVariantList{options});
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, timeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &Call::onReply);
    // The dialog waits for the user; this only bounds a portal that never answers at all.
    QTimer::singleShot(timeoutMs, this, [this] {
        finish(platformError(QStringLiteral("The desktop's portal did not answer (%1).").arg(m_method)));
    });
}

void Call::onReply(QDBusPendingCallWatcher* watcher) {
    watcher->deleteLater();
    if (!m_done) return;
    const QDBusPendingReply<QDBusObjectPath> reply = *watcher;
    if (reply.isError()) {
        finish(platformError(
            QStringLiteral("The desktop's portal is not available: %1").arg(reply.error().message())));
        return;
    }
    // Portals older than the handle_token convention answer on a path of their own choosing.
    const QString answeredPath = reply.value().path();
    if (!answeredPath.isEmpty() && answeredPath != m_path) subscribe(answeredPath);
}

void Call::onResponse(uint code, const QVariantMap& results) {
    finish(fromResponse(code, results, m_method, m_interface));
}

void Call::subscribe(const QString& path) {
    unsubscribe();
    m_path = path;
    m_bus.connect(QString::fromLatin1(service), m_path, requestInterface, QStringLiteral("Response"), this,
                  SLOT(onResponse(uint, QVariantMap)));
}

void Call::unsubscribe() {
    if (m_path.isEmpty()) return;
    m_bus.disconnect(QString::fromLatin1(service), m_path, requestInterface, QStringLiteral("Response"), this,
                     SLOT(onResponse(uint, QVariantMap)));
}

void Call::finish(const Result<QVariantMap>& result) {
    if (!m_done) return;
    unsubscribe();
    m_path.clear();
    Done done = std::exchange(m_done, nullptr);
    deleteLater();
    done(result);
}

void Call::abandon() {
    if (m_done && !m_path.isEmpty()) {
        m_bus.send(QDBusMessage::createMethodCall(QString::fromLatin1(service), m_path, requestInterface,
                                                  QStringLiteral("Close")));
    }
    unsubscribe();
    m_path.clear();
    m_done = nullptr;
    deleteLater();
}

} // namespace PortalRequest
