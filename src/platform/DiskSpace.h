#pragma once

#include "base/Error.h"

#include <QString>

#include <cstdint>

struct DiskUsage {
    int64_t availableBytes = 0; // to this user
    int64_t totalBytes = 0;
};

// How full the file system holding a path is. Any thread.
class DiskSpace {
public:
    virtual ~DiskSpace() = default;
    virtual Result<DiskUsage> usage(const QString& path) const = 0;
};
