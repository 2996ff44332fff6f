#include "notch/KeyCap.h"

#include "notch/ContinuousCorners.h"
#include "notch/NotchStyle.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace {
constexpr double fontSize = 10;
constexpr double paddingX = 6;
constexpr double paddingY = 3;
constexpr double cornerRadius = 5;

QFont capFont() {
    return NotchStyle::font(fontSize, QFont::DemiBold, NotchStyle::Design::Rounded);
}
} // namespace

KeyCap::KeyCap(const QString& text, QWidget* parent)
    : QWidget(parent)
    , m_text(text) {
    setObjectName(QStringLiteral("keyCap"));
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(sizeHint());
}

QSize KeyCap::sizeHint() const {
    const QFontMetricsF metrics(capFont());
    return QSize(int(std::ceil(metrics.horizontalAdvance(m_text) + 2 * paddingX)),
                 int(std::ceil(metrics.height() + 2 * paddingY)));
}

void KeyCap::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect());
    painter.setFont(capFont());
    painter.setPen(NotchStyle::white(0.7));
    painter.drawText(frame, Qt::AlignCenter, m_text);
    painter.setPen(QPen(NotchStyle::white(0.25), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(ContinuousCorners::roundedRect(frame, cornerRadius));
}
