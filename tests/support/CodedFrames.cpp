#include "support/CodedFrames.h"
#include "support/Probe.h"

#include <QTemporaryDir>

#include <memory>
#include <vector>

namespace CodedFrames {

PixelBufferRef make(int number, int width, int height) {
    const int stripe = width / bits;
    return paint(QSize(width, height), 0, [&](int x, int) {
        const int bit = std::min(x / stripe, bits - 1);
        return (number >> (bits - 1 - bit)) & 1 ? qRgb(235, 235, 235) : qRgb(16, 16, 16);
    });
}

PixelBufferRef paint(QSize size, int paddingBytes, const std::function<QRgb(int x, int y)>& rgb) {
    struct OwnedBuffer : PixelBuffer {
        std::vector<uint8_t> bytes;
    };
    auto picture = std::make_shared<OwnedBuffer>();
    picture->width = size.width();
    picture->height = size.height();
    picture->bytesPerRow = size.width() * 4 + paddingBytes;
    picture->bytes.assign(size_t(picture->bytesPerRow) * size.height(), 0xEE);
    picture->data = picture->bytes.data();
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            reinterpret_cast<QRgb*>(picture->bytes.data() + size_t(y) * picture->bytesPerRow)[x] = rgb(x, y);
    return picture;
}

std::optional<int> read(const QImage& image) {
    if (image.isNull()) return std::nullopt;
    const int stripe = image.width() / bits;
    int number = 0;
    for (int bit = 0; bit < bits; ++bit) {
        const QRgb pixel = image.pixel(bit * stripe + stripe / 2, image.height() / 2);
        number = (number << 1) | (qGray(pixel) > 128 ? 1 : 0);
    }
    return number;
}

namespace {

// With `-update 1` and no frame limit, the file ends up holding the last frame decoded.
QImage decodeWith(const QStringList& arguments, const QStringList& outputOptions) {
    QTemporaryDir dir;
    const QString png = dir.filePath("frame.png");
    Probe::ffmpeg(arguments + outputOptions + QStringList{png});
    return QImage(png);
}

} // namespace

QImage frameAt(const QString& movie, double seconds) {
    return decodeWith({"-ss", QString::number(seconds, 'f', 6), "-i", movie}, {"-frames:v", "1"});
}

QImage lastFrame(const QString& movie) {
    return decodeWith({"-sseof", "-1", "-i", movie}, {"-update", "1"});
}

QString movie(const QString& path, int frames, QSize size, MovieOptions o) {
    // The stripes are drawn on a canvas whose width is a multiple of their count, then scaled.
    const QSize canvas = size.width() % bits == 0 ? size : QSize(384, 240);
    const QString source = QString::asprintf(
        "nullsrc=s=%dx%d:r=%d,geq=lum='if(bitand(floor((N+%d)/pow(2,%d-min(floor(X/%d),%d))),1),235,16)'"
        ":cb=128:cr=128,scale=%d:%d:flags=neighbor,format=yuv420p,select='not(mod(n\\,%d))'",
        canvas.width(), canvas.height(), o.fps, o.first, bits - 1, canvas.width() / bits, bits - 1,
        size.width(), size.height(), o.every);
    return Probe::ffmpeg(
        QStringList{"-f", "lavfi", "-i", source, "-frames:v", QString::number(frames / o.every), "-vsync",
                    "vfr", "-video_track_timescale", "90000", "-g", QString::number(o.keyInterval)} +
        QString("-c:v libx264 -preset veryfast -profile:v high -bf 0 -sc_threshold 0 "
                "-colorspace bt709 -color_primaries bt709 -color_trc bt709")
            .split(' ') +
        QStringList{path});
}

} // namespace CodedFrames
