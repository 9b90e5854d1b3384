#include "Ostrel/Surface/Halo.h"

#include "Ostrel/Panels/GlowImage.h"
#include "Ostrel/Surface/SurfacePaint.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace ostrel {

namespace {

struct Entry {
    HaloCache::Key key;
    HaloImage value;
};

std::vector<Entry>& entries() {
    static std::vector<Entry> cache;
    return cache;
}

std::optional<HaloImage> renderGlow(const QPainterPath& core, const QRectF& lit, double radius,
                                    double pixels, const QColor& color) {
    auto rendered = GlowImage::render(core, lit, radius, pixels, color);
    if (!rendered) {
        return std::nullopt;
    }
    return HaloImage{std::move(rendered->image), rendered->frame};
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
    const QSizeF factors = GlowGeometry::spreadScale(spread, lit, blur());
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
