#pragma once

#include "base/Error.h"
#include "platform/linux/ffmpeg/FfmpegHandles.h"

#include <QString>

// An MP4 file being written with one video stream, its movie header at the front so players can start
// before the whole file has arrived. A failure leaves the partial file in place, closed; deleting it is
// the caller's decision. Used by one thread.
class Mp4Output {
public:
    // Creates (or truncates) the file, adds its one stream and writes the header: ready for packets. The
    // stream has the copied samples' parameters and time base; given the most samples that will follow,
    // room for the movie header is kept ahead of them.
    static Result<Mp4Output> open(const QString& path, const AVCodecParameters* parameters,
                                  AVRational timeBase, int64_t maximumSamples);
    // The same for an opened encoder's stream, whose header +faststart moves to the front at the end.
    static Result<Mp4Output> open(const QString& path, const AVCodecContext* encoder);

    AVRational timeBase() const { return m_format->streams[0]->time_base; }
    // In decode order, stamped in timeBase(). The packet is left as it was.
    Status write(AVPacket* packet);
    Status finish();

private:
    explicit Mp4Output(ffmpeg::OutputFormatPtr format);
    static Result<Mp4Output> create(const QString& path);
    Status addVideoStream(const AVCodecParameters* parameters, AVRational timeBase);
    Status addVideoStream(const AVCodecContext* encoder);
    // From then on the stream's time base is the muxer's choice.
    Status begin(int64_t maximumSamples);

    ffmpeg::OutputFormatPtr m_format;
};
