#include "platform/Logging.h"

// QtCriticalMsg as the threshold: debug, info and warning stay off until a rule turns them on.
Q_LOGGING_CATEGORY(lcCapture, "ferrovane.capture", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcEncoder, "ferrovane.encoder", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcExport, "ferrovane.export", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcRecorder, "ferrovane.recorder", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcSettings, "ferrovane.settings", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcNotch, "ferrovane.notch", QtCriticalMsg)
Q_LOGGING_CATEGORY(lcApp, "ferrovane.app", QtCriticalMsg)

namespace Logging {

void quietByDefault() {
    QLoggingCategory::setFilterRules(QStringLiteral("default.warning=false\nqt.*.warning=false"));
}

} // namespace Logging
