#include "platform/linux/desktop/QtScreens.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>

#include <algorithm>
#include <cmath>

QtScreens::QtScreens(Probes probes, QObject* parent)
    : Screens(parent)
    , m_probes(std::move(probes)) {
    m_coalesce.setSingleShot(true);
    m_coalesce.setInterval(0);
    connect(&m_coalesce, &QTimer::timeout, this, &Screens::changed);
    auto schedule = [this] { m_coalesce.start(); };
    connect(qGuiApp, &QGuiApplication::screenAdded, this, [this, schedule](QScreen* screen) {
        watch(screen);
        schedule();
    });
    connect(qGuiApp, &QGuiApplication::screenRemoved, this, schedule);
    connect(qGuiApp, &QGuiApplication::primaryScreenChanged, this, schedule);
    for (QScreen* screen : QGuiApplication::screens())
        watch(screen);
}

void QtScreens::watch(QScreen* screen) {
    connect(screen, &QScreen::geometryChanged, &m_coalesce, qOverload<>(&QTimer::start));
    connect(screen, &QScreen::availableGeometryChanged, &m_coalesce, qOverload<>(&QTimer::start));
}

double QtScreens::baseline() const {
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) return 0;
    const QRect g = primary->geometry();
    return g.y() + g.height();
}

QRectF QtScreens::toYUp(const QRect& rect) const {
    return QRectF(rect.x(), baseline() - (rect.y() + rect.height()), rect.width(), rect.height());
}

ScreenInfo QtScreens::describe(const QScreen* screen) const {
    ScreenInfo info;
    info.frame = toYUp(screen->geometry());
    info.visibleFrame = toYUp(screen->availableGeometry());
    return info;
}

std::vector<ScreenInfo> QtScreens::screens() const {
    Q_ASSERT(QThread::currentThread() == thread());
    std::vector<ScreenInfo> list;
    for (const QScreen* screen : QGuiApplication::screens())
        list.push_back(describe(screen));
    return list;
}

std::optional<ScreenInfo> QtScreens::mainScreen() const {
    Q_ASSERT(QThread::currentThread() == thread());
    // The primary screen is where the top panel and the user's work are.
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary || QGuiApplication::screens().isEmpty()) return std::nullopt;
    return describe(primary);
}

QPointF QtScreens::pointerLocation() const {
    Q_ASSERT(QThread::currentThread() == thread());
    // The centre of the pointer's pixel: the top row of a screen is then inside a rectangle that reaches
    // up to the screen's top edge, whose maximum edge counts as outside.
    // Far beyond every screen: no panel rectangle contains it.
    if (m_probes.pointerElsewhere && m_probes.pointerElsewhere()) return QPointF(-1e6, -1e6);
    std::optional<QPoint> native = m_probes.pointer && unscaled() ? m_probes.pointer() : std::nullopt;
    const QPoint p = native ? *native : QCursor::pos();
    return QPointF(p.x() + 0.5, baseline() - p.y() - 0.5);
}

QRect QtScreens::toWindowSystem(const QRectF& rect) const {
    const double y = baseline() - (rect.y() + rect.height());
    return QRect(int(std::lround(rect.x())), int(std::lround(y)), int(std::lround(rect.width())),
                 int(std::lround(rect.height())));
}

bool QtScreens::compositing() const {
    return m_probes.compositing && m_probes.compositing();
}

bool QtScreens::unscaled() const {
    const QList<QScreen*> screens = QGuiApplication::screens();
    return std::all_of(screens.begin(), screens.end(),
                       [](const QScreen* s) { return s->devicePixelRatio() == 1.0; });
}
