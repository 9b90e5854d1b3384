#include "Ostrel/Surface/SurfacePaint.h"

#include "Ostrel/Panels/GlowImage.h"

#include <QPainter>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

namespace ostrel::SurfacePaint {

QColor accent() {
    return QColor::fromRgbF(0.851f, 0.467f, 0.341f);
}

Shadow shadow(const QPainterPath& path, const QColor& color, double blurRadius, double pixels) {
    const double room = std::max(blurRadius, 0.0) * 1.5 + 1;
    const QRectF frame = path.boundingRect().adjusted(-room, -room, room, room).toAlignedRect();
    const int w = static_cast<int>(std::ceil(frame.width() * pixels));
    const int h = static_cast<int>(std::ceil(frame.height() * pixels));
    if (w <= 0 || h <= 0 || w > 8192 || h > 8192) {
        return {};
    }
    QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(pixels, pixels);
        p.translate(-frame.topLeft());
        p.fillPath(path, color);
    }
    // A blur radius of b is drawn as a Gaussian of deviation b / 2, as desktop shadows are.
    gaussianBlur(image, blurRadius * pixels / 2);
    return {image, frame};
}

} // namespace ostrel::SurfacePaint
