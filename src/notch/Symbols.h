#pragma once

#include <QColor>
#include <QFont>
#include <QRectF>
#include <QString>

class QPainter;

// The symbol names the views use, drawn with the Material Icons font by ligature name. The names are
// mapped once, here; the font is loaded from the system's font folder on first use.
namespace Symbols {

// The Material Icons ligature for a symbol name; the name itself when it has no mapping.
QString ligature(const QString& symbol);

// The symbol font sized to match a text font of `sizePoints`: the icon font draws its glyphs on a larger
// em square than text glyphs, so it is scaled up to give symbols the visual weight of the text beside them.
QFont font(double sizePoints);

// The width a symbol takes at `sizePoints`.
double width(const QString& symbol, double sizePoints);

// Draws `symbol` centred in `rect`.
void draw(QPainter& painter, const QRectF& rect, const QString& symbol, double sizePoints,
          const QColor& color);

// False when the icon font could not be loaded; symbols then draw as nothing.
bool available();

} // namespace Symbols
