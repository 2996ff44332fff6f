#include "platform/linux/ffmpeg/FrameConverter.h"

#include <QRandomGenerator>
#include <QTest>

#include <vector>

using namespace ffmpeg;

namespace {

struct Picture {
    std::vector<uint8_t> pixels;
    PixelBuffer buffer;
    Picture(int width, int height, PixelOrder order = PixelOrder::BGRA)
        : pixels(size_t(width) * size_t(height) * 4) {
        buffer = PixelBuffer{.data = pixels.data(),
                             .width = width,
                             .height = height,
                             .bytesPerRow = width * 4,
                             .order = order};
    }
    void fill(QRect area, QRandomGenerator& random) {
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                for (int c = 0; c < 4; ++c)
                    pixels[size_t(y * buffer.width + x) * 4 + size_t(c)] = uint8_t(random.bounded(256));
    }
};

FramePtr yuvFrame(int width, int height) {
    FramePtr frame(av_frame_alloc());
    frame->format = AV_PIX_FMT_YUV420P;
    frame->width = width;
    frame->height = height;
    av_frame_get_buffer(frame.get(), 0);
    return frame;
}

QByteArray planes(const AVFrame& frame) {
    QByteArray bytes;
    for (int plane = 0; plane < 3; ++plane) {
        const int rows = plane ? frame.height / 2 : frame.height,
                  width = plane ? frame.width / 2 : frame.width;
        for (int row = 0; row < rows; ++row)
            bytes.append(reinterpret_cast<const char*>(frame.data[plane] + row * frame.linesize[plane]),
                         width);
    }
    return bytes;
}

} // namespace

class TestFrameConverter : public QObject {
    Q_OBJECT

private slots:
    // BT.709 limited range, either byte order: a swapped matrix or channel shows in the primaries.
    void colours_data() {
        QTest::addColumn<int>("order");
        QTest::addColumn<QColor>("colour");
        QTest::addColumn<QList<int>>("yuv");
        for (const auto order : {PixelOrder::BGRA, PixelOrder::RGBA}) {
            const char* name = order == PixelOrder::BGRA ? "BGRA" : "RGBA";
            const int o = int(order);
            QTest::addRow("%s white", name) << o << QColor(255, 255, 255) << QList<int>{235, 128, 128};
            QTest::addRow("%s black", name) << o << QColor(0, 0, 0) << QList<int>{16, 128, 128};
            QTest::addRow("%s grey", name) << o << QColor(128, 128, 128) << QList<int>{126, 128, 128};
            QTest::addRow("%s red", name) << o << QColor(255, 0, 0) << QList<int>{63, 102, 240};
            QTest::addRow("%s green", name) << o << QColor(0, 255, 0) << QList<int>{173, 42, 26};
            QTest::addRow("%s blue", name) << o << QColor(0, 0, 255) << QList<int>{32, 240, 118};
        }
    }
    void colours() {
        QFETCH(int, order);
        QFETCH(QColor, colour);
        QFETCH(QList<int>, yuv);
        Picture picture(4, 2, PixelOrder(order));
        for (size_t i = 0; i < picture.pixels.size(); i += 4) {
            const bool bgra = PixelOrder(order) == PixelOrder::BGRA;
            picture.pixels[i] = uint8_t(bgra ? colour.blue() : colour.red());
            picture.pixels[i + 1] = uint8_t(colour.green());
            picture.pixels[i + 2] = uint8_t(bgra ? colour.red() : colour.blue());
        }
        FramePtr frame = yuvFrame(4, 2);
        FrameConverter converter(4, 2);
        QVERIFY(converter.convert(picture.buffer, *frame));
        QCOMPARE((QList<int>{frame->data[0][3], frame->data[1][1], frame->data[2][1]}), yuv);
    }

    // Converting only what changed into the frame that holds the picture before gives, bit for bit, what
    // converting the whole new picture gives: odd edges, single pixels and the picture's borders included.
    // After a picture the converter never saw (dropped on the way), the next one is converted whole. Wide
    // rows are converted sixteen columns at a time and the rest one pair at a time: where an area starts
    // decides which, and both must give the same bytes.
    void changedAreasOnly_data() {
        QTest::addColumn<int>("steps");
        QTest::addColumn<int>("width");
        QTest::newRow("each picture converted") << 1 << 70;
        QTest::newRow("every other picture dropped") << 2 << 70;
        QTest::newRow("wide picture") << 1 << 166;
    }
    void changedAreasOnly() {
        QFETCH(int, steps);
        QFETCH(int, width);
        constexpr int height = 38;
        QRandomGenerator random(20261207);
        FrameConverter converter(width, height);
        FramePtr kept = yuvFrame(width, height);
        Picture picture(width, height);
        picture.fill(QRect(0, 0, width, height), random);
        picture.buffer.sequence = 1;
        QVERIFY(converter.convert(picture.buffer, *kept));

        for (int round = 0; round < 200; ++round) {
            for (int step = 0; step < steps; ++step) {
                picture.buffer.previous = picture.buffer.sequence++;
                picture.buffer.changed.clear();
                for (int i = random.bounded(1, 4); i > 0; --i) {
                    const int x = random.bounded(width), y = random.bounded(height);
                    const QRect area(x, y, random.bounded(1, width - x + 1),
                                     random.bounded(1, height - y + 1));
                    picture.fill(area, random);
                    picture.buffer.changed.push_back(area);
                }
            }
            QVERIFY(converter.convert(picture.buffer, *kept));
            FramePtr whole = yuvFrame(width, height);
            QVERIFY(FrameConverter(width, height).convert(picture.buffer, *whole));
            QCOMPARE(planes(*kept), planes(*whole));
        }
    }
};

QTEST_GUILESS_MAIN(TestFrameConverter)
#include "tst_frameconverter.moc"
