#include "clips/AgentHandoff.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>
#include <cstdio>

// The prompt and the names of Part 5.1, without files.
class HandoffPromptTest : public QObject {
    Q_OBJECT

private slots:
    void composePrompt_data() {
        QTest::addColumn<double>("duration");
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<QString>("clip");
        QTest::addColumn<QString>("prompt");

        const QString tail =
            "\n\nLook at the frames, describe what goes wrong, then find the likely cause in "
            "this codebase.";
        const QString folder = "/home/user/Movies/Ferrovane/replay-2026-12-04_16-23-22-frames/";
        const QString clip = "/home/user/Movies/Ferrovane/replay-2026-12-04_16-23-22.mp4";
        QStringList six;
        for (int i = 0; i < 6; ++i)
            six << AgentHandoff::frameLine(folder + AgentHandoff::frameFileName(i + 1), 2.5 + 5 * i);

        QTest::newRow("worked example")
            << 30.0 << six << clip
            << "I captured a screen replay of a problem (the last 30 seconds before I hit save). Here are 6 "
               "frames in time order:\n"
               "- /home/user/Movies/Ferrovane/replay-2026-12-04_16-23-22-frames/frame-01.png  (at 2.5s)\n"
               "- /home/user/Movies/Ferrovane/replay-2026-12-04_16-23-22-frames/frame-02.png  (at 7.5s)\n"
               "- /home/user/Movies/Ferrovane/replay-2026-12-04_16-23-22-frames/frame-03.png  (at 12.5s)\n"
               "- /home/user/Movies/Ferrovane/replay-2026-12-04_16-23-22-frames/frame-04.png  (at 17.5s)\n"
               "- /home/user/Movies/Ferrovane/replay-2026-12-04_16-23-22-frames/frame-05.png  (at 22.5s)\n"
               "- /home/user/Movies/Ferrovane/replay-2026-12-04_16-23-22-frames/frame-06.png  (at 27.5s)\n"
               "Full video: /home/user/Movies/Ferrovane/replay-2026-12-04_16-23-22.mp4" +
                   tail;
        QTest::newRow("no frames: one empty line")
            << 30.0 << QStringList() << clip
            << "I captured a screen replay of a problem (the last 30 seconds before I hit save). Here are 0 "
               "frames in time order:\n\nFull video: " +
                   clip + tail;
        QTest::newRow("14.5 s is the last 15")
            << 14.5 << QStringList{"- /c/f/frame-01.png  (at 7.2s)"} << "/c/f.mp4"
            << "I captured a screen replay of a problem (the last 15 seconds before I hit save). Here are 1 "
               "frames in time order:\n- /c/f/frame-01.png  (at 7.2s)\nFull video: /c/f.mp4" +
                   tail;
        QTest::newRow("29.4 s is the last 29")
            << 29.4 << QStringList() << "/c/f.mp4"
            << "I captured a screen replay of a problem (the last 29 seconds before I hit save). Here are 0 "
               "frames in time order:\n\nFull video: /c/f.mp4" +
                   tail;
        QTest::newRow("K counts the lines, not the frames asked for")
            << 3600.0 << QStringList{"- a", "- b"} << "/c/f.mp4"
            << "I captured a screen replay of a problem (the last 3600 seconds before I hit save). Here are "
               "2 "
               "frames in time order:\n- a\n- b\nFull video: /c/f.mp4" +
                   tail;
        QTest::newRow("paths as they are") << 0.4 << QStringList() << "/home/ü ser/My Clips/a%20b.mp4"
                                           << "I captured a screen replay of a problem (the last 0 seconds "
                                              "before I hit save). Here are 0 frames in time order:\n\nFull "
                                              "video: /home/ü ser/My Clips/a%20b.mp4" +
                                                  tail;
    }

    void composePrompt() {
        QFETCH(double, duration);
        QFETCH(QStringList, lines);
        QFETCH(QString, clip);
        QFETCH(QString, prompt);

        QCOMPARE(AgentHandoff::composePrompt(duration, lines, clip), prompt);
    }

    void frameLine_data() {
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("line");

        QTest::newRow("whole second keeps its decimal") << 12.0 << "- /f/frame-01.png  (at 12.0s)";
        QTest::newRow("rounded to one decimal") << 12.4666 << "- /f/frame-01.png  (at 12.5s)";
        QTest::newRow("exact half rounds as printf does") << 0.25 << "- /f/frame-01.png  (at 0.2s)";
        QTest::newRow("zero") << 0.0 << "- /f/frame-01.png  (at 0.0s)";
        QTest::newRow("long clip") << 7199.97 << "- /f/frame-01.png  (at 7200.0s)";
    }

