#pragma once

#include "platform/Clock.h"

#include <time.h>

// CLOCK_MONOTONIC in nanoseconds; the capture backend stamps frames on the same clock.
class MonotonicClock final : public Clock {
public:
    static MediaTime read() {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return MediaTime::fromNanoseconds(int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec);
    }
    MediaTime now() const override { return read(); }
};
