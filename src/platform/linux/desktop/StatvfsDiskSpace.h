#pragma once

#include "platform/DiskSpace.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <sys/statvfs.h>

class StatvfsDiskSpace final : public DiskSpace {
public:
    Result<DiskUsage> usage(const QString& path) const override {
        struct statvfs fs {};
        if (statvfs(QFile::encodeName(path).constData(), &fs) != 0)
            return platformError(QString::fromLocal8Bit(strerror(errno)), errno);
        return DiskUsage{int64_t(fs.f_bavail) * int64_t(fs.f_frsize),
                         int64_t(fs.f_blocks) * int64_t(fs.f_frsize)};
    }
};
