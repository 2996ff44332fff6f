#pragma once

#include "base/Error.h"
#include "base/MediaTime.h"
#include "platform/MediaAssets.h"
#include "platform/linux/ffmpeg/FfmpegHandles.h"

#include <QString>

#include <vector>

// A movie file opened for reading, with its first video stream if it has one. Owned by one thread at a
// time; every call of the media backend opens its own.
class VideoInput {
public:
    static Result<VideoInput> open(const QString& path);

    bool hasVideo() const { return m_streamIndex >= 0; }
    // Null without video.
    AVStream* stream() const { return hasVideo() ? m_format->streams[m_streamIndex] : nullptr; }
    AVRational timeBase() const { return stream()->time_base; }
    // From the first presented sample to the end of the last; the container's when there is no video.
    MediaTime duration() const;

    // The next packet of the video stream; AVERROR_EOF at the end.
    int readPacket(AVPacket* packet);
    // To the key frame at or before `ticks` (presentation time of the video stream).
    int seekBackward(int64_t ticks);

    // The file of every range, in order; an error when one cannot be opened or has no video.
    static Result<std::vector<VideoInput>> openAll(const Composition& composition);

private:
    explicit VideoInput(ffmpeg::InputFormatPtr format, int streamIndex);

    ffmpeg::InputFormatPtr m_format;
    int m_streamIndex = -1;
};
