#include "platform/linux/pipewire/PipeWireFrames.h"
#include "platform/linux/portal/RestoreTokenFile.h"
#include "platform/linux/portal/ScreenCastSession.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <spa/param/video/raw.h>

using namespace std::chrono_literals;
using PipeWireFrames::Kind;

// The decisions of the Wayland capture that do not need a portal or a PipeWire daemon.
class TestScreenCast : public QObject {
    Q_OBJECT
private slots:
    void cursorModes_data() {
        QTest::addColumn<uint>("available");
        QTest::addColumn<uint>("asked");
        QTest::newRow("metadata only: we draw it") << 4u << 4u;
        QTest::newRow("nothing said") << 0u << 1u;
    }
    void cursorModes() {
        QFETCH(uint, available);
        QFETCH(uint, asked);
        QCOMPARE(ScreenCastSession::cursorMode(available), asked);
    }

    // Kept private, replaced; a file that holds no plausible token is ignored.
    void restoreToken_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("read");
        QTest::newRow("a portal's token")
            << QByteArray("5c8a6d1e-33f2-4d5e-9a7b-0c1d2e3f4a5b\n") << "5c8a6d1e-33f2-4d5e-9a7b-0c1d2e3f4a5b";
        QTest::newRow("empty") << QByteArray() << QString();
        QTest::newRow("binary") << QByteArray("\x01\xff token", 8) << QString();
        QTest::newRow("too long") << QByteArray(300, 'a') << QString();
    }
    void restoreToken() {
        QFETCH(QByteArray, content);
        QFETCH(QString, read);
        QTemporaryDir dir;
        const RestoreTokenFile tokens(dir.filePath("Ferrovane/screencast-restore-token"));
        tokens.write("first");
        QCOMPARE(QFile::permissions(tokens.path()),
                 QFile::ReadOwner | QFile::WriteOwner | QFile::ReadUser | QFile::WriteUser); // 0600
        tokens.write("second");
        QCOMPARE(tokens.read(), std::optional<QString>("second"));
        writeFile(tokens.path(), content);
        QCOMPARE(tokens.read().value_or(QString()), read);
    }

    void buffers_data() {
        QTest::addColumn<bool>("corrupted");
        QTest::addColumn<bool>("mapped");
        QTest::addColumn<uint>("chunkSize");
        QTest::addColumn<Kind>("kind");
        QTest::newRow("a picture") << false << true << 9216000u << Kind::Complete;
        QTest::newRow("cursor only") << false << true << 0u << Kind::Idle;
        QTest::newRow("corrupted") << true << true << 9216000u << Kind::Dropped;
        QTest::newRow("not mapped") << false << false << 9216000u << Kind::Dropped;
    }
    void buffers() {
        QFETCH(bool, corrupted);
        QFETCH(bool, mapped);
        QFETCH(uint, chunkSize);
        QFETCH(Kind, kind);
        QCOMPARE(PipeWireFrames::classify({corrupted, mapped, chunkSize}), kind);
    }

    void formats_data() {
        QTest::addColumn<uint>("format");
        QTest::addColumn<int>("order"); // -1: refused
        QTest::newRow("BGRx") << uint(SPA_VIDEO_FORMAT_BGRx) << int(PixelOrder::BGRA);
        QTest::newRow("BGRA") << uint(SPA_VIDEO_FORMAT_BGRA) << int(PixelOrder::BGRA);
        QTest::newRow("RGBx") << uint(SPA_VIDEO_FORMAT_RGBx) << int(PixelOrder::RGBA);
        QTest::newRow("RGBA") << uint(SPA_VIDEO_FORMAT_RGBA) << int(PixelOrder::RGBA);
        QTest::newRow("xRGB") << uint(SPA_VIDEO_FORMAT_xRGB) << -1;
    }
    void formats() {
        QFETCH(uint, format);
        QFETCH(int, order);
        const std::optional<PixelOrder> found = PipeWireFrames::orderOf(format);
        QCOMPARE(found ? int(*found) : -1, order);
    }

    void strides_data() {
        QTest::addColumn<int>("stride");
        QTest::addColumn<uint>("offset");
        QTest::addColumn<uint>("size");
        QTest::addColumn<bool>("fits");
        // 100 × 10 pixels: 400 bytes a row.
        QTest::newRow("tight") << 400 << 0u << 4000u << true;
        QTest::newRow("padded rows, last row short") << 512 << 0u << 512u * 9 + 400 << true;
        QTest::newRow("one byte missing") << 512 << 0u << 512u * 9 + 399 << false;
        QTest::newRow("offset pushes it out") << 400 << 64u << 4000u << false;
        QTest::newRow("stride below a row") << 396 << 0u << 4000u << false;
    }
    void strides() {
        QFETCH(int, stride);
        QFETCH(uint, offset);
        QFETCH(uint, size);
        QFETCH(bool, fits);
        QCOMPARE(PipeWireFrames::fits(100, 10, stride, offset, size), fits);
    }

    // A 2×2 pointer (premultiplied: opaque red, half-transparent white, clear, opaque blue) drawn over a
    // grey 4×3 picture; what falls outside the picture is left out.
    void cursor_data() {
        QTest::addColumn<QPoint>("topLeft");
        QTest::addColumn<int>("order");
        QTest::addColumn<QList<QList<int>>>("changed"); // x, y, B, G, R of each changed pixel
        const int bgra = int(PixelOrder::BGRA), rgba = int(PixelOrder::RGBA);
        QTest::newRow("inside") << QPoint(1, 1) << bgra
                                << QList<QList<int>>{
                                       {1, 1, 0, 0, 255}, {2, 1, 192, 192, 192}, {2, 2, 255, 0, 0}};
        QTest::newRow("picture in the other byte order")
            << QPoint(1, 1) << rgba
            << QList<QList<int>>{{1, 1, 255, 0, 0}, {2, 1, 192, 192, 192}, {2, 2, 0, 0, 255}};
        QTest::newRow("past the top left corner")
            << QPoint(-1, -1) << bgra << QList<QList<int>>{{0, 0, 255, 0, 0}};
        QTest::newRow("past the bottom right corner")
            << QPoint(3, 2) << bgra << QList<QList<int>>{{3, 2, 0, 0, 255}};
    }
    void cursor() {
        QFETCH(QPoint, topLeft);
        QFETCH(int, order);
        QFETCH(QList<QList<int>>, changed);
        // B, G, R, A in memory for the pointer.
        const uint8_t pointer[] = {0, 0, 255, 255, 128, 128, 128, 128, 0, 0, 0, 0, 255, 0, 0, 255};
        std::vector<uint8_t> picture(4 * 3 * 4, 128);
        PipeWireFrames::drawCursor(picture.data(), QSize(4, 3), 16, PixelOrder(order),
                                   {QSize(2, 2), 8, PixelOrder::BGRA, pointer}, topLeft);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < 4; ++x) {
                QList<int> expected{x, y, 128, 128, 128};
                for (const QList<int>& pixel : changed)
                    if (pixel[0] == x && pixel[1] == y) expected = pixel;
                const uint8_t* p = &picture[size_t(y * 16 + x * 4)];
                QCOMPARE((QList<int>{x, y, p[0], p[1], p[2]}), expected);
            }
    }

    // A compositor drawing at random, sending buffers with or without damage (or without pixels), some
    // skipped, pictures copied, redrawn for the pointer, held and replaced, or lost on the way. Whenever
    // a picture names the last one the encoder got as its previous, they must be equal outside the
    // areas it names: that is all the encoder relies on.
    void changes_data() {
        QTest::addColumn<int>("withoutDamage"); // percent of buffers that carry none
        QTest::newRow("damage on every buffer") << 0;
        QTest::newRow("damage on some") << 15;
    }
    void changes() {
        QFETCH(int, withoutDamage);
        constexpr int width = 48, height = 32;
        const QSize size(width, height);
        QRandomGenerator random(7);
        const auto chance = [&](int percent) { return int(random.bounded(100)) < percent; };
        const auto anyRect = [&] {
            const int x = random.bounded(-4, width), y = random.bounded(-4, height);
            return QRect(x, y, random.bounded(1, 12), random.bounded(1, 12));
        };
        using Pixels = std::vector<uint8_t>;
        const auto paint = [&](Pixels& pixels, QRect area, uint8_t value) {
            area &= QRect(QPoint(0, 0), size);
            for (int y = area.top(); y <= area.bottom(); ++y)
                for (int x = area.left(); x <= area.right(); ++x)
                    pixels[size_t(y * width + x)] = value;
        };
        struct Picture {
            PixelBuffer description;
            Pixels pixels;
        };

        PipeWireFrames::Changes changes;
        Pixels screen(size_t(width * height), 0), clean = screen;
        std::vector<QRect> unsent; // drawn since the compositor's last buffer
        QRect pointer;
        std::optional<Picture> held, encoded;
        int checked = 0, partial = 0;
        for (int step = 0; step < 4000; ++step) {
            for (int n = random.bounded(3); n > 0; --n) {
                const QRect area = anyRect();
                paint(screen, area, uint8_t(random.bounded(1, 250)));
                unsent.push_back(area);
            }
            // The buffers waiting on the stream; only the newest is read.
            const int buffers = random.bounded(1, 4);
            bool pixelsSent = false;
            for (int b = 0; b < buffers; ++b) {
                if (unsent.empty() && chance(70)) {
                    changes.addBuffer(std::vector<QRect>()); // no pixels: only the pointer moved
                    continue;
                }
                if (chance(withoutDamage))
                    changes.addBuffer(std::nullopt);
                else
                    changes.addBuffer(std::exchange(unsent, {}));
                unsent.clear();
                pixelsSent = true;
            }
            const QRect newPointer = chance(50) ? anyRect() : pointer;
            Picture picture{{.sequence = nextPictureSequence()}, {}};
            if (pixelsSent && chance(90)) {
                clean = screen;
                picture.pixels = clean;
                paint(picture.pixels, newPointer, 255);
                changes.describeCopy(picture.description, size, newPointer);
            } else if (newPointer != pointer) {
                picture.pixels = clean;
                paint(picture.pixels, newPointer, 255);
                changes.describeRedraw(picture.description, size, newPointer);
            } else {
                continue;
            }
            pointer = newPointer;
            if (held) PipeWireFrames::absorb(picture.description, held->description);
            held.reset();
            if (chance(25)) {
                held = std::move(picture);
                continue;
            }
            if (chance(10)) continue; // lost on the way to the encoder

            if (encoded && picture.description.previous == encoded->description.sequence) {
                Pixels expected = encoded->pixels;
                for (const QRect& area : picture.description.changed) {
                    QVERIFY(QRect(QPoint(0, 0), size).contains(area));
                    for (int y = area.top(); y <= area.bottom(); ++y)
                        for (int x = area.left(); x <= area.right(); ++x)
                            expected[size_t(y * width + x)] = picture.pixels[size_t(y * width + x)];
                }
                QVERIFY2(expected == picture.pixels, qPrintable(QStringLiteral("step %1").arg(step)));
                ++checked;
                if (!picture.description.changed.empty()) ++partial;
            }
            encoded = std::move(picture);
        }
        // The property was put to the test, on pictures described in part.
        QVERIFY(checked > 500);
        QVERIFY(partial > 300);
    }

    // A 60 Hz compositor at 30 fps: every other frame passes, jitter of a few ms does not shift the beat,
    // and a frame after a still spell starts at once.
    void gate() {
        PipeWireFrames::Gate gate(33'333'333ns);
        QVERIFY(gate.admit(1000ms));
        QVERIFY(!gate.admit(1016ms));
        QCOMPARE(gate.next(), 1000ms + 33'333'333ns);
        QVERIFY(gate.admit(1031ms)); // 2.3 ms early: forgiven
        QVERIFY(!gate.admit(1050ms));
        QVERIFY(gate.admit(1067ms));
        QCOMPARE(gate.next(), 1000ms + 3 * 33'333'333ns);
        QVERIFY(gate.admit(5000ms));
        QCOMPARE(gate.next(), 5000ms + 33'333'333ns);
    }
};

QTEST_GUILESS_MAIN(TestScreenCast)
#include "tst_screencast.moc"
