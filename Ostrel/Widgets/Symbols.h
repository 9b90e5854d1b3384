#pragma once

#include <QColor>
#include <QPixmap>
#include <QString>

namespace ostrel {

// The named symbols the Settings, welcome and update windows draw, our own SVG drawings in the
// resources, tinted.
namespace Symbols {

// The symbol at `size` logical pixels in `colour`, sharp at the pixel ratio; a null pixmap for
// a name we have no drawing of.
QPixmap pixmap(const QString& name, const QColor& colour, int size, qreal pixelRatio = 1.0);

} // namespace Symbols

} // namespace ostrel
