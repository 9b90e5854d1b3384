#pragma once

#include "OstrelCore/Display/DrawerGeometry.h"
#include "OstrelCore/Display/Motion.h"

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <array>
#include <functional>
#include <optional>

class QPainter;

namespace ostrel {

// A rendered glow bitmap and the rectangle, in panel points, that it covers.
struct HaloImage {
    QImage image;
    QRectF frame;
};

// The process-wide store of rendered glows. Pulses and drawer animations redraw a halo on every
// frame; with the bitmap kept here a frame only moves and scales it. Main thread only.
class HaloCache {
public:
    static constexpr int capacity = 24;

    struct Key {
        QString shape;
        std::array<double, 4> outline{};
        std::array<double, 4> lit{};
        double radius = 0;
        double pixels = 0;
        friend bool operator==(const Key&, const Key&) = default;
    };

    // Renders the glow of a core outline around a lit rectangle, or nothing when it cannot.
    using Renderer = std::function<std::optional<HaloImage>(
        const QPainterPath& core, const QRectF& lit, double radius, double pixels, const QColor&)>;

    // The glow for the key's inputs, rendered on a miss. A full cache starts over empty rather
    // than evicting one entry: the shelf draws only a handful of glows, and a burst of new ones
    // means the screens or styles changed, which makes every old entry stale anyway.
    static std::optional<HaloImage> image(const QString& shape, const QPainterPath& core,
                                          const QRectF& lit, double radius, double pixels);
    static int count();
    static void clear();
    // Swaps the renderer (tests count or refuse renders); an empty one restores the default.
    static void setRenderer(Renderer renderer);
};

// The soft accent glow around a shape: the notch, the hover-notch line or a pill's line.
struct Halo {
    DrawerShape shape;
    QRectF rect;
    Motion::GlowLook strength;
    // The shape is a thin line: its glow core is held to three times the line's thickness.
    bool bare = false;
    double scale = 1;
    // Extra spread of the glow during a pulse (1 = none).
    double spread = 1;

    QRectF coreRect() const;
    double blur() const;
    // The blur radius as keyed and rendered: rounded to half points.
    static double keyRadius(double blur);

    struct Placed {
        QImage image;
        QRectF target;
    };
    // The bitmap and where it is drawn, or nothing when the renderer gave none.
    std::optional<Placed> place(double pixels) const;
    void paint(QPainter& painter, double pixels, double opacity) const;
};

} // namespace ostrel
