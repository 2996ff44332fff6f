#pragma once

#include "base/Error.h"

extern "C" {
#include <libavformat/avio.h>
}

#include <QByteArray>
#include <QString>

#include <memory>

namespace ffmpeg {

// A new file that only its owner may read (0600), written through libavformat by file descriptor. The
// file is created with O_EXCL|O_NOFOLLOW, so an existing file or a planted symlink is refused, never
// truncated or followed. Used by one thread at a time; the descriptor is closed on destruction.
class PrivateFileOutput {
public:
    static Result<std::unique_ptr<PrivateFileOutput>> create(const QString& path);
    ~PrivateFileOutput();
    PrivateFileOutput(const PrivateFileOutput&) = delete;
    PrivateFileOutput& operator=(const PrivateFileOutput&) = delete;

    AVIOContext* context() const { return m_io.get(); }
    // Flushes and closes the file: the first write error, or the error of close(), if any.
    Status close();
    // Best effort: only for a file refused before anything was written into it.
    void remove();

private:
    struct IoContextDeleter {
        void operator()(AVIOContext* io) const;
    };

    PrivateFileOutput(QByteArray path, int fd)
        : m_path(std::move(path))
        , m_fd(fd) {}
    static int write(void* opaque, uint8_t* data, int sizeBytes);
    static int64_t seek(void* opaque, int64_t offset, int whence);

    QByteArray m_path;
    int m_fd = -1;
    int m_writeErrno = 0; // first failed write(2), kept: libavformat only keeps a generic error
    std::unique_ptr<AVIOContext, IoContextDeleter> m_io;
};

} // namespace ffmpeg
