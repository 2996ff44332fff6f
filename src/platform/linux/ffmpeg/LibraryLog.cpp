#include "platform/linux/ffmpeg/LibraryLog.h"

#include "base/Logging.h"

#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

namespace ffmpeg {

namespace {

thread_local const QLoggingCategory& (*threadCategory)() = lcExport;

void forward(void* avcl, int level, const char* format, va_list args) {
    if (level > av_log_get_level()) return;
    const QLoggingCategory& category = threadCategory();
    char line[1024];
    int printPrefix = 1;
    av_log_format_line2(avcl, level, format, args, line, sizeof line, &printPrefix);
    const QByteArray text = QByteArray(line).trimmed();
    if (text.isEmpty()) return;
    // The library's messages are diagnostics: the failures they come with reach the user as our own.
    qCDebug(category).noquote() << text;
}

int levelFor(const QLoggingCategory& a, const QLoggingCategory& b) {
    return a.isDebugEnabled() || b.isDebugEnabled() ? AV_LOG_VERBOSE : AV_LOG_QUIET;
}

} // namespace

void routeLibraryLogs() {
    static std::once_flag once;
    std::call_once(once, [] {
        av_log_set_level(levelFor(lcEncoder(), lcExport()));
        av_log_set_callback(&forward);
    });
}

void logAsEncoderThread() {
    threadCategory = lcEncoder;
}

} // namespace ffmpeg
