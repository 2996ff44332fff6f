#include "notch/IconTile.h"

#include "notch/ContinuousCorners.h"
#include "notch/NotchStyle.h"
#include "notch/Symbols.h"

#include <QLinearGradient>
#include <QPainter>

namespace {
constexpr double cornerRadius = 12;
constexpr double symbolSize = 18;
} // namespace

IconTile::IconTile(QWidget* parent)
    : QWidget(parent) {
    setObjectName(QStringLiteral("iconTile"));
    setAttribute(Qt::WA_TranslucentBackground);
    setFixedSize(side, side);
}

void IconTile::set(const QString& symbol, const std::vector<QColor>& colors) {
    if (symbol == m_symbol && colors == m_colors) return;
    m_symbol = symbol;
    m_colors = colors;
    update();
}

void IconTile::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF square(0, 0, side, side);
    QLinearGradient gradient(square.topLeft(), square.bottomRight());
    const size_t n = m_colors.size();
    for (size_t i = 0; i < n; ++i)
        gradient.setColorAt(n == 1 ? 0.0 : double(i) / double(n - 1), m_colors[i]);
    painter.fillPath(ContinuousCorners::roundedRect(square, cornerRadius), gradient);
    Symbols::draw(painter, square, m_symbol, symbolSize, Qt::white);
}
