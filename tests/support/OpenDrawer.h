#pragma once

#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Display/DrawerSize.h"
#include "XServer.h"

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QRect>

namespace ostrel::test {

// The default drawer (notch style, session rail) open on a 1920 x 1080 screen, in X coordinates.
inline QRect openDrawer() {
    const QRectF frame(0, 0, 1920, 1080);
    const DisplayLayout layout =
        DisplayLayout::make(DisplayStyleChoice::notch(),
                            NotchGeometry::compute(frame, 0, std::nullopt, std::nullopt), frame);
    const QRectF r = layout.drawerRect(layout.drawerSize(ShelfLayoutKind::rail), 0);
    return QRectF(r.x(), 1080 - (r.y() + r.height()), r.width(), r.height()).toAlignedRect();
}

// A point of that drawer which its black surface covers whatever it holds: clear of the header,
// the empty state's text in the middle and the cards right of the sidebar.
inline QPoint drawerProbe(const QRect& open = openDrawer()) {
    return QPoint(open.x() + open.width() / 5, open.y() + open.height() * 4 / 5);
}

inline bool dark(const QImage& image, const QPoint& p) {
    const QColor c(image.pixel(p));
    return c.red() < 60 && c.green() < 60 && c.blue() < 60;
}

inline bool drawerOpen(XServer& x) {
    // One pixel: a whole screen is 8 MB to fetch, which on a loaded machine makes each look late.
    const QImage probe = x.capture(QRect(drawerProbe(), QSize(1, 1)));
    return !probe.isNull() && dark(probe, QPoint(0, 0));
}

} // namespace ostrel::test
