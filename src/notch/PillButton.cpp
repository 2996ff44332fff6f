#include "notch/PillButton.h"

#include "notch/NotchStyle.h"
#include "notch/Symbols.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace {
constexpr double fontSize = 11.5;
constexpr double paddingX = 11;
constexpr double paddingY = 6;
// Between symbol and title, as a standard icon-and-title label sets them.
constexpr double iconSpacing = 5;

QFont titleFont() {
    return NotchStyle::font(fontSize, QFont::DemiBold);
}
} // namespace

PillButton::PillButton(const QString& title, const QString& symbol, bool prominent,
                       std::function<void()> action, QWidget* parent)
    : CapsuleButton(symbol, std::move(action), parent)
    , m_prominent(prominent) {
    setText(title);
    setFixedSize(sizeHint());
}

void PillButton::setTitle(const QString& title) {
    if (title == text()) return;
    setText(title);
    setFixedSize(sizeHint());
}

QSize PillButton::sizeHint() const {
    const QFontMetricsF metrics(titleFont());
    const double content =
        Symbols::width(symbol(), fontSize) + iconSpacing + metrics.horizontalAdvance(text());
    return QSize(int(std::ceil(content + 2 * paddingX)), int(std::ceil(metrics.height() + 2 * paddingY)));
}

double PillButton::backgroundOpacity() const {
    if (m_prominent) return hovering() ? 1.0 : 0.92;
    return hovering() ? 0.22 : 0.13;
}

void PillButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintCapsule(painter);
    const QRectF frame(rect());

    const QColor foreground = m_prominent ? QColor(Qt::black) : QColor(Qt::white);
    const QFont font = titleFont();
    const QFontMetricsF metrics(font);
    const double symbolWidth = Symbols::width(symbol(), fontSize);
    const QRectF content = frame.adjusted(paddingX, paddingY, -paddingX, -paddingY);
    Symbols::draw(painter, QRectF(content.left(), content.top(), symbolWidth, content.height()), symbol(),
                  fontSize, foreground);
    painter.setFont(font);
    painter.setPen(foreground);
    const double titleLeft = content.left() + symbolWidth + iconSpacing;
    painter.drawText(QRectF(titleLeft, content.top(), content.right() - titleLeft, content.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, text());
}
