#pragma once

#include "base/Error.h"
#include "platform/linux/ffmpeg/FfmpegHandles.h"

#include <QString>

// An MP4 file being written with one video stream, its movie header at the front so players can start
// before the whole file has arrived. A failure leaves the partial file in place, closed; deleting it is
// the caller's decision. Used by one thread.
class Mp4Output {
public:
    // Creates (or truncates) the file.
    static Result<Mp4Output> create(const QString& path);

    // The one stream: its parameters and the time base its packets are stamped in.
    Status addVideoStream(const AVCodecParameters* parameters, AVRational timeBase);
    // Or those of an opened encoder, with its time base.
    Status addVideoStream(const AVCodecContext* encoder);
    // Writes the header; from then on the stream's time base is the muxer's choice. Given the most
    // samples that will follow, room for the movie header is kept ahead of them; otherwise +faststart
    // moves every sample once the header is known. Either way the header ends up first.
    Status begin(int64_t maximumSamples = 0);
    AVRational timeBase() const { return m_format->streams[0]->time_base; }
    // In decode order, stamped in timeBase(). The packet is left as it was.
    Status write(AVPacket* packet);
    Status finish();

private:
    explicit Mp4Output(ffmpeg::OutputFormatPtr format);

    ffmpeg::OutputFormatPtr m_format;
};
