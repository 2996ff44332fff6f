#pragma once

#include <QAbstractButton>

#include <functional>

// A small round button showing a symbol, with its help text as tooltip; brighter at once while hovered.
class IconButton final : public QAbstractButton {
    Q_OBJECT
public:
    static constexpr int width = 28;
    static constexpr int height = 26;

    IconButton(const QString& symbol, const QString& help, std::function<void()> action,
               QWidget* parent = nullptr);

    QString symbol() const { return m_symbol; }
    QString help() const { return toolTip(); }
    bool hovering() const { return m_hovering; }
    double backgroundOpacity() const { return m_hovering ? 0.22 : 0.12; }

    QSize sizeHint() const override { return QSize(width, height); }

protected:
    bool hitButton(const QPoint& pos) const override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
    std::function<void()> m_action;
    // View state.
    bool m_hovering = false;
};
