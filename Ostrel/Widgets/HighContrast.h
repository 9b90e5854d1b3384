#pragma once

#include <QColor>
#include <QRectF>

class QPainter;
class QStyleOption;
class QWidget;

namespace ostrel::HighContrast {

// What edges a control and marks its state under a high-contrast palette: the palette's text
// colour, or for a disabled control a middle grey that reads 4.5:1 on black and on white and as
// far from either text colour, so a disabled control still shows and still reads apart from an
// enabled one. The style's own edges, shades of the window colour, vanish on black or white.
QColor ink(bool enabled = true);

// Under a high-contrast palette, a one-point edge in `ink` just inside `box`, its corners rounded
// by `radius`; nothing otherwise, where the style's own edge stands.
void drawEdge(QPainter& painter, const QRectF& box, double radius, bool enabled = true);

// The same edges on one of Qt's own controls, drawn by its style from `option`: a combo box's or
// a field's frame, a slider's groove and handle.
void drawEdges(QPainter& painter, const QWidget& control, const QStyleOption& option);

} // namespace ostrel::HighContrast
