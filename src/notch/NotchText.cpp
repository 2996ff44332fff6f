#include "notch/NotchText.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextLayout>

#include <cmath>

NotchText::NotchText(const QFont& font, const QColor& color, int maxLines, QWidget* parent)
    : QWidget(parent)
    , m_font(font)
    , m_color(color)
    , m_maxLines(maxLines) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void NotchText::setText(const QString& text) {
    if (text == m_text) return;
    m_text = text;
    setAccessibleName(text);
    update();
}

void NotchText::setMaxLines(int lines) {
    if (lines == m_maxLines) return;
    m_maxLines = lines;
    update();
}

double NotchText::idealWidth() const {
    return std::ceil(QFontMetricsF(m_font).horizontalAdvance(m_text));
}

double NotchText::heightForWidth(double width) const {
    return std::ceil(linesFor(width).size() * QFontMetricsF(m_font).lineSpacing());
}

QStringList NotchText::lines() const {
    return linesFor(width());
}

QStringList NotchText::linesFor(double width) const {
    if (m_text.isEmpty() || m_maxLines < 1) return {};
    QTextLayout layout(m_text, m_font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    QStringList result;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        if (result.size() == m_maxLines - 1) {
            // The last allowed line takes the rest of the text, elided.
            const QString rest = m_text.mid(line.textStart());
            result << QFontMetricsF(m_font).elidedText(rest, Qt::ElideRight, width);
            break;
        }
        result << m_text.mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    return result;
}

void NotchText::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setFont(m_font);
    painter.setPen(m_color);
    const QFontMetricsF metrics(m_font);
    double y = metrics.ascent();
    for (const QString& line : lines()) {
        painter.drawText(QPointF(0, y), line);
        y += metrics.lineSpacing();
    }
}
