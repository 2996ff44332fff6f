#pragma once

#include <QAbstractButton>

#include <functional>

class QPainter;

// What the panel's buttons share: a capsule that takes the clicks inside it only, brighter at once while
// the pointer is over it, a symbol, and an action run on click.
class CapsuleButton : public QAbstractButton {
    Q_OBJECT
public:
    QString symbol() const { return m_symbol; }
    bool hovering() const { return m_hovering; }
    // The capsule's fill opacity now.
    virtual double backgroundOpacity() const = 0;

protected:
    CapsuleButton(const QString& symbol, std::function<void()> action, QWidget* parent);

    // Fills the capsule; the caller draws its content over it.
    void paintCapsule(QPainter& painter) const;

    bool hitButton(const QPoint& pos) const override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    QString m_symbol;
    std::function<void()> m_action;
    // View state.
    bool m_hovering = false;
};
