#include "notch/ClipThumb.h"

#include "notch/ContinuousCorners.h"
#include "notch/NotchStyle.h"
#include "notch/ReplayModel.h"

#include <QFontMetricsF>
#include <QPainter>

namespace {
constexpr double cornerRadius = 8;
constexpr double badgeFontSize = 9;
constexpr double badgePaddingX = 4;
constexpr double badgePaddingY = 2;
constexpr double badgeInset = 3;
} // namespace

ClipThumb::ClipThumb(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("clipThumb"));
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(width, height);
}

QString ClipThumb::durationText() const {
    return formatDuration(m_duration);
}

void ClipThumb::set(const QImage& image, double durationSeconds) {
    if (image.cacheKey() == m_image.cacheKey() && durationSeconds == m_duration) return;
    m_image = image;
    m_duration = durationSeconds;
    update();
}

void ClipThumb::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    const QRectF frame(0, 0, width, height);
    const QPainterPath outline = ContinuousCorners::roundedRect(frame, cornerRadius);

    painter.save();
    painter.setClipPath(outline);
    if (!m_image.isNull()) {
        // Fill the frame keeping the aspect ratio; the overflow is cut off, centred.
        const QSizeF scaled = QSizeF(m_image.size()).scaled(frame.size(), Qt::KeepAspectRatioByExpanding);
        const QRectF target(frame.center().x() - scaled.width() / 2, frame.center().y() - scaled.height() / 2,
                            scaled.width(), scaled.height());
        painter.drawImage(target, m_image);
    } else {
        painter.fillRect(frame, NotchStyle::white(0.08));
    }
    painter.restore();

    const QFont font = NotchStyle::font(badgeFontSize, QFont::Bold, NotchStyle::Design::Rounded);
    const QFontMetricsF metrics(font);
    const QString text = durationText();
    const QSizeF badge(metrics.horizontalAdvance(text) + 2 * badgePaddingX,
                       metrics.height() + 2 * badgePaddingY);
    const QRectF badgeRect(frame.right() - badgeInset - badge.width(),
                           frame.bottom() - badgeInset - badge.height(), badge.width(), badge.height());
    painter.fillPath(ContinuousCorners::capsule(badgeRect), NotchStyle::black(0.7));
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(badgeRect, Qt::AlignCenter, text);

    painter.setPen(QPen(NotchStyle::white(0.15), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(outline);
}
