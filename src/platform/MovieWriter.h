#pragma once

#include "base/Error.h"
#include "base/MediaTime.h"
#include "platform/PixelBuffer.h"

#include <QString>

#include <functional>
#include <memory>

struct VideoSettings {
    int width = 0;
    int height = 0;
    int64_t averageBitRate = 0;
    int maxKeyFrameInterval = 0;
    int expectedSourceFrameRate = 0;
    bool highProfile = true;
    bool allowFrameReordering = false;
    bool expectsMediaDataInRealTime = true;

    friend bool operator==(const VideoSettings&, const VideoSettings&) = default;
};

// One H.264 video track in an MP4 file. Time 0 of the file is the session start; the last frame lasts
// until the session end. Frames are encoded on the writer's own thread.
class MovieWriter {
public:
    // Ok once the file is complete and closed; otherwise why it could not be written (open, write, finish).
    using FinishHandler = std::function<void(const Status&)>;

    virtual ~MovieWriter() = default;
    virtual void startSession(MediaTime sourceTime) = 0;
    // Room in the encoder's queue; a frame offered while this is false is refused.
    virtual bool isReadyForMoreMediaData() const = 0;
    // False when the frame is refused: no session yet, before its start or not after the previous frame,
    // after markAsFinished(), the queue full, or writing already failed.
    virtual bool append(const PixelBufferRef& buffer, MediaTime presentationTime) = 0;
    virtual void markAsFinished() = 0;
    virtual void endSession(MediaTime sourceTime) = 0;
    // Completes the file on the writer's thread and reports there. The writer object may be destroyed
    // before the handler runs; the handler is still called once. Writers may share that thread, so the
    // handler must not wait for the caller's sequence.
    virtual void finishWriting(FinishHandler handler) = 0;
};

class MovieWriterFactory {
public:
    virtual ~MovieWriterFactory() = default;
    // Creates the file (private to the user), checks the settings and starts writing; an error when the
    // file, the encoder or the container refuses.
    virtual Result<std::unique_ptr<MovieWriter>> openWriter(const QString& path,
                                                            const VideoSettings& settings) = 0;
};
