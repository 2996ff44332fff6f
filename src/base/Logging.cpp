#include "base/Logging.h"

// QtWarningMsg as the threshold: warnings (what the user must know) print, debug and info wait for a rule.
Q_LOGGING_CATEGORY(lcCapture, "ferrovane.capture", QtWarningMsg)
Q_LOGGING_CATEGORY(lcEncoder, "ferrovane.encoder", QtWarningMsg)
Q_LOGGING_CATEGORY(lcExport, "ferrovane.export", QtWarningMsg)
Q_LOGGING_CATEGORY(lcRecorder, "ferrovane.recorder", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSettings, "ferrovane.settings", QtWarningMsg)
Q_LOGGING_CATEGORY(lcNotch, "ferrovane.notch", QtWarningMsg)
Q_LOGGING_CATEGORY(lcApp, "ferrovane.app", QtWarningMsg)

namespace Logging {

void quietByDefault() {
    QLoggingCategory::setFilterRules(QStringLiteral("default.warning=false\nqt.*.warning=false"));
    // Warnings read as a command-line tool's do ("ferrovane: …"); diagnostics name their subsystem.
    if (!qEnvironmentVariableIsSet("QT_MESSAGE_PATTERN"))
        qSetMessagePattern(QStringLiteral("%{if-debug}%{category}: %{endif}%{if-info}%{category}: %{endif}"
                                          "%{if-warning}ferrovane: %{endif}%{if-critical}ferrovane: %{endif}"
                                          "%{if-fatal}ferrovane: %{endif}%{message}"));
}

} // namespace Logging
