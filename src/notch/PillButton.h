#pragma once

#include <QAbstractButton>

#include <functional>

// A capsule button with a symbol and a title: light with dark content when prominent, dark with light
// content otherwise; brighter at once while the pointer is over it.
class PillButton final : public QAbstractButton {
    Q_OBJECT
public:
    PillButton(const QString& title, const QString& symbol, bool prominent, std::function<void()> action,
               QWidget* parent = nullptr);

    QString title() const { return text(); }
    void setTitle(const QString& title);
    QString symbol() const { return m_symbol; }
    bool prominent() const { return m_prominent; }
    bool hovering() const { return m_hovering; }
    // The capsule's fill opacity now.
    double backgroundOpacity() const;

    QSize sizeHint() const override;

protected:
    bool hitButton(const QPoint& pos) const override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
    bool m_prominent;
    std::function<void()> m_action;
    // View state.
    bool m_hovering = false;
};