    void frameLine() {
        QFETCH(double, seconds);
        QFETCH(QString, line);

        QCOMPARE(AgentHandoff::frameLine("/f/frame-01.png", seconds), line);
    }

    // QCoreApplication adopts the user's locale for printf; a decimal comma must not reach the prompt.
    void frameLineIgnoresTheLocale() {
        const QByteArray before = setlocale(LC_NUMERIC, nullptr);
        const auto restore = qScopeGuard([&] {
            setlocale(LC_NUMERIC, before.constData());
            qunsetenv("LOCPATH");
        });
        QTemporaryDir locales;
        if (!setlocale(LC_NUMERIC, "de_DE.UTF-8")) {
            // Compiled here when the system has none (Debian's locales package has the sources).
            QProcess::execute("localedef", {"-i", "de_DE", "-f", "UTF-8", locales.filePath("de_DE.UTF-8")});
            qputenv("LOCPATH", QFile::encodeName(locales.path()));
            if (!setlocale(LC_NUMERIC, "de_DE.UTF-8")) QSKIP("no German locale can be had");
        }
        char printed[16];
        std::snprintf(printed, sizeof printed, "%.1f", 2.5);
        QCOMPARE(printed, "2,5"); // what printf would put in the prompt now
        QCOMPARE(AgentHandoff::frameLine("/f/x.png", 2.5), "- /f/x.png  (at 2.5s)");
    }

    void names() {
        QCOMPARE(AgentHandoff::framesFolder("/m/replay-2026-12-04_16-23-22.mp4"),
                 "/m/replay-2026-12-04_16-23-22-frames");
        QCOMPARE(AgentHandoff::framesFolder("/m/a.b.mov"), "/m/a.b-frames");
        QCOMPARE(AgentHandoff::framesFolder("/m/clip"), "/m/clip-frames");
        QCOMPARE(AgentHandoff::frameFileName(1), "frame-01.png");
        QCOMPARE(AgentHandoff::frameFileName(9), "frame-09.png");
        QCOMPARE(AgentHandoff::frameFileName(10), "frame-10.png");
        QCOMPARE(AgentHandoff::frameFileName(100), "frame-100.png");
    }

    // Lossless: the frame decodes to the very same pixels. A null image yields nothing.
    void encodePng() {
        QImage frame(1600, 1000, QImage::Format_RGB32);
        for (int y = 0; y < frame.height(); ++y)
            for (int x = 0; x < frame.width(); ++x)
                frame.setPixel(x, y, qRgb(x * 7, y * 13, (x ^ y) & 0xff));
        const QByteArray png = AgentHandoff::encodePng(frame);
        QVERIFY(png.startsWith("\x89PNG\r\n\x1a\n"));
        QCOMPARE(QImage::fromData(png, "png").convertToFormat(QImage::Format_RGB32), frame);
        QVERIFY(AgentHandoff::encodePng(QImage()).isEmpty());
    }

    void requestedTimes_data() {
        QTest::addColumn<double>("duration");
        QTest::addColumn<int>("count");
        QTest::addColumn<QList<qint64>>("ticks"); // of 1/600 s

        QTest::newRow("30 s, six frames")
            << 30.0 << 6 << QList<qint64>{1500, 4500, 7500, 10500, 13500, 16500};
        QTest::newRow("one frame: the middle") << 10.0 << 1 << QList<qint64>{3000};
        // 10/3 × 0.5 = 1.6666… s = 999.99… ticks: rounded to the nearest tick.
        QTest::newRow("rounded to 1/600 s") << 10.0 << 3 << QList<qint64>{1000, 3000, 5000};
        QTest::newRow("short clip, many frames")
            << 0.7 << 7 << QList<qint64>{30, 90, 150, 210, 270, 330, 390};
    }

    void requestedTimes() {
        QFETCH(double, duration);
        QFETCH(int, count);
        QFETCH(QList<qint64>, ticks);

        QList<qint64> got;
        for (int i = 0; i < count; ++i) {
            const MediaTime t = AgentHandoff::requestedTime(duration, i, count);
            QCOMPARE(t.timescale(), 600);
            got << t.value();
        }
        QCOMPARE(got, ticks);
    }
};

FERROVANE_TEST_MAIN(HandoffPromptTest)
#include "tst_handoffprompt.moc"
