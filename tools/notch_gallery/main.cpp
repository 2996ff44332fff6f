// notch_gallery FOLDER: renders the notch view in every phase, collapsed and expanded, with sample data,
// into PNG files in FOLDER. Runs without a display (QT_QPA_PLATFORM=offscreen).

#include "notch/NotchView.h"
#include "notch/ReplayModel.h"
#include "settings/DefaultsOnlyStore.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QDir>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include <cstdio>
#include <functional>

namespace {

// A made-up screen grab: a window with a title bar and some text lines on a coloured desktop.
QImage sampleThumbnail() {
    QImage image(320, 200, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient desktop(0, 0, 320, 200);
    desktop.setColorAt(0, QColor(40, 90, 160));
    desktop.setColorAt(1, QColor(150, 70, 140));
    p.fillRect(image.rect(), desktop);
    p.setBrush(QColor(245, 245, 245));
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(QRectF(40, 30, 240, 150), 8, 8);
    p.setBrush(QColor(220, 220, 225));
    p.drawRect(QRectF(40, 38, 240, 18));
    p.setBrush(QColor(255, 95, 87));
    p.drawEllipse(QPointF(52, 47), 4, 4);
    p.setBrush(QColor(120, 120, 130));
    for (int i = 0; i < 6; ++i)
        p.drawRect(QRectF(56, 70 + i * 16, 120 + (i * 37) % 90, 6));
    return image;
}

struct State {
    const char* name;
    std::function<void(ReplayModel&)> apply;
};

// The panel over a plain desktop, at twice the size, so edges and text can be inspected.
QImage render(NotchView& view) {
    constexpr double zoom = 2;
    QImage image(view.size() * zoom, QImage::Format_ARGB32_Premultiplied);
    image.fill(QColor(96, 110, 128));
    QPainter painter(&image);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing |
                           QPainter::SmoothPixmapTransform);
    painter.scale(zoom, zoom);
    view.render(&painter, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: notch_gallery FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(folder.path())) {
        std::fprintf(stderr, "notch_gallery: cannot create %s\n", argv[1]);
        return 1;
    }

    DefaultsOnlyStore store;
    Settings::useStore(&store);
    Settings::registerDefaults();

    const QUrl clip = QUrl::fromLocalFile(Settings::folder() + QStringLiteral("replay-sample.mp4"));
    const QRectF screen(0, 0, 1512, 982);
    const NotchGeometry plain(screen, 120, 24, false);
    const NotchGeometry notched(screen, 180, 32, true);
    auto geometry = [](const NotchGeometry& g) { return [g](ReplayModel& m) { m.setGeometry(g); }; };
    auto phase = [](const Phase& p) { return [p](ReplayModel& m) { m.setPhase(p); }; };

    const std::vector<State> states = {
        {"01-starting", phase(Phase::starting())},
        {"02-live-filling",
         [](ReplayModel& m) {
             m.setPhase(Phase::live());
             m.setBuffered(0.4);
         }},
        {"03-live", phase(Phase::live())},
        {"04-live-one-option",
         [](ReplayModel& m) {
             m.setPhase(Phase::live());
             m.setSaveOptions({30});
         }},
        {"05-working", phase(Phase::working(QStringLiteral("Saving replay…")))},
        {"06-saved", phase(Phase::saved(clip))},
        {"07-copied", phase(Phase::copied(clip))},
        {"08-handed-off", phase(Phase::handedOff(clip))},
        {"09-notice", phase(Phase::notice(QStringLiteral("Couldn't extract frames")))},
        {"10-failed",
         phase(Phase::failed(QStringLiteral("Allow Ferrovane to record the screen, then try again.")))},
        {"11-paused", phase(Phase::paused())},
        {"12-live-notched",
         [&](ReplayModel& m) {
             geometry(notched)(m);
             m.setPhase(Phase::live());
         }},
        {"13-saved-without-thumbnail",
         [&](ReplayModel& m) {
             m.setPhase(Phase::saved(clip));
             m.setLastThumbnail(QImage());
         }},
        {"14-out-of-range",
         [](ReplayModel& m) {
             m.setPhase(Phase::live());
             m.setBuffered(-4);
             m.setBufferLimit(0);
         }},
        {"15-notice-long",
         phase(Phase::notice(QStringLiteral("Could not save the replay: could not create the "
                                            "folder ~/Videos/Ferrovane (Not a directory)")))},
        {"16-live-not-writing",
         [](ReplayModel& m) {
             m.setPhase(Phase::live());
             m.setWriteError(QStringLiteral("The buffer cannot be written: No space left on device"));
         }},
        {"17-live-no-hot-key",
         [](ReplayModel& m) {
             m.setPhase(Phase::live());
             m.setHotKeyBound(false);
         }},
    };

    int written = 0;
    for (const State& state : states) {
        for (bool expanded : {false, true}) {
            ReplayModel model;
            model.setGeometry(plain);
            model.setBuffered(29.6);
            model.setBufferLimit(30);
            model.setSaveOptions({10, 30});
            model.setSaveLength(30);
            model.setLastClip(clip);
            model.setLastThumbnail(sampleThumbnail());
            model.setLastDuration(75.4);
            state.apply(model);
            model.setExpanded(expanded);
            NotchView view(model, NotchActions{});
            view.resize(view.sizeHint());
            view.show();
            view.finishAnimations();
            const QString file = folder.filePath(QString::fromLatin1(state.name) +
                                                 (expanded ? "-expanded.png" : "-collapsed.png"));
            if (!render(view).save(file, "PNG")) {
                std::fprintf(stderr, "notch_gallery: cannot write %s\n", qPrintable(file));
                return 1;
            }
            ++written;
        }
    }
    std::printf("%d pictures in %s\n", written, qPrintable(folder.absolutePath()));
    Settings::useStore(nullptr);
    return 0;
}
