#include "notch/SymbolView.h"

#include "notch/Symbols.h"

#include <QPainter>

SymbolView::SymbolView(double sizePoints, const QColor& color, QWidget* parent)
    : QWidget(parent)
    , m_size(sizePoints)
    , m_color(color) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void SymbolView::setSymbol(const QString& symbol) {
    if (symbol == m_symbol) return;
    m_symbol = symbol;
    update();
}

void SymbolView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    Symbols::draw(painter, QRectF(rect()), m_symbol, m_size, m_color);
}
