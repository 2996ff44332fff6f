#pragma once

#include "platform/MovieWriter.h"
#include "platform/linux/ffmpeg/FfmpegHandles.h"
#include "platform/linux/ffmpeg/FrameConverter.h"

#include <memory>

namespace ffmpeg {

// libx264 fed with captured BGRA pictures, converted on the way. One encoder serves a whole recording,
// file after file: opening one allocates and faults in tens of megabytes at 1920x1200, which at every
// roll cost a stall and, while the old and the new one overlapped, memory. A file starts at a frame sent
// with `startsFile`, an IDR frame, and every file carries the same parameter sets (the global header),
// so each decodes on its own. Opened on the caller's thread (so refusals are reported at once), then used
// by one encoder thread.
class H264Encoder {
public:
    // Frame times, in ticks of this base: fine enough for the irregular times of a variable frame rate
    // stream (idle frames are skipped) and the usual MP4 video timescale.
    static constexpr AVRational timeBase{1, 90000};
    // A speed/size trade-off of libx264, named so a benchmark can change it in one place.
    static constexpr const char* encoderPreset = "veryfast";

    static Result<std::unique_ptr<H264Encoder>> open(const VideoSettings& settings);

    const VideoSettings& settings() const { return m_settings; }
    // The stream's parameters for a container; fixed once opened.
    const AVCodecParameters* parameters() const { return m_parameters.get(); }

    // Converts `buffer` (released as soon as it is converted) and encodes it at `ptsTicks`, which must
    // grow from frame to frame over the encoder's whole life.
    Status send(PixelBufferRef buffer, int64_t ptsTicks, bool startsFile);
    // Takes the next finished packet: false when there is none yet.
    Result<bool> receive(AVPacket* packet);
    // Frames sent whose packets have not been received. Without look-ahead (tune zerolatency) x264 returns
    // each frame's packet as soon as it is given the frame, so this is 0 between frames.
    int pending() const { return m_pending; }
    // Flushes what x264 still holds; afterwards the encoder takes no more frames.
    Status sendEnd();
    // After sendEnd() or a failure of libx264 itself (not of one picture's conversion) no frame is taken.
    bool spent() const { return m_spent; }

private:
    explicit H264Encoder(const VideoSettings& settings)
        : m_settings(settings)
        , m_converter(settings.width, settings.height) {}
    Status start();
    Status codecFailure(int code, const QString& what);

    const VideoSettings m_settings;
    CodecContextPtr m_codec;
    ParametersPtr m_parameters;
    FrameConverter m_converter;
    FramePtr m_frame; // reused for every picture
    int m_pending = 0;
    bool m_spent = false;
};

} // namespace ffmpeg
