#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRectF>
#include <QString>

namespace ostrel::Symbols {

// True when a picture is drawn for the symbol name ("photo", "doc.text", …).
bool exists(const QString& name);

// The symbol fitted into a square of `pixels`, in one colour on a transparent ground; a null image
// for an unknown name.
QImage image(const QString& name, int pixels, const QColor& color);

// Draws the symbol centred in a square of side `side` around `center`, in `color`, sharp at the
// painter's device pixel ratio.
void paint(QPainter& painter, const QString& name, QPointF center, double side,
           const QColor& color);

} // namespace ostrel::Symbols
