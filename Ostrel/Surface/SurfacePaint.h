#pragma once

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QRectF>

// Small painting helpers shared by the shelf's surface views.
namespace ostrel::SurfacePaint {

QColor accent();

// A path filled with `color` and blurred, as a shadow of the given blur radius in points,
// rendered at `pixels` per point. The frame is the rectangle in points that the image covers.
struct Shadow {
    QImage image;
    QRectF frame;
};
Shadow shadow(const QPainterPath& path, const QColor& color, double blurRadius, double pixels);

} // namespace ostrel::SurfacePaint
