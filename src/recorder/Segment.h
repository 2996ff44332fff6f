#pragma once

#include "base/MediaTime.h"

#include <QString>

// One finished segment file of the rolling buffer. Time 0 of the file is `start`.
struct Segment {
    QString url;
    MediaTime start;
    MediaTime end;
    MediaTime frameInterval; // the shortest time between two of its frames; invalid when not known
};
