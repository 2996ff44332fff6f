#pragma once

#include "base/Error.h"

#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QVariantList>
#include <QVariantMap>

#include <functional>
#include <memory>

class QDBusPendingCallWatcher;

// Calls of desktop portal methods that answer through a Request object. Nothing here waits: the answer
// arrives on the calling thread's event loop, however long the desktop's dialog stays open.
namespace PortalRequest {

constexpr const char* service = "org.freedesktop.portal.Desktop";
constexpr const char* objectPath = "/org/freedesktop/portal/desktop";
// The error category of a request the user turned down.
inline const QString cancelledCategory = QStringLiteral("portal.cancelled");

using Done = std::function<void(const Result<QVariantMap>&)>;

// A Response's code and results as a result: 0 is success, 1 the user cancelled, anything else a failure.
// `step` names what was asked, for the message, which speaks of screen sharing for the ScreenCast
// interface (the default) and of the request otherwise.
Result<QVariantMap>
fromResponse(uint code, const QVariantMap& results, const QString& step,
             const QString& interface = QStringLiteral("org.freedesktop.portal.ScreenCast"));

// The caller's part of the portal's request and session paths: the unique bus name without ':' and with
// '.' as '_'.
QString senderPart(const QDBusConnection& bus);

// A fresh token for handle_token and session_handle_token options.
QString newToken();

// Sends Close to a portal session; nothing waits for the reply.
void closeSession(QDBusConnection bus, const QString& sessionHandle);

class Call;

// A request in flight. Dropping it before the answer closes the request (Request.Close: the desktop
// takes its dialog down) and the answer is never delivered.
class Pending {
public:
    explicit Pending(Call* call)
        : m_call(call) {}
    ~Pending();
    Pending(const Pending&) = delete;
    Pending& operator=(const Pending&) = delete;

private:
    QPointer<Call> m_call;
};

// Calls `method` of `interface` with `arguments` followed by `options`, to which a handle token is added.
// The Response is subscribed to before the call is made (the portal may answer before the call's own
// reply arrives). `done` runs once on this thread, with the Response, or with why there is none after
// `timeoutMs`; it may drop the returned object.
std::unique_ptr<Pending> call(QDBusConnection bus, const QString& interface, const QString& method,
                              const QVariantList& arguments, QVariantMap options, int timeoutMs, Done done);

// One request's bookkeeping; lives on the thread that made the call. Use call().
class Call final : public QObject {
    Q_OBJECT
public:
    Call(QDBusConnection bus, QString interface, QString method, Done done);
    void send(const QVariantList& arguments, QVariantMap options, int timeoutMs);
    // No answer is wanted any more: closes the request if it is still open, then goes.
    void abandon();

private slots:
    void onResponse(uint code, const QVariantMap& results);

private:
    void onReply(QDBusPendingCallWatcher* watcher);
    void subscribe(const QString& path);
    void unsubscribe();
    void finish(const Result<QVariantMap>& result);

    QDBusConnection m_bus;
    const QString m_interface;
    const QString m_method;
    Done m_done; // empty once answered or abandoned
    QString m_path;
};

} // namespace PortalRequest
