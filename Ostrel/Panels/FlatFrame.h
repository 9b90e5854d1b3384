#pragma once

#include <QImage>
#include <QPoint>
#include <QRegion>

namespace ostrel {

// The frames of a translucent window made fit to show where no compositor blends: the X server
// then shows premultiplied pixels as they are, so a faint pixel turns dark and a transparent one
// black. Pixels at least half covered keep their own colour at full strength, the others are
// dropped, and `shape` holds exactly the kept pixels, for the window's bounding shape. Only what a
// frame painted is flattened, in place where it was painted; the shape elsewhere stays as the
// frames before left it.
class FlatFrame {
public:
    static constexpr int coverage = 128;

    // `image`: premultiplied ARGB holding the window's pixels, the window's logical (0, 0) at
    // `origin` and `ratio` image pixels to a logical pixel; `painted`: the image pixels the frame
    // just painted (none: all of them).
    void flatten(QImage& image, QRegion painted, QPoint origin = {}, double ratio = 1);

    // Logical pixels of the window, each wholly kept (at a pixel ratio above 1 a logical pixel
    // stays only when every image pixel under it does, so that no dropped pixel shows inside the
    // shape).
    const QRegion& shape() const { return shape_; }
    void clear() { shape_ = QRegion(); }
    // How many logical pixels the last frame had to look at one by one to decide the shape; a
    // painted rect that was opaque throughout (the inside of the drawer) is kept without that.
    qsizetype examined() const { return examined_; }

private:
    QRegion shape_;
    qsizetype examined_ = 0;
};

} // namespace ostrel
