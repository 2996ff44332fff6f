#pragma once

#include <QDebug>

#include <compare>
#include <cstdint>

// Rational media time: value / timescale seconds. Comparison is exact (128-bit cross products);
// subtraction of different timescales works in the larger one, rounding half away from zero.
class MediaTime {
public:
    static constexpr int32_t defaultTimescale = 600;
    static constexpr int32_t nanosecondTimescale = 1'000'000'000;

    constexpr MediaTime() = default; // invalid
    constexpr MediaTime(int64_t value, int32_t timescale)
        : m_value(value)
        , m_timescale(timescale)
        , m_valid(timescale > 0) {}

    static constexpr MediaTime invalid() { return MediaTime(); }
    static constexpr MediaTime zero() { return MediaTime(0, 1); }
    // Rounded to the nearest tick of the timescale.
    static MediaTime fromSeconds(double seconds, int32_t timescale = defaultTimescale);
    static constexpr MediaTime fromNanoseconds(int64_t ns) { return MediaTime(ns, nanosecondTimescale); }

    constexpr bool isValid() const { return m_valid; }
    constexpr int64_t value() const { return m_value; }
    constexpr int32_t timescale() const { return m_timescale; }
    // NaN for an invalid time.
    double seconds() const;
    // In another timescale, rounded half away from zero.
    int64_t valueIn(int32_t timescale) const;

    // Invalid times equal each other and order after every valid time.
    friend std::strong_ordering operator<=>(const MediaTime& a, const MediaTime& b);
    friend bool operator==(const MediaTime& a, const MediaTime& b) { return (a <=> b) == 0; }
    // Invalid if either side is.
    friend MediaTime operator-(const MediaTime& a, const MediaTime& b);
    friend MediaTime operator+(const MediaTime& a, const MediaTime& b);

private:
    int64_t m_value = 0;
    int32_t m_timescale = 0;
    bool m_valid = false;
};

QDebug operator<<(QDebug debug, const MediaTime& time);
