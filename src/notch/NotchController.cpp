#include "notch/NotchController.h"

#include "notch/NotchAnimation.h"
#include "notch/NotchGeometry.h"
#include "notch/NotchPanel.h"
#include "notch/NotchView.h"
#include "notch/ReplayModel.h"
#include "platform/Clock.h"
#include "platform/Screens.h"

#include <QThread>

#include <algorithm>
#include <cmath>

NotchController::NotchController(ReplayModel& model, const NotchActions& actions, Screens& screens,
                                 const Clock& clock, QObject* parent)
    : QObject(parent)
    , m_panel(std::make_unique<NotchPanel>(new NotchView(model, actions)))
    , m_model(model)
    , m_screens(screens)
    , m_clock(clock)
    , m_timer(this) {
    reposition();
    m_panel->orderFrontRegardless();
    // Owned by this object, so a destroyed controller polls no more.
    m_timer.setObjectName(QStringLiteral("pointerPoll"));
    m_timer.setInterval(pollIntervalMs);
    connect(&m_timer, &QTimer::timeout, this, &NotchController::trackMouse);
    m_timer.start();
}

NotchController::~NotchController() = default;

void NotchController::assertMainThread() const {
    Q_ASSERT(QThread::currentThread() == thread());
}

QRectF NotchController::openRect(const NotchGeometry& g) {
    return QRectF(yup::midX(g.screenFrame) - g.pillWidth() / 2 - 6,
                  yup::maxY(g.screenFrame) - g.notchHeight - 4, g.pillWidth() + 12, g.notchHeight + 4);
}

QRectF NotchController::keepOpenRect(const NotchGeometry& g) {
    return QRectF(yup::midX(g.screenFrame) - g.cardWidth() / 2 - 10,
                  yup::maxY(g.screenFrame) - g.notchHeight - g.cardHeight() - 10, g.cardWidth() + 20,
                  g.notchHeight + g.cardHeight() + 10);
}

QRectF NotchController::panelFrame(const NotchGeometry& g) {
    return QRectF(yup::midX(g.screenFrame) - g.panelWidth() / 2, yup::maxY(g.screenFrame) - g.panelHeight(),
                  g.panelWidth(), g.panelHeight());
}

void NotchController::reposition() {
    assertMainThread();
    const NotchGeometry g = NotchGeometry::current(m_screens);
    m_model.setGeometry(g);
    // A compositing manager may have started or stopped since the last measurement.
    m_panel->setCompositing(m_screens.compositing());
    m_panel->setFrame(m_screens.toWindowSystem(panelFrame(g)));
    m_panel->raise();
}

void NotchController::setExpanded(bool on) {
    // The view animates the change with the spring.
    m_model.setExpanded(on);
    m_panel->setIgnoresMouseEvents(!on);
    // An unmanaged window stays where it is in the stack; a full-screen window raised since could cover it.
    if (on) m_panel->raise();
}

void NotchController::peek(double seconds) {
    assertMainThread();
    // A pin far beyond any session is as good as forever and keeps the arithmetic finite.
    const double bounded = std::isnan(seconds) ? 0.0 : std::clamp(seconds, -1e9, 1e9);
    m_pinnedUntil = m_clock.now() + MediaTime::fromNanoseconds(int64_t(std::llround(bounded * 1e9)));
    if (m_model.expanded()) return;
    setExpanded(true);
}

void NotchController::flash() {
    assertMainThread();
    m_model.setFlash(true);
    // Bound to this object: nothing happens once the controller is gone.
    QTimer::singleShot(NotchAnimation::flashHoldMs, this, [this] {
        assertMainThread();
        m_model.setFlash(false);
    });
}

void NotchController::trackMouse() {
    assertMainThread();
    const QPointF p = m_screens.pointerLocation();
    const NotchGeometry& g = m_model.geometry();
    if (m_model.expanded()) {
        if (m_pinnedUntil && m_clock.now() < *m_pinnedUntil) return;
        if (yup::contains(keepOpenRect(g), p)) return;
        if (m_model.expanded()) setExpanded(false);
    } else {
        if (!yup::contains(openRect(g), p)) return;
        if (!m_model.expanded()) setExpanded(true);
    }
}
