#include "platform/linux/dbus/DBusLogging.h"

Q_LOGGING_CATEGORY(lcDbus, "ferrovane.dbus", QtCriticalMsg)
