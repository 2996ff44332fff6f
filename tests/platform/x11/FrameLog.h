#pragma once

#include "platform/ScreenCapture.h"

#include <QImage>
#include <QMutex>
#include <QStringList>

#include <atomic>
#include <vector>

class QThread;

// Records what a stream delivers, from whichever thread it arrives on: each frame's status, time, handler
// thread and a copy of its picture, and the stop errors.
class FrameLog {
public:
    struct Entry {
        FrameStatus status;
        MediaTime time;
        QThread* thread;
        QImage image; // null for frames without a picture
        int bytesPerRow;
    };

    CaptureStream::FrameHandler frameHandler();
    CaptureStream::StopHandler stopHandler();
    // Keeps the delivered pictures themselves, holding the stream's buffers, until called with false.
    void holdPictures(bool hold);
    // Frames handled after this call, or after a stop error, count as late.
    void markStopped() { m_stopped = true; }

    std::vector<Entry> entries() const;
    int completeCount() const;
    QImage lastImage() const;
    QStringList stopErrors() const;
    QThread* stopThread() const { return m_stopThread; }
    int lateFrames() const { return m_lateFrames; }

private:
    mutable QMutex m_mutex;
    std::vector<Entry> m_entries;       // guarded by m_mutex
    QStringList m_stopErrors;           // guarded by m_mutex
    std::vector<PixelBufferRef> m_held; // guarded by m_mutex
    bool m_hold = false;                // guarded by m_mutex
    std::atomic<QThread*> m_stopThread = nullptr;
    std::atomic<bool> m_stopped = false;
    std::atomic<int> m_lateFrames = 0;
};
