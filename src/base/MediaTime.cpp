#include "base/MediaTime.h"

#include <cmath>
#include <limits>

namespace {

// Rounds n / d (d > 0) half away from zero.
int64_t divideRounded(__int128 n, __int128 d) {
    __int128 q = n / d;
    __int128 r = n % d;
    if (r < 0) r = -r;
    if (2 * r >= d) q += (n < 0) ? -1 : 1;
    return static_cast<int64_t>(q);
}

MediaTime combine(const MediaTime& a, const MediaTime& b, int sign) {
    if (!a.isValid() || !b.isValid()) return MediaTime::invalid();
    if (a.timescale() == b.timescale()) return MediaTime(a.value() + sign * b.value(), a.timescale());
    const int32_t scale = std::max(a.timescale(), b.timescale());
    return MediaTime(a.valueIn(scale) + sign * b.valueIn(scale), scale);
}

} // namespace

MediaTime MediaTime::fromSeconds(double seconds, int32_t timescale) {
    if (!std::isfinite(seconds) || timescale <= 0) return invalid();
    return MediaTime(static_cast<int64_t>(std::llround(seconds * timescale)), timescale);
}

double MediaTime::seconds() const {
    if (!m_valid) return std::numeric_limits<double>::quiet_NaN();
    return static_cast<double>(m_value) / m_timescale;
}

int64_t MediaTime::valueIn(int32_t timescale) const {
    if (timescale == m_timescale) return m_value;
    return divideRounded(static_cast<__int128>(m_value) * timescale, m_timescale);
}

std::strong_ordering operator<=>(const MediaTime& a, const MediaTime& b) {
    if (!a.isValid() || !b.isValid()) {
        if (a.isValid() == b.isValid()) return std::strong_ordering::equal;
        return a.isValid() ? std::strong_ordering::less : std::strong_ordering::greater;
    }
    const __int128 left = static_cast<__int128>(a.value()) * b.timescale();
    const __int128 right = static_cast<__int128>(b.value()) * a.timescale();
    return left <=> right;
}

MediaTime operator-(const MediaTime& a, const MediaTime& b) {
    return combine(a, b, -1);
}
MediaTime operator+(const MediaTime& a, const MediaTime& b) {
    return combine(a, b, 1);
}

QDebug operator<<(QDebug debug, const MediaTime& time) {
    QDebugStateSaver saver(debug);
    if (!time.isValid()) return debug.nospace() << "MediaTime(invalid)";
    return debug.nospace() << "MediaTime(" << time.value() << "/" << time.timescale() << " = "
                           << time.seconds() << "s)";
}
