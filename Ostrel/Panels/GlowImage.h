#pragma once

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QSizeF>

#include <optional>

namespace ostrel {

// Where the arrival glow's oval bloom lies and how the glow spreads evenly.
namespace GlowGeometry {
inline constexpr double bloomLengthening = 0.5;
inline constexpr double bloomDeepening = 1.5;
inline constexpr double bloomOpacity = 0.56;

// The bloom ellipse's rectangle: it stretches across the lit rectangle more than along it.
QRectF bloomOval(const QRectF& lit, double blurRadius);
// Per-axis scale factors that spread both axes by the same distance as a uniform scale `s`
// spreads the shorter one.
QSizeF spreadScale(double s, const QRectF& lit, double blurRadius);
} // namespace GlowGeometry

// The closed shelf's glow, rendered once into a bitmap that the halo then only moves and fades.
namespace GlowImage {
inline constexpr double coreShare = 0.45;
inline constexpr double roomPerRadius = 3.0;

struct Rendered {
    QImage image; // premultiplied ARGB at the backing scale
    QRectF frame; // in the shape's coordinates
};

// A soft halo of `color` around `core` with a fainter oval bloom under `lit`. None for an empty
// frame or a scale of 0 or less.
std::optional<Rendered> render(const QPainterPath& core, const QRectF& lit, double radius,
                               double scale, const QColor& color);
} // namespace GlowImage

// A Gaussian blur of standard deviation `sigma` pixels on a premultiplied ARGB image, by three
// box passes each way; pixels beyond the edges count as transparent.
void gaussianBlur(QImage& image, double sigma);

// The soft shadow of a rounded rectangle `shape` (corner `corner` points) filled black at
// `opacity` and blurred by `blur` points in device pixels, into a transparent image of `pixels`
// at `ratio` (its device pixel ratio). Null for an empty or non-positive size.
QImage roundedShadow(const QRectF& shape, double corner, double blur, double opacity, QSize pixels,
                     double ratio);

} // namespace ostrel
