#pragma once

#include "base/Error.h"

#include <QString>

#include <memory>

// A clip being written: a hidden file in the clips folder, locked while this object lives, that gets its
// real name only once it is complete and on disk. A crash or a kill leaves nothing under a clip's name,
// only the hidden file, which the next start-up removes (unless a live process still holds it).
class PartialClip {
public:
    static Result<std::unique_ptr<PartialClip>> create(const QString& folder, const QString& stamp);
    // Deletes the file unless it was published.
    ~PartialClip();
    PartialClip(const PartialClip&) = delete;
    PartialClip& operator=(const PartialClip&) = delete;

    const QString& path() const { return m_path; }
    // Empties the file for another attempt.
    void truncate();
    // Flushes the file and renames it to replay-<stamp>.mp4, or -2, -3 … when a clip has that name
    // already: nothing is ever replaced.
    Result<QString> publish();

    // Hidden files of clips that no live process is writing. Best effort.
    static void removeLeftovers(const QString& folder);

private:
    PartialClip(QString folder, QString stamp, QString path, int fd)
        : m_folder(std::move(folder))
        , m_stamp(std::move(stamp))
        , m_path(std::move(path))
        , m_fd(fd) {}

    const QString m_folder;
    const QString m_stamp;
    const QString m_path;
    int m_fd = -1;
    bool m_published = false;
};
