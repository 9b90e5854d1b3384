#pragma once

#include <QImage>
#include <QRegion>

namespace ostrel {

// One frame of a translucent window made fit to show where no compositor blends: the X server
// then shows premultiplied pixels as they are, so a faint pixel turns dark and a transparent one
// black. Pixels at least half covered keep their own colour at full strength, the others are
// dropped, and `shape` holds exactly the kept pixels, for the window's bounding shape.
struct FlatFrame {
    // Premultiplied ARGB at the rendered image's pixel ratio; opaque inside `shape`.
    QImage image;
    // Logical pixels, each wholly kept (at a pixel ratio above 1 a logical pixel stays only when
    // every device pixel under it does, so that no dropped pixel shows inside the shape).
    QRegion shape;

    static constexpr int coverage = 128;

    static FlatFrame flatten(QImage rendered);
};

} // namespace ostrel
