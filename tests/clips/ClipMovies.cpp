#include "ClipMovies.h"

#include "support/CodedFrames.h"
#include "support/Probe.h"

namespace ClipMovies {

QString make(const QString& path, int frames, int fps, QSize size, int keyInterval) {
    // The stripes are drawn on a canvas whose width is a multiple of their count, then scaled.
    const QSize canvas = size.width() % CodedFrames::bits == 0 ? size : QSize(384, 240);
    const QString source = QString::asprintf(
        "nullsrc=s=%dx%d:r=%d,geq=lum='if(bitand(floor(N/pow(2,%d-min(floor(X/%d),%d))),1),235,16)'"
        ":cb=128:cr=128,scale=%d:%d:flags=neighbor,format=yuv420p",
        canvas.width(), canvas.height(), fps, CodedFrames::bits - 1, canvas.width() / CodedFrames::bits,
        CodedFrames::bits - 1, size.width(), size.height());
    return Probe::ffmpeg(
        QStringList{"-f", "lavfi", "-i", source, "-frames:v", QString::number(frames)} +
        QString("-c:v libx264 -preset veryfast -profile:v high -bf 0 -sc_threshold 0").split(' ') +
        QStringList{"-g", QString::number(keyInterval), path});
}

} // namespace ClipMovies
