#pragma once

#include <QLoggingCategory>

// One category per subsystem. Warnings are what the user must know or act on (a failed save, no hot key,
// recording stopped) and print by default, on stderr as "ferrovane: …"; debug and info diagnostics are
// opt-in: QT_LOGGING_RULES="ferrovane.*=true" turns on every one, "ferrovane.export=true" one subsystem's.
Q_DECLARE_LOGGING_CATEGORY(lcCapture)  // ferrovane.capture: screen capture backends
Q_DECLARE_LOGGING_CATEGORY(lcEncoder)  // ferrovane.encoder: segment writers and the H.264 encoder
Q_DECLARE_LOGGING_CATEGORY(lcExport)   // ferrovane.export: joining segments into clips, reading clips
Q_DECLARE_LOGGING_CATEGORY(lcRecorder) // ferrovane.recorder: the rolling buffer's bookkeeping
Q_DECLARE_LOGGING_CATEGORY(lcSettings) // ferrovane.settings: the preferences store
Q_DECLARE_LOGGING_CATEGORY(lcNotch)    // ferrovane.notch: the panel
Q_DECLARE_LOGGING_CATEGORY(lcApp)      // ferrovane.app: start-up, lifecycle, signals

namespace Logging {
// Keeps Qt's own warnings (a settings file that cannot be watched, say) off the terminal unless the user
// asks for them through QT_LOGGING_RULES, which still wins, and sets how messages read. Call before the
// application object exists.
void quietByDefault();
} // namespace Logging
