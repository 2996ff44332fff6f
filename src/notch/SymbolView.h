#pragma once

#include <QColor>
#include <QWidget>

// One symbol centred in its frame.
class SymbolView final : public QWidget {
    Q_OBJECT
public:
    SymbolView(double sizePoints, const QColor& color, QWidget* parent = nullptr);

    QString symbol() const { return m_symbol; }
    void setSymbol(const QString& symbol);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double m_size;
    QColor m_color;
    QString m_symbol;
};
