#pragma once

#include "base/MediaTime.h"

// The host clock: the one that stamps captured frames, so frame times and "now" compare directly.
class Clock {
public:
    virtual ~Clock() = default;
    virtual MediaTime now() const = 0;
};
