#pragma once

#include <QColor>
#include <QFont>

// Fonts and the named colours of the notch views. Sizes are in screen points (logical pixels).
namespace NotchStyle {

enum class Design { Default, Rounded };

// The system font at a size and weight. Linux has no rounded design of the system font; the default
// design stands in for it.
QFont font(double sizePoints, QFont::Weight weight, Design design = Design::Default);

// Sets a fractional pixel size: QFont takes fractional sizes only in typographic points.
void setSize(QFont& font, double sizePoints);

// The standard named colours, in their dark-appearance variants: the panel is always black.
QColor yellow();
QColor green();
QColor orange();
QColor gray();
QColor white(double opacity = 1);
QColor black(double opacity = 1);
QColor withOpacity(QColor color, double opacity);

} // namespace NotchStyle
