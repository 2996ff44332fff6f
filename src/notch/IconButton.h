#pragma once

#include "notch/CapsuleButton.h"

// A small round button showing a symbol, with its help text as tooltip.
class IconButton final : public CapsuleButton {
    Q_OBJECT
public:
    static constexpr int width = 28;
    static constexpr int height = 26;

    IconButton(const QString& symbol, const QString& help, std::function<void()> action,
               QWidget* parent = nullptr);

    QString help() const { return toolTip(); }
    double backgroundOpacity() const override { return hovering() ? 0.22 : 0.12; }

    QSize sizeHint() const override { return QSize(width, height); }

protected:
    void paintEvent(QPaintEvent* event) override;
};
