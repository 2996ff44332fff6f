#include "support/CodedFrames.h"

#include <QProcess>
#include <QTemporaryDir>

#include <cstring>
#include <memory>

namespace CodedFrames {

namespace {

struct OwnedBuffer : PixelBuffer {
    std::vector<uint8_t> bytes;
};

// With `-update 1` and no frame limit, the file ends up holding the last frame decoded.
QImage decodeWith(const QStringList& arguments, const QStringList& outputOptions) {
    QTemporaryDir dir;
    const QString png = dir.filePath("frame.png");
    QProcess ffmpeg;
    ffmpeg.start("ffmpeg", QStringList{"-v", "error", "-y"} + arguments + outputOptions + QStringList{png});
    ffmpeg.waitForFinished(30000);
    return QImage(png);
}

} // namespace

PixelBufferRef make(int number, int width, int height) {
    auto buffer = std::make_shared<OwnedBuffer>();
    buffer->width = width;
    buffer->height = height;
    buffer->bytesPerRow = width * 4;
    buffer->bytes.resize(size_t(width) * height * 4);
    const int stripe = width / bits;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = buffer->bytes.data() + size_t(y) * buffer->bytesPerRow;
        for (int x = 0; x < width; ++x) {
            const int bit = std::min(x / stripe, bits - 1);
            const uint8_t value = (number >> (bits - 1 - bit)) & 1 ? 235 : 16;
            std::memset(row + x * 4, value, 3);
            row[x * 4 + 3] = 255;
        }
    }
    buffer->data = buffer->bytes.data();
    return buffer;
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

QImage frameAt(const QString& movie, double seconds) {
    return decodeWith({"-ss", QString::number(seconds, 'f', 6), "-i", movie}, {"-frames:v", "1"});
}

QImage lastFrame(const QString& movie) {
    return decodeWith({"-sseof", "-1", "-i", movie}, {"-update", "1"});
}

} // namespace CodedFrames
