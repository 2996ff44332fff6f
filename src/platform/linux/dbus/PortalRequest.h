#pragma once

#include "platform/Error.h"

#include <QDBusConnection>
#include <QVariantList>
#include <QVariantMap>

// One call of a desktop portal method that answers through a Request object: the Response signal is
// subscribed to before the call is made (the portal may answer before the call's own reply arrives), then
// awaited in a local event loop. For threads without a running event loop of their own.
namespace PortalRequest {

constexpr const char* service = "org.freedesktop.portal.Desktop";
constexpr const char* objectPath = "/org/freedesktop/portal/desktop";
// The error domain of a request the user turned down.
inline const QString cancelledDomain = QStringLiteral("portal.cancelled");

// A Response's code and results as a result: 0 is success, 1 the user cancelled, anything else a failure.
// `step` names what was asked, for the message.
Result<QVariantMap> fromResponse(uint code, const QVariantMap& results, const QString& step);

// Calls `method` of `interface` with `arguments` followed by `options`, to which a handle token is added,
// and waits up to `timeoutMs` for the Response.
Result<QVariantMap> call(QDBusConnection bus, const QString& interface, const QString& method,
                         const QVariantList& arguments, QVariantMap options, int timeoutMs);

// The caller's part of the portal's request and session paths: the unique bus name without ':' and with
// '.' as '_'.
QString senderPart(const QDBusConnection& bus);

// A fresh token for handle_token and session_handle_token options.
QString newToken();

} // namespace PortalRequest
