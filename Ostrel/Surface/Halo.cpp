#include "Ostrel/Surface/Halo.h"

#include "Ostrel/Surface/SurfacePaint.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace ostrel {

namespace {

// The bloom oval under a glow: stretched across the lit rectangle more than along it.
QRectF bloomOval(const QRectF& rect, double blurRadius) {
    const double r = std::max(blurRadius, 0.0);
    const bool wide = rect.width() >= rect.height();
    const double dx = (wide ? 0.5 : 1.5) * r;
    const double dy = (wide ? 1.5 : 0.5) * r;
    return rect.adjusted(-dx, -dy, dx, dy);
}

QRectF unite(const QRectF& a, const QRectF& b) {
    const double x0 = std::min(a.left(), b.left());
    const double y0 = std::min(a.top(), b.top());
    const double x1 = std::max(a.right(), b.right());
    const double y1 = std::max(a.bottom(), b.bottom());
    return QRectF(x0, y0, x1 - x0, y1 - y0);
}

// The glow as two blurred passes in the glow colour: the core outline at full strength with a
// tight blur, and a fainter, wider oval bloom under it. Only their blur lands in the bitmap.
std::optional<HaloImage> renderGlow(const QPainterPath& core, const QRectF& lit, double radius,
                                    double pixels, const QColor& color) {
    const double r = std::max(radius, 0.0);
    if (lit.isEmpty() || !(pixels > 0)) {
        return std::nullopt;
    }
    const QRectF oval = bloomOval(lit, r);
    const QRectF shapes = unite(unite(lit, oval), core.boundingRect());
    const QRectF grown = shapes.adjusted(-3 * r, -3 * r, 3 * r, 3 * r);
    const QRectF frame = QRectF(grown.toAlignedRect());
    const double w = frame.width() * pixels;
    const double h = frame.height() * pixels;
    if (!std::isfinite(w) || !std::isfinite(h) || w < 1 || h < 1 || w > 16384 || h > 16384) {
        return std::nullopt;
    }
    QImage image(static_cast<int>(w), static_cast<int>(h), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);

    const auto pass = [&](const QPainterPath& path, double alpha, double sigmaPoints) {
        QImage layer(image.size(), QImage::Format_ARGB32_Premultiplied);
        layer.fill(Qt::transparent);
        {
            QPainter p(&layer);
            p.setRenderHint(QPainter::Antialiasing);
            p.scale(pixels, pixels);
            p.translate(-frame.topLeft());
            QColor c = color;
            c.setAlphaF(static_cast<float>(alpha));
            p.fillPath(path, c);
        }
        SurfacePaint::blur(layer, sigmaPoints * pixels);
        QPainter p(&image);
        p.drawImage(0, 0, layer);
    };
    pass(core, 1.0, 0.45 * r);
    QPainterPath ellipse;
    ellipse.addEllipse(oval);
    pass(ellipse, 0.56, r);
    return HaloImage{image, frame};
}

struct Entry {
    HaloCache::Key key;
    HaloImage value;
};

std::vector<Entry>& entries() {
    static std::vector<Entry> cache;
    return cache;
}

HaloCache::Renderer& renderer() {
    static HaloCache::Renderer current = renderGlow;
    return current;
}

std::array<double, 4> values(const QRectF& r) {
    return {r.x(), r.y(), r.width(), r.height()};
}

} // namespace

std::optional<HaloImage> HaloCache::image(const QString& shape, const QPainterPath& core,
                                          const QRectF& lit, double radius, double pixels) {
    const Key key{shape, values(core.boundingRect()), values(lit), radius, pixels};
    auto& cache = entries();
    for (const auto& entry : cache) {
        if (entry.key == key) {
            return entry.value;
        }
    }
    auto rendered = renderer()(core, lit, radius, pixels, SurfacePaint::accent());
    if (!rendered) {
        return std::nullopt;
    }
    if (static_cast<int>(cache.size()) >= capacity) {
        cache.clear();
    }
    cache.push_back(Entry{key, *rendered});
    return rendered;
}

int HaloCache::count() {
    return static_cast<int>(entries().size());
}

void HaloCache::clear() {
    entries().clear();
}

void HaloCache::setRenderer(Renderer r) {
    renderer() = r ? std::move(r) : Renderer(renderGlow);
}

QSizeF glowSpreadScale(double spread, const QRectF& rect, double blurRadius) {
    const double b = std::max(blurRadius, 0.0);
    const QRectF grown = bloomOval(rect, b);
    const double hx = b + grown.width() / 2;
    const double hy = b + grown.height() / 2;
    const double m = std::min(hx, hy);
    if (m > 0) {
        const double e = (spread - 1) * m;
        return QSizeF(1 + e / hx, 1 + e / hy);
    }
    return QSizeF(spread, spread);
}

QRectF Halo::coreRect() const {
    double core = strength.core;
    if (bare) {
        core = std::min(core, 3 * std::min(rect.width(), rect.height()));
    }
    core *= scale;
    const double dx = std::max(0.0, (core - rect.width()) / 2);
    const double dy = std::max(0.0, (core - rect.height()) / 2);
    return rect.adjusted(-dx, -dy, dx, dy);
}

double Halo::blur() const {
    return strength.radius * scale;
}

double Halo::keyRadius(double blur) {
    return std::round(2 * blur) / 2;
}

std::optional<Halo::Placed> Halo::place(double pixels) const {
    const QRectF lit = coreRect();
    const QPainterPath core = outlinePath(shape, lit);
    const auto glow = HaloCache::image(QString::fromLatin1(shapeName(shape)), core, lit,
                                       keyRadius(blur()), pixels);
    if (!glow) {
        return std::nullopt;
    }
    const QSizeF factors = glowSpreadScale(spread, lit, blur());
    const QRectF& f = glow->frame;
    const double w = f.width() * factors.width();
    const double h = f.height() * factors.height();
    const QPointF c = f.center();
    return Placed{glow->image, QRectF(c.x() - w / 2, c.y() - h / 2, w, h)};
}

void Halo::paint(QPainter& painter, double pixels, double opacity) const {
    if (opacity <= 0) {
        return;
    }
    const auto placed = place(pixels);
    if (!placed) {
        return;
    }
    painter.save();
    painter.setOpacity(painter.opacity() * std::min(opacity, 1.0));
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(placed->target, placed->image);
    painter.restore();
}

} // namespace ostrel
