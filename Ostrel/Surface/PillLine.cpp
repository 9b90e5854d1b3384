#include "Ostrel/Surface/PillLine.h"

#include "Ostrel/Surface/SurfacePaint.h"

#include "OstrelCore/Display/DrawerGeometry.h"

#include <QPainter>

#include <algorithm>

namespace ostrel {

void PillLine::paint(QPainter& painter, double pixels) const {
    if (rect.isEmpty()) {
        return;
    }
    const QPainterPath capsule =
        CornerShape::uniform(std::min(rect.width(), rect.height()) / 2).path(rect);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const auto shade = SurfacePaint::shadow(capsule, QColor(0, 0, 0, 77), scale, pixels);
    if (!shade.image.isNull()) {
        painter.drawImage(shade.frame, shade.image);
    }
    painter.fillPath(capsule, Qt::white);
    const double accent = std::clamp(accentOpacity(), 0.0, 1.0);
    if (accent > 0) {
        painter.setOpacity(painter.opacity() * accent);
        painter.fillPath(capsule, SurfacePaint::accent());
    }
    painter.restore();
}

} // namespace ostrel
