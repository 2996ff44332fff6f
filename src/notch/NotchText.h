#pragma once

#include <QColor>
#include <QFont>
#include <QWidget>

// A text of the notch views: one font and colour, wrapped to at most `maxLines` lines, the last line cut
// with an ellipsis when the text is longer.
class NotchText final : public QWidget {
    Q_OBJECT
public:
    NotchText(const QFont& font, const QColor& color, int maxLines, QWidget* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    int maxLines() const { return m_maxLines; }
    void setMaxLines(int lines);

    // The width the text wants on one line, and its height when wrapped to `width`.
    double idealWidth() const;
    double heightForWidth(double width) const;
    // The lines as drawn at the current width.
    QStringList lines() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QStringList linesFor(double width) const;

    QFont m_font;
    QColor m_color;
    int m_maxLines;
    QString m_text;
};
