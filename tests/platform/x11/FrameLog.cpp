#include "FrameLog.h"

#include <QThread>

CaptureStream::FrameHandler FrameLog::frameHandler() {
    return [this](const CapturedFrame& frame) {
        if (m_stopped) ++m_lateFrames;
        QMutexLocker lock(&m_mutex);
        Entry entry{frame.status, frame.presentationTime, QThread::currentThread(), QImage(), 0};
        if (const PixelBufferRef& picture = frame.image) {
            entry.bytesPerRow = picture->bytesPerRow;
            // The fourth byte is padding on X11, so the copy reads the picture as opaque.
            entry.image = QImage(picture->data, picture->width, picture->height, picture->bytesPerRow,
                                 QImage::Format_RGB32)
                              .copy();
            if (m_hold) m_held.push_back(picture);
        }
        m_entries.push_back(std::move(entry));
    };
}

CaptureStream::StopHandler FrameLog::stopHandler() {
    return [this](const Error& error) {
        m_stopped = true;
        m_stopThread = QThread::currentThread();
        QMutexLocker lock(&m_mutex);
        m_stopErrors.append(error.localizedDescription());
    };
}

void FrameLog::holdPictures(bool hold) {
    QMutexLocker lock(&m_mutex);
    m_hold = hold;
    if (!hold) m_held.clear();
}

std::vector<FrameLog::Entry> FrameLog::entries() const {
    QMutexLocker lock(&m_mutex);
    return m_entries;
}

int FrameLog::completeCount() const {
    QMutexLocker lock(&m_mutex);
    return int(
        std::count_if(m_entries.begin(), m_entries.end(), [](const Entry& e) { return !e.image.isNull(); }));
}

QImage FrameLog::lastImage() const {
    QMutexLocker lock(&m_mutex);
    auto last =
        std::find_if(m_entries.rbegin(), m_entries.rend(), [](const Entry& e) { return !e.image.isNull(); });
    return last == m_entries.rend() ? QImage() : last->image;
}

QStringList FrameLog::stopErrors() const {
    QMutexLocker lock(&m_mutex);
    return m_stopErrors;
}
