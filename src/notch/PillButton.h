#pragma once

#include "notch/CapsuleButton.h"

// A capsule button with a symbol and a title: light with dark content when prominent, dark with light
// content otherwise.
class PillButton final : public CapsuleButton {
    Q_OBJECT
public:
    PillButton(const QString& title, const QString& symbol, bool prominent, std::function<void()> action,
               QWidget* parent = nullptr);

    QString title() const { return text(); }
    void setTitle(const QString& title);
    bool prominent() const { return m_prominent; }
    double backgroundOpacity() const override;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool m_prominent;
};
