#pragma once

#include "platform/MovieWriter.h"
#include "platform/linux/ffmpeg/FfmpegHandles.h"
#include "platform/linux/ffmpeg/FrameConverter.h"

#include <cstdint>
#include <memory>
#include <vector>

extern "C" {
#include <x264.h>
}

namespace ffmpeg {

struct X264Deleter {
    void operator()(x264_t* encoder) const { x264_encoder_close(encoder); }
};

// libx264 fed with captured BGRA pictures, converted on the way. One encoder serves a whole recording,
// file after file: opening one allocates and faults in tens of megabytes at 1920x1200, which at every
// roll cost a stall and, while the old and the new one overlapped, memory. A file starts at a frame sent
// with `startsFile`, an IDR frame, and every file carries the same parameter sets (the global header),
// so each decodes on its own. Opened on the caller's thread (so refusals are reported at once), then used
// by one encoder thread.
//
// Driven through x264's own interface rather than libavcodec's, for two things that one cannot pass on:
// which macroblocks a picture left unchanged (x264 then skips them without analysing them), and how long
// the picture before a frame stayed on screen, which the average bit rate is counted against.
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

    // x264's per-macroblock flags for a `size` picture that differs from the one before it only inside
    // `changed`: X264_MBINFO_CONSTANT on every 16x16 block that no area touches, row by row.
    static std::vector<uint8_t> constantMacroblocks(const std::vector<QRect>& changed, QSize size);

private:
    explicit H264Encoder(const VideoSettings& settings)
        : m_settings(settings)
        , m_converter(settings.width, settings.height) {}
    Status start();
    Status encode(x264_picture_t* picture);
    // Ends the encoder for a failure of x264 itself.
    Status failure(const QString& what);
    QString reason() const;

    const VideoSettings m_settings;
    std::unique_ptr<x264_t, X264Deleter> m_x264;
    ParametersPtr m_parameters;
    FrameConverter m_converter;
    FramePtr m_frame;       // the picture x264 is given, reused; x264 copies it in
    PacketPtr m_ready;      // a packet x264 gave and receive() has not taken
    QByteArray m_firstSei;  // x264's version and settings, carried by the first packet
    QByteArray m_lastError; // x264's last error message
    int64_t m_nominalTicks = 1;
    int64_t m_lastPts = 0;
    bool m_sentAny = false;
    int m_pending = 0;
    bool m_flushing = false;
    bool m_spent = false;
};

} // namespace ffmpeg
