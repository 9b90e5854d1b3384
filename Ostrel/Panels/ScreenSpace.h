#pragma once

#include <QGuiApplication>
#include <QPointF>
#include <QRectF>
#include <QScreen>

namespace ostrel::ScreenSpace {

// The shelf's rules work in global coordinates with the origin at the lower left of the primary
// screen and y upwards; Qt's origin is the upper left, y downwards. These are the only
// conversions between the two.
inline double primaryBottom() {
    const QScreen* primary = QGuiApplication::primaryScreen();
    return primary ? primary->geometry().y() + primary->geometry().height() : 0.0;
}

// X reports root-window pixels; Qt lays screens out in logical pixels, a display scale dividing
// each screen's size about its own origin.
inline QPointF fromDevicePixels(const QPoint& p) {
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect g = screen->geometry();
        const double ratio = screen->devicePixelRatio();
        if (QRectF(g.topLeft(), QSizeF(g.size()) * ratio).contains(p)) {
            return QPointF(g.topLeft()) + (QPointF(p) - QPointF(g.topLeft())) / ratio;
        }
    }
    return QPointF(p);
}

// The way back, for a rectangle of the screen that holds its centre, rounded outwards.
inline QRect toDevicePixels(const QRectF& r) {
    const QScreen* screen = QGuiApplication::screenAt(r.center().toPoint());
    if (screen == nullptr) {
        return r.toAlignedRect();
    }
    const QPointF origin = screen->geometry().topLeft();
    const double ratio = screen->devicePixelRatio();
    return QRectF(origin + (r.topLeft() - origin) * ratio, r.size() * ratio).toAlignedRect();
}

inline QPointF fromQt(const QPointF& p) {
    return QPointF(p.x(), primaryBottom() - p.y());
}

inline QPointF toQt(const QPointF& p) {
    return QPointF(p.x(), primaryBottom() - p.y());
}

inline QRectF fromQt(const QRectF& r) {
    return QRectF(r.x(), primaryBottom() - (r.y() + r.height()), r.width(), r.height());
}

inline QRectF toQt(const QRectF& r) {
    return QRectF(r.x(), primaryBottom() - (r.y() + r.height()), r.width(), r.height());
}

} // namespace ostrel::ScreenSpace
