#include "platform/linux/dbus/PortalRequest.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QEventLoop>
#include <QTimer>

#include <QCoreApplication>

#include <atomic>
#include <mutex>

namespace PortalRequest {

namespace {

// Receives one Response; lives on the calling thread, whose local event loop delivers it.
class ResponseCatcher final : public QObject {
    Q_OBJECT
public:
    bool answered = false;
    uint code = 2;
    QVariantMap results;
    QEventLoop loop;

public slots:
    void onResponse(uint responseCode, const QVariantMap& responseResults) {
        answered = true;
        code = responseCode;
        results = responseResults;
        loop.quit();
    }
};

// Set once the application is on its way out: a request still waiting for the user then gives up, so
// that quitting never waits for a dialog.
std::atomic<bool> quitting{false};

void watchForQuit() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (QCoreApplication* app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, app, [] { quitting = true; });
    });
}

bool subscribe(QDBusConnection& bus, const QString& path, ResponseCatcher& catcher) {
    return bus.connect(QString::fromLatin1(service), path, QStringLiteral("org.freedesktop.portal.Request"),
                       QStringLiteral("Response"), &catcher, SLOT(onResponse(uint, QVariantMap)));
}

void unsubscribe(QDBusConnection& bus, const QString& path, ResponseCatcher& catcher) {
    bus.disconnect(QString::fromLatin1(service), path, QStringLiteral("org.freedesktop.portal.Request"),
                   QStringLiteral("Response"), &catcher, SLOT(onResponse(uint, QVariantMap)));
}

} // namespace

Result<QVariantMap> fromResponse(uint code, const QVariantMap& results, const QString& step) {
    switch (code) {
    case 0:
        return results;
    case 1:
        return Error{cancelledDomain, 1, QStringLiteral("Screen sharing was not allowed (%1).").arg(step)};
    default:
        return Error{QStringLiteral("portal"), int(code),
                     QStringLiteral("The desktop could not share the screen (%1 failed).").arg(step)};
    }
}

QString senderPart(const QDBusConnection& bus) {
    return bus.baseService().mid(1).replace(QLatin1Char('.'), QLatin1Char('_'));
}

QString newToken() {
    static std::atomic<int> counter{0};
    return QStringLiteral("ferrovane%1").arg(++counter);
}

Result<QVariantMap> call(QDBusConnection bus, const QString& interface, const QString& method,
                         const QVariantList& arguments, QVariantMap options, int timeoutMs) {
    if (!bus.isConnected())
        return platformError(QStringLiteral("No session bus to reach the desktop's portal."));
    const QString token = newToken();
    options.insert(QStringLiteral("handle_token"), token);
    QString path =
        QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(senderPart(bus), token);
    ResponseCatcher catcher;
    subscribe(bus, path, catcher);
    watchForQuit();
    if (QCoreApplication* app = QCoreApplication::instance())
        QObject::connect(app, &QCoreApplication::aboutToQuit, &catcher.loop, &QEventLoop::quit);

    QDBusMessage message = QDBusMessage::createMethodCall(QString::fromLatin1(service),
                                                          QString::fromLatin1(objectPath), interface, method);
    message.setArguments(arguments + QVariantList{options});
    const QDBusMessage reply = bus.call(message, QDBus::Block, timeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        unsubscribe(bus, path, catcher);
        return platformError(
            QStringLiteral("The desktop's portal is not available: %1").arg(reply.errorMessage()));
    }
    // Portals older than the handle_token convention answer on a path of their own choosing.
    const QString answeredPath = reply.arguments().value(0).value<QDBusObjectPath>().path();
    if (!answeredPath.isEmpty() && answeredPath != path && !catcher.answered) {
        unsubscribe(bus, path, catcher);
        path = answeredPath;
        subscribe(bus, path, catcher);
    }
    if (!catcher.answered && !quitting) {
        QTimer::singleShot(timeoutMs, &catcher.loop, &QEventLoop::quit);
        catcher.loop.exec();
    }
    unsubscribe(bus, path, catcher);
    if (!catcher.answered)
        return platformError(QStringLiteral("The desktop's portal did not answer (%1).").arg(method));
    return fromResponse(catcher.code, catcher.results, method);
}

} // namespace PortalRequest

#include "PortalRequest.moc"
