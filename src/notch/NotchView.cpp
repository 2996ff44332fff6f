#include "notch/NotchView.h"

#include "notch/BufferRing.h"
#include "notch/CardTransition.h"
#include "notch/NotchAnimation.h"
#include "notch/NotchCard.h"
#include "notch/NotchShape.h"
#include "notch/NotchStyle.h"
#include "notch/NotchText.h"
#include "notch/ReplayModel.h"
#include "notch/SymbolView.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace {

constexpr double collapsedRadius = 10;
constexpr double expandedRadius = 24;
constexpr double sideCell = 32; // beside the notch: the status icon left, the ring right
constexpr double shadowOpacity = 0.35;
constexpr double shadowBlur = 18;
constexpr double shadowOffsetY = 8;
constexpr double hairlineOpacity = 0.09;
constexpr double flashWhite = 0.9;

double mix(double from, double to, double t) {
    return from + (to - from) * t;
}

QColor statusColor(const Phase& phase) {
    switch (phase.kind()) {
    case Phase::Kind::Working:
    case Phase::Kind::Starting:
        return NotchStyle::yellow();
    case Phase::Kind::Saved:
    case Phase::Kind::Copied:
    case Phase::Kind::HandedOff:
        return NotchStyle::green();
    case Phase::Kind::Notice:
        return NotchStyle::orange();
    case Phase::Kind::Failed:
    case Phase::Kind::Paused:
        return NotchStyle::gray();
    case Phase::Kind::Live:
        return QColor::fromRgbF(1.0f, 0.27f, 0.23f);
    }
    return NotchStyle::gray();
}

} // namespace

// The white flash over the whole shape; clicks go through it.
class NotchView::FlashLayer final : public QWidget {
public:
    explicit FlashLayer(NotchView* view)
        : QWidget(view)
        , m_view(view) {
        setObjectName(QStringLiteral("flash"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_TranslucentBackground);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.fillPath(m_view->shapePath(), NotchStyle::white(flashWhite * m_view->flashOpacity()));
    }

private:
    NotchView* m_view;
};

NotchView::NotchView(ReplayModel& model, const NotchActions& actions, QWidget* parent)
    : QWidget(parent)
    , m_model(model)
    , m_shadow(shadowBlur) {
    setObjectName(QStringLiteral("notchView"));
    setAttribute(Qt::WA_TranslucentBackground);
    m_statusSymbol = new SymbolView(11, NotchStyle::white(0.85), this);
    m_statusSymbol->setObjectName(QStringLiteral("statusSymbol"));
    m_replayLabel = new NotchText(NotchStyle::font(10, QFont::Bold, NotchStyle::Design::Rounded),
                                  NotchStyle::white(0.7), 1, this);
    m_replayLabel->setObjectName(QStringLiteral("replayLabel"));
    m_replayLabel->setText(tr("REPLAY"));
    m_ring = new BufferRing(this);
    m_card = new NotchCard(model, actions, this);
    m_transition = new CardTransition(m_card);
    m_transition->setEnabled(false);
    m_card->setGraphicsEffect(m_transition);
    m_flash = new FlashLayer(this);
    m_flash->hide();

    m_openAnimation.setDuration(NotchAnimation::springDurationMs);
    m_openAnimation.setEasingCurve(NotchAnimation::spring());
    connect(&m_openAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { applyOpenness(value.toDouble()); });
    connect(&m_openAnimation, &QVariantAnimation::finished, this, [this] {
        m_transition->setEnabled(false);
        m_card->setVisible(m_model.expanded());
    });
    connect(&m_flashAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant& value) { applyFlash(value.toDouble()); });

    connect(&model, &ReplayModel::expandedChanged, this, &NotchView::animateOpen);
    connect(&model, &ReplayModel::flashChanged, this, &NotchView::animateFlash);
    connect(&model, &ReplayModel::phaseChanged, this, &NotchView::refresh);
    connect(&model, &ReplayModel::geometryChanged, this, &NotchView::refresh);
    connect(&model, &ReplayModel::bufferedChanged, this, &NotchView::refresh);
    connect(&model, &ReplayModel::bufferLimitChanged, this, &NotchView::refresh);
    connect(&model, &ReplayModel::saveLengthChanged, this, &NotchView::refresh);
    connect(&model, &ReplayModel::saveOptionsChanged, this, &NotchView::refresh);
    connect(&model, &ReplayModel::lastThumbnailChanged, this, &NotchView::refresh);
    connect(&model, &ReplayModel::lastDurationChanged, this, &NotchView::refresh);
    connect(&model, &ReplayModel::writeErrorChanged, this, &NotchView::refresh);
    connect(&model, &ReplayModel::hotKeyBoundChanged, this, &NotchView::refresh);

    m_openness = model.expanded() ? 1 : 0;
    m_card->setVisible(model.expanded());
    m_flashOpacity = model.flash() ? 1 : 0;
    m_flash->setVisible(model.flash());
    refresh();
}

NotchView::~NotchView() = default;

void NotchView::setShadowEnabled(bool enabled) {
    m_shadowEnabled = enabled;
    update();
}

QSize NotchView::sizeHint() const {
    const NotchGeometry& g = m_model.geometry();
    return QSize(int(std::ceil(g.panelWidth())), int(std::ceil(g.panelHeight())));
}

