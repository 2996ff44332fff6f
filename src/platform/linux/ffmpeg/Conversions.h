#pragma once

#include "base/Error.h"
#include "base/MediaTime.h"
#include "platform/linux/ffmpeg/FfmpegHandles.h"

extern "C" {
#include <libavutil/mathematics.h>
}

// Between the system's values and FFmpeg's: media time and stream ticks, error codes and Error values.
namespace ffmpeg {

// Rounded to the nearest tick of the time base.
inline int64_t toTicks(MediaTime time, AVRational timeBase) {
    return av_rescale_q_rnd(time.value(), AVRational{1, time.timescale()}, timeBase,
                            AVRounding(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
}

// Exact: a time base is a rational with an int denominator, as a timescale is.
inline MediaTime fromTicks(int64_t ticks, AVRational timeBase) {
    return MediaTime(ticks * timeBase.num, timeBase.den);
}

// The matrix libswscale needs to turn this frame's YUV into RGB (it assumes BT.601 otherwise).
inline int swsColorspace(AVColorSpace colorspace) {
    switch (colorspace) {
    case AVCOL_SPC_BT709:
        return SWS_CS_ITU709;
    case AVCOL_SPC_FCC:
        return SWS_CS_FCC;
    case AVCOL_SPC_SMPTE240M:
        return SWS_CS_SMPTE240M;
    case AVCOL_SPC_BT2020_NCL:
    case AVCOL_SPC_BT2020_CL:
        return SWS_CS_BT2020;
    default:
        return SWS_CS_DEFAULT;
    }
}

// A failure of the system underneath (a full disk, say) keeps its errno as the code, as every platform error
// does; FFmpeg's own failures keep FFmpeg's code.
inline Error failure(int code) {
    return platformError(errorText(code), errnoOf(code));
}

// For refusals of our own, where the library has nothing to say.
inline Error failure(const char* description) {
    return platformError(QString::fromUtf8(description));
}

} // namespace ffmpeg
