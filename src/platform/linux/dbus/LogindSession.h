#pragma once

#include "base/Error.h"

#include <QDBusConnection>
#include <QString>

#include <functional>

class QObject;

namespace LogindSession {

// Finds the object path of this process's logind session without blocking, and calls `done` with it on
// the context's thread; nothing is called once the context is gone. `sessionId` is XDG_SESSION_ID, empty
// when unset.
void find(const QDBusConnection& systemBus, const QString& sessionId, QObject* context,
          std::function<void(Result<QString>)> done);

} // namespace LogindSession
