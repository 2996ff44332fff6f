#include "platform/linux/ffmpeg/PrivateFileOutput.h"

#include "platform/linux/ffmpeg/FfmpegHandles.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

extern "C" {
#include <libavutil/mem.h>
}

namespace ffmpeg {

namespace {

// Large enough that a 7 Mbit/s segment costs a few dozen write(2) calls per second.
constexpr int ioBufferBytes = 256 * 1024;

QString describeErrno(int code) {
    return QString::fromLocal8Bit(strerror(code));
}

} // namespace

void PrivateFileOutput::IoContextDeleter::operator()(AVIOContext* io) const {
    // libavformat may have replaced the buffer it was given, so free the current one.
    av_freep(&io->buffer);
    avio_context_free(&io);
}

Result<std::unique_ptr<PrivateFileOutput>> PrivateFileOutput::create(const QString& path) {
    QByteArray nativePath = QFile::encodeName(path);
    const int fd = ::open(nativePath.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int code = errno;
        return platformError(
            QStringLiteral("Could not create the movie file %1: %2").arg(path, describeErrno(code)), code);
    }
    std::unique_ptr<PrivateFileOutput> output(new PrivateFileOutput(std::move(nativePath), fd));

    auto* buffer = static_cast<unsigned char*>(av_malloc(ioBufferBytes));
    AVIOContext* io = buffer ? avio_alloc_context(buffer, ioBufferBytes, 1, output.get(), nullptr,
                                                  &PrivateFileOutput::write, &PrivateFileOutput::seek)
                             : nullptr;
    if (!io) {
        av_free(buffer);
        output->remove();
        return platformError(QStringLiteral("Out of memory while opening the movie file %1.").arg(path),
                             ENOMEM);
    }
    output->m_io.reset(io);
    return output;
}

PrivateFileOutput::~PrivateFileOutput() {
    if (m_fd >= 0) ::close(m_fd);
}

int PrivateFileOutput::write(void* opaque, uint8_t* data, int sizeBytes) {
    auto* self = static_cast<PrivateFileOutput*>(opaque);
    int written = 0;
    while (written < sizeBytes) {
        const ssize_t n = ::write(self->m_fd, data + written, size_t(sizeBytes - written));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int code = n < 0 ? errno : ENOSPC;
            if (!self->m_writeErrno) self->m_writeErrno = code;
            return AVERROR(code);
        }
        written += int(n);
    }
    return written;
}

int64_t PrivateFileOutput::seek(void* opaque, int64_t offset, int whence) {
    auto* self = static_cast<PrivateFileOutput*>(opaque);
    if (whence & AVSEEK_SIZE) {
        struct stat info {};
        return fstat(self->m_fd, &info) == 0 ? int64_t(info.st_size) : AVERROR(errno);
    }
    const off_t position = lseek(self->m_fd, off_t(offset), whence & ~AVSEEK_FORCE);
    return position < 0 ? AVERROR(errno) : int64_t(position);
}

Status PrivateFileOutput::close() {
    avio_flush(m_io.get());
    int code = m_writeErrno;
    QString reason = code ? describeErrno(code) : QString();
    if (!code && m_io->error < 0) {
        code = errnoOf(m_io->error);
        reason = errorText(m_io->error);
    }
    // close(2) reports delayed write errors on some file systems, so it is checked too.
    if (::close(m_fd) != 0 && !code) {
        code = errno;
        reason = describeErrno(code);
    }
    m_fd = -1;
    if (code)
        return platformError(
            QStringLiteral("Could not write the movie file %1: %2").arg(QFile::decodeName(m_path), reason),
            code);
    return Ok{};
}

void PrivateFileOutput::remove() {
    ::unlink(m_path.constData());
}

} // namespace ffmpeg