bool NotchView::isAnimating() const {
    return m_openAnimation.state() == QAbstractAnimation::Running ||
           m_flashAnimation.state() == QAbstractAnimation::Running;
}

void NotchView::finishAnimations() {
    // Jumping to the end time emits the final value and `finished`.
    for (QVariantAnimation* animation : {&m_openAnimation, &m_flashAnimation})
        if (animation->state() == QAbstractAnimation::Running)
            animation->setCurrentTime(animation->duration());
}

void NotchView::seekAnimations(int ms) {
    for (QVariantAnimation* animation : {&m_openAnimation, &m_flashAnimation})
        if (animation->state() == QAbstractAnimation::Running)
            animation->setCurrentTime(std::min(ms, animation->duration()));
}

QRectF NotchView::frameRect() const {
    const NotchGeometry& g = m_model.geometry();
    const double width = mix(g.pillWidth(), g.cardWidth(), m_openness);
    const double height = g.notchHeight + mix(0, g.cardHeight(), m_openness);
    return QRectF((this->width() - width) / 2, 0, width, height);
}

double NotchView::radius() const {
    return mix(collapsedRadius, expandedRadius, m_openness);
}

QPainterPath NotchView::shapePath() const {
    return NotchShape{radius()}.path(frameRect());
}

void NotchView::refresh() {
    const Phase& phase = m_model.phase();
    const NotchGeometry& g = m_model.geometry();
    m_statusSymbol->setSymbol(phase == Phase::paused() ? QStringLiteral("pause.fill")
                                                       : QStringLiteral("arrow.counterclockwise"));
    m_replayLabel->setVisible(!g.hasNotch);
    const double limit = m_model.bufferLimit();
    m_ring->setProgress(limit > 0 ? m_model.buffered() / limit : 0.0);
    m_ring->setColor(statusColor(phase));
    m_ring->setPulsing(phase == Phase::live());
    m_card->refresh();
    layoutFrame();
    update();
}

void NotchView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    layoutFrame();
}

void NotchView::layoutFrame() {
    const NotchGeometry& g = m_model.geometry();
    const QRectF frame = frameRect();
    const int rowHeight = int(std::lround(g.notchHeight));
    m_statusSymbol->setGeometry(int(std::lround(frame.left())), 0, int(sideCell), rowHeight);
    const QSize ring = m_ring->size();
    m_ring->move(int(std::lround(frame.right() - sideCell / 2 - ring.width() / 2.0)),
                 (rowHeight - ring.height()) / 2);
    const int labelWidth = int(m_replayLabel->idealWidth());
    const int labelHeight = int(m_replayLabel->heightForWidth(labelWidth));
    m_replayLabel->setGeometry(int(std::lround(frame.center().x() - labelWidth / 2.0)),
                               (rowHeight - labelHeight) / 2, labelWidth, labelHeight);

    // The card is laid out at its final size and revealed by the growing shape.
    const double cardWidth = g.cardWidth() - 2 * NotchCard::insetX;
    const QRect card(int(std::lround((width() - cardWidth) / 2)), rowHeight + NotchCard::insetTop,
                     int(std::lround(cardWidth)), int(std::lround(g.cardHeight())) - NotchCard::insetTop);
    m_card->setGeometry(card);
    // The transition scales about the top centre of the card's padded area.
    m_transition->setAnchor(QPointF(card.width() / 2.0, -NotchCard::insetTop));
    m_transition->setClip(shapePath().translated(-card.topLeft()));
    m_flash->setGeometry(rect());
}

void NotchView::animateOpen(bool open) {
    m_openAnimation.stop();
    m_card->show();
    m_transition->setEnabled(true);
    m_openAnimation.setStartValue(m_openness);
    m_openAnimation.setEndValue(open ? 1.0 : 0.0);
    m_openAnimation.start();
}

void NotchView::applyOpenness(double openness) {
    m_openness = openness;
    m_transition->setProgress(openness);
    layoutFrame();
    update();
    emit shapeChanged();
}

void NotchView::animateFlash(bool on) {
    m_flashAnimation.stop();
    m_flashAnimation.setStartValue(m_flashOpacity);
    m_flashAnimation.setEndValue(on ? 1.0 : 0.0);
    m_flashAnimation.setDuration(on ? NotchAnimation::flashInMs : NotchAnimation::flashOutMs);
    m_flashAnimation.setEasingCurve(on ? NotchAnimation::easeOut() : NotchAnimation::easeIn());
    m_flash->show();
    m_flash->raise();
    m_flashAnimation.start();
}

void NotchView::applyFlash(double opacity) {
    m_flashOpacity = opacity;
    m_flash->setVisible(opacity > 0);
    m_flash->update();
}

void NotchView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath shape = shapePath();
    const double shown = std::clamp(m_openness, 0.0, 1.0);
    if (m_shadowEnabled)
        m_shadow.draw(painter, shape, QPointF(0, shadowOffsetY), Qt::black, shadowOpacity * shown, rect());
    painter.fillPath(shape, Qt::black);
    if (shown > 0) {
        // Only the inner half of the hairline shows: the whole stack is clipped to the shape.
        painter.setClipPath(shape);
        painter.strokePath(shape, QPen(NotchStyle::white(hairlineOpacity * shown), 1));
    }
}
