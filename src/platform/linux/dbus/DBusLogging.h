#pragma once

#include <QLoggingCategory>

// ferrovane.dbus: the screen lock sources and the control service. Silent unless a rule turns it on.
Q_DECLARE_LOGGING_CATEGORY(lcDbus)
