#pragma once

#include <QColor>
#include <QWidget>

#include <vector>

// A 44-point rounded tile filled with a diagonal gradient, with a white symbol in its centre.
class IconTile final : public QWidget {
    Q_OBJECT
public:
    static constexpr int side = 44;

    explicit IconTile(QWidget* parent = nullptr);

    QString symbol() const { return m_symbol; }
    const std::vector<QColor>& colors() const { return m_colors; }
    void set(const QString& symbol, const std::vector<QColor>& colors);

    QSize sizeHint() const override { return QSize(side, side); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
    std::vector<QColor> m_colors;
};
