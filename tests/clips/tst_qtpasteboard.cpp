#include "XClip.h"
#include "platform/Pasteboard.h"
#include "platform/PlatformFactory.h"
#include "support/TestEnvironment.h"
#include "support/Xvfb.h"

#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QMimeData>
#include <QProcess>
#include <QTest>
#include <QUrl>

#include <cstdio>

// The clipboard as other programs on the X display see it.
class QtPasteboardTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Pasteboard> m_pasteboard = createPasteboard();

private slots:
    void textIsTheOnlyContent() {
        m_pasteboard->setFile("/tmp/before.mp4");
        const QString text = "I captured a replay — ü\nsecond line\n\nlast";
        m_pasteboard->setText(text);

        QCOMPARE(m_pasteboard->text(), text);
        QCOMPARE(QGuiApplication::clipboard()->mimeData()->formats(), QStringList{"text/plain"});
        QCOMPARE(QString::fromUtf8(XClip::read({})), text);
        QCOMPARE(QString::fromUtf8(XClip::content("text/plain")), text);
        const QStringList targets = XClip::targets();
        QVERIFY2(targets.contains("UTF8_STRING") && !targets.contains("text/uri-list") &&
                     !targets.contains("x-special/gnome-copied-files"),
                 qPrintable(targets.join(' ')));
    }

    // One file reference, in the forms file managers paste from; names are percent-encoded in URIs.
    void fileReference() {
        const QString path = "/home/user/Movies/Ferrovane/My Clips/replay é 2026.mp4";
        const QByteArray uri = "file:///home/user/Movies/Ferrovane/My%20Clips/replay%20%C3%A9%202026.mp4";
        m_pasteboard->setFile(path);

        const QStringList targets = XClip::targets();
        QVERIFY2(targets.contains("text/uri-list") && targets.contains("x-special/gnome-copied-files"),
                 qPrintable(targets.join(' ')));
        QCOMPARE(XClip::content("text/uri-list").trimmed(), uri);
        QCOMPARE(XClip::content("x-special/gnome-copied-files"), "copy\n" + uri);
        QCOMPARE(QGuiApplication::clipboard()->mimeData()->urls(), QList<QUrl>{QUrl::fromLocalFile(path)});

        // The next text replaces it whole.
        m_pasteboard->setText("plain");
        QVERIFY(!XClip::targets().contains("text/uri-list"));
        QVERIFY(!XClip::targets().contains("x-special/gnome-copied-files"));
    }

    void relativeFileIsMadeAbsolute() {
        m_pasteboard->setFile("clip.mp4");
        QCOMPARE(QString::fromUtf8(XClip::content("x-special/gnome-copied-files")),
                 "copy\n" + QUrl::fromLocalFile(QDir::current().absoluteFilePath("clip.mp4"))
                                .toString(QUrl::FullyEncoded));
    }

    // What another program put on the clipboard reads back too.
    void readsAnotherProgramsText() {
        // -quiet keeps xclip in the foreground, serving the clipboard until it is killed.
        QProcess xclip;
        xclip.start("xclip", {"-selection", "clipboard", "-quiet", "-i"});
        QVERIFY(xclip.waitForStarted(5000));
        xclip.write("from another program");
        xclip.closeWriteChannel();
        QTRY_COMPARE_WITH_TIMEOUT(m_pasteboard->text(), QString("from another program"), 10000);
        xclip.kill();
        xclip.waitForFinished(3000);
    }
};

int main(int argc, char** argv) {
    TestEnvironment environment;
    Xvfb xvfb;
    if (!xvfb.start(QSize(640, 480))) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    QtPasteboardTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_qtpasteboard.moc"
