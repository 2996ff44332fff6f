#include "notch/BufferRing.h"

#include "notch/NotchAnimation.h"
#include "notch/NotchStyle.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {
constexpr double minimumArc = 0.02;
constexpr double lineWidth = 2;
constexpr double dotDiameter = 5;
constexpr double dimDot = 0.3;
// The pulse runs all day and every frame is a window update, so it ticks 10 times a second: the 5-point
// dot then steps by at most 0.12 opacity, at the steepest point of the curve. A multiple of the pointer
// poll's 50 ms, so both coarse timers fire on the same wake-up.
constexpr int pulseFrameMs = 100;
// Near the ends of each sweep the eased opacity hardly moves; ticks that would move it by less than this
// draw nothing, which leaves 6 frames a second with steps of at most 0.13.
constexpr double minimumPulseStep = 0.08;
} // namespace

BufferRing::BufferRing(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("bufferRing"));
    // The ring always sits on the notch's black fill; painting that black itself spares the panel a
    // repaint of everything underneath on each pulse frame.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(sizeHint());
    m_glide.setDuration(NotchAnimation::progressGlideMs);
    m_glide.setEasingCurve(NotchAnimation::easeInOut());
    connect(&m_glide, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        m_shownProgress = value.toDouble();
        update();
    });
    m_pulseFrames.setInterval(pulseFrameMs);
    connect(&m_pulseFrames, &QTimer::timeout, this, &BufferRing::stepPulse);
}

QSize BufferRing::sizeHint() const {
    return QSize(int(diameter) + 2 * bleed, int(diameter) + 2 * bleed);
}

double BufferRing::arcFractionFor(double progress) {
    if (std::isnan(progress)) return minimumArc;
    return std::max(std::min(progress, 1.0), minimumArc);
}

void BufferRing::setProgress(double progress) {
    if (progress == m_progress) return;
    m_progress = progress;
    const double target = arcFractionFor(progress);
    if (!isVisible()) {
        m_glide.stop();
        m_shownProgress = target;
        return;
    }
    m_glide.stop();
    m_glide.setStartValue(m_shownProgress);
    m_glide.setEndValue(target);
    m_glide.start();
}

void BufferRing::setColor(const QColor& color) {
    if (color == m_color) return;
    m_color = color;
    update();
}

void BufferRing::setPulsing(bool pulsing) {
    if (pulsing == m_pulsing) return;
    m_pulsing = pulsing;
    if (m_pulsing && m_on)
        m_pulseFrames.start();
    else
        m_pulseFrames.stop();
    update();
}

void BufferRing::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!m_on) {
        m_on = true;
        m_shownProgress = arcFractionFor(m_progress);
        m_pulseClock.start();
        if (m_pulsing) m_pulseFrames.start();
    }
}

double BufferRing::pulsePhase() const {
    if (!m_on) return 0;
    const qint64 period = 2 * NotchAnimation::pulseMs;
    const double t = double(m_pulseClock.elapsed() % period) / NotchAnimation::pulseMs; // 0 … 2
    static const QEasingCurve curve = NotchAnimation::easeInOut();
    return curve.valueForProgress(t <= 1 ? t : 2 - t);
}

void BufferRing::stepPulse() {
    // Painting straight away rather than posting an update spares the event loop a wake-up of its own.
    if (std::abs(dotOpacity() - m_paintedOpacity) < minimumPulseStep) return;
    repaint();
}

double BufferRing::arcFraction() const {
    return m_glide.state() == QAbstractAnimation::Running ? m_shownProgress : arcFractionFor(m_progress);
}

double BufferRing::dotOpacity() const {
    if (!m_pulsing) return 1.0;
    // `on` became true inside the repeating animation, so the dot travels from its off value to 1 and back.
    return dimDot + (1.0 - dimDot) * pulsePhase();
}

void BufferRing::paintEvent(QPaintEvent*) {
    // The dot changes on every pulse frame, the ring rarely: the ring and a fully opaque dot are drawn once
    // into images, and a frame only copies them.
    const double fraction = arcFraction();
    if (m_cachedRing.isNull() || m_cachedFraction != fraction || m_cachedColor != m_color) {
        m_cachedRing = drawRing(fraction, m_color);
        m_cachedDot = drawDot(m_color);
        m_cachedFraction = fraction;
        m_cachedColor = m_color;
    }
    QPainter painter(this);
    painter.drawImage(0, 0, m_cachedRing);
    m_paintedOpacity = dotOpacity();
    painter.setOpacity(m_paintedOpacity);
    painter.drawImage(0, 0, m_cachedDot);
}

QImage BufferRing::drawRing(double fraction, const QColor& color) const {
    QImage image(size() * devicePixelRatioF(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatioF());
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF square(bleed, bleed, diameter, diameter);
    QPen pen(NotchStyle::white(0.15), lineWidth);
    pen.setCapStyle(Qt::FlatCap);
    painter.setPen(pen);
    painter.drawEllipse(square);
    pen.setColor(color);
    pen.setCapStyle(Qt::RoundCap);
    painter.setPen(pen);
    // From 12 o'clock, clockwise; Qt's angles run counter-clockwise from 3 o'clock.
    painter.drawArc(square, 90 * 16, -int(std::lround(fraction * 360 * 16)));
    return image;
}

QImage BufferRing::drawDot(const QColor& color) const {
    QImage image(size() * devicePixelRatioF(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatioF());
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(bleed, bleed, diameter, diameter).center(), dotDiameter / 2, dotDiameter / 2);
    return image;
}
