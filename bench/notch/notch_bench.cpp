// notch_bench idle SECONDS [PHASE]  the panel collapsed, pointer away: CPU and wake-ups of this process
// notch_bench animate SECONDS        the card opened and closed every 1.2 s: frames drawn per second of
// animation notch_bench show PHASE             the panel held open until killed, for screenshots PHASE is
// live (default), paused, saved, failed or working. Runs on $DISPLAY (a private Xvfb, for example); without a
// compositing manager the panel is shaped, as on a plain X server.

#include "notch/NotchAnimation.h"
#include "notch/NotchController.h"
#include "notch/NotchPanel.h"
#include "notch/NotchView.h"
#include "notch/ReplayModel.h"
#include "platform/PlatformFactory.h"
#include "platform/linux/capture/MonotonicClock.h"
#include "settings/DefaultsOnlyStore.h"
#include "settings/Settings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

namespace {

struct Usage {
    double cpuSeconds;
    long wakeUps; // voluntary context switches of every thread
    static Usage now() {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return {usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
                    usage.ru_stime.tv_usec / 1e6,
                usage.ru_nvcsw};
    }
};

// Counts the view's paints while an animation runs.
class FrameCounter final : public QObject {
public:
    explicit FrameCounter(NotchView& view)
        : m_view(view) {
        view.installEventFilter(this);
    }
    int frames = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint && m_view.isAnimating()) ++frames;
        return false;
    }

private:
    NotchView& m_view;
};

Phase phaseNamed(const QString& name) {
    const QUrl clip = QUrl::fromLocalFile(QStringLiteral("/tmp/replay-sample.mp4"));
    if (name == QLatin1String("saved")) return Phase::saved(clip);
    if (name == QLatin1String("paused")) return Phase::paused();
    if (name == QLatin1String("failed"))
        return Phase::failed(QStringLiteral("Allow Ferrovane to record the screen, then try again."));
    if (name == QLatin1String("working")) return Phase::working(QStringLiteral("Saving replay…"));
    return Phase::live();
}

} // namespace

int main(int argc, char** argv) {
    prepareWindowSystem();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const QString mode = args.value(1);
    if (args.size() < 3 || (mode != QLatin1String("idle") && mode != QLatin1String("animate") &&
                            mode != QLatin1String("show"))) {
        std::fprintf(stderr, "usage: notch_bench idle SECONDS [PHASE] | animate SECONDS | show PHASE\n");
        return 2;
    }
    DefaultsOnlyStore store;
    Settings::useStore(&store);
    Settings::registerDefaults();
    ReplayModel model;
    model.setBuffered(29.6);
    model.setLastDuration(75.4);
    model.setPhase(phaseNamed(mode == QLatin1String("show") ? args[2] : args.value(3)));
    model.setRecording(true);
    std::unique_ptr<Screens> screens = createScreens();
    MonotonicClock clock;
    NotchController controller(model, NotchActions{}, *screens, clock);
    QObject::connect(screens.get(), &Screens::changed, &controller, &NotchController::reposition);
    if (mode == QLatin1String("show")) {
        controller.peek(1e9);
        return app.exec();
    }

    const int seconds = args[2].toInt();
    FrameCounter counter(controller.panel().view());
    QElapsedTimer wall;
    QTimer cycle;
    int animations = 0;
    if (mode == QLatin1String("animate")) {
        QObject::connect(&cycle, &QTimer::timeout, [&] {
            controller.peek(0.6); // opens now; the first poll after 0.6 s closes it (pointer away)
            if (wall.isValid()) animations += 2;
        });
        cycle.start(1200);
    }
    // Let the window appear and settle before measuring.
    QTimer::singleShot(1000, [&] {
        wall.start();
        counter.frames = 0;
        const Usage start = Usage::now();
        QTimer::singleShot(seconds * 1000, [&, start] {
            const double elapsed = wall.elapsed() / 1000.0;
            const Usage end = Usage::now();
            std::printf("%s: %.1f s, CPU %.3f s = %.2f %% of one core, %.1f wake-ups/s", qPrintable(mode),
                        elapsed, end.cpuSeconds - start.cpuSeconds,
                        100 * (end.cpuSeconds - start.cpuSeconds) / elapsed,
                        (end.wakeUps - start.wakeUps) / elapsed);
            if (animations > 0)
                std::printf(", %d frames in %d animations of %d ms = %.1f fps", counter.frames, animations,
                            NotchAnimation::springDurationMs,
                            counter.frames / (animations * NotchAnimation::springDurationMs / 1000.0));
            std::printf("\n");
            app.quit();
        });
    });
    return app.exec();
}
