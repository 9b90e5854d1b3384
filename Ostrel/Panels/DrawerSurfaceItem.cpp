#include "Ostrel/Panels/DrawerSurfaceItem.h"

#include "Ostrel/Model/ShelfModel.h"
#include "OstrelCore/Display/DrawerSize.h"

#include <QPainter>

namespace ostrel {

QPainterPath drawerPath(const DrawerShape& shape, const QRectF& rect) {
    if (const auto* notch = std::get_if<NotchShape>(&shape)) {
        return notch->path(rect);
    }
    const auto& c = std::get<CornerShape>(shape);
    auto cut = [&](double r) { return std::min({r, rect.width() / 2, rect.height() / 2}); };
    const double tl = cut(c.topLeft), tr = cut(c.topRight), bl = cut(c.bottomLeft),
                 br = cut(c.bottomRight);
    QPainterPath p;
    p.moveTo(rect.left() + tl, rect.top());
    p.lineTo(rect.right() - tr, rect.top());
    p.quadTo(rect.right(), rect.top(), rect.right(), rect.top() + tr);
    p.lineTo(rect.right(), rect.bottom() - br);
    p.quadTo(rect.right(), rect.bottom(), rect.right() - br, rect.bottom());
    p.lineTo(rect.left() + bl, rect.bottom());
    p.quadTo(rect.left(), rect.bottom(), rect.left(), rect.bottom() - bl);
    p.lineTo(rect.left(), rect.top() + tl);
    p.quadTo(rect.left(), rect.top(), rect.left() + tl, rect.top());
    p.closeSubpath();
    return p;
}

DrawerSurfaceItem::DrawerSurfaceItem(ShelfModel& model, quint32 display, QGraphicsItem* parent)
    : QGraphicsObject(parent), model_(model), display_(display) {
    connect(&model_, &ShelfModel::openScreenChanged, this, [this] { update(); });
    connect(&model_, &ShelfModel::layoutsChanged, this, [this] {
        prepareGeometryChange();
        update();
    });
    connect(&model_, &ShelfModel::pendingUndoChanged, this, [this] { update(); });
    connect(&model_, &ShelfModel::fullscreenChanged, this, [this] { update(); });
}

std::optional<DrawerGeometry> DrawerSurfaceItem::geometry() const {
    const auto it = model_.layouts().find(display_);
    if (it == model_.layouts().end()) {
        return std::nullopt;
    }
    const DisplayLayout& layout = it->second;
    const QRectF panel = layout.panelFrame();
    const auto toView = [panel](const QRectF& r) {
        return QRectF(r.x() - panel.x(), (panel.y() + panel.height()) - (r.y() + r.height()),
                      r.width(), r.height());
    };
    const DisplayStylePosition position = layout.style().position();
    const auto pillStart = [position](const QRectF& r) {
        return EdgePlacement::lineRect(position, r, DisplayLayout::pillLineSize.width(),
                                       DisplayLayout::pillLineSize.height());
    };
    const bool open = model_.openScreen() == display_;
    const ShelfLayoutKind kind = resolveShelfLayoutKind(layout.style(), model_.layoutChoice());
    const double message = model_.pendingUndo() ? DrawerSize::messageRoom : 0;
    return DrawerGeometry::make(layout, open ? 1.0 : 0.0, model_.countWidth(),
                                layout.drawerSize(kind), message, DrawerGeometry::unit, false,
                                layout.hidesAtRest(model_.fullscreen().contains(display_)), toView,
                                pillStart);
}

QRectF DrawerSurfaceItem::boundingRect() const {
    const auto it = model_.layouts().find(display_);
    if (it == model_.layouts().end()) {
        return {};
    }
    return QRectF(QPointF(0, 0), it->second.panelFrame().size());
}

QPainterPath DrawerSurfaceItem::outline() const {
    const auto g = geometry();
    if (!g) {
        return {};
    }
    if (g->surface > 0) {
        return drawerPath(g->shape, g->frame);
    }
    // At rest a pill shows its line at the screen edge; a notch without a housing shows nothing.
    const auto it = model_.layouts().find(display_);
    if (const auto line = it->second.pillLineRect()) {
        const QRectF panel = it->second.panelFrame();
        const QRectF view(line->x() - panel.x(),
                          (panel.y() + panel.height()) - (line->y() + line->height()),
                          line->width(), line->height());
        QPainterPath p;
        p.addRoundedRect(view, view.height() / 2, view.height() / 2);
        return p;
    }
    return {};
}

void DrawerSurfaceItem::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    const QPainterPath path = outline();
    if (path.isEmpty()) {
        return;
    }
    const auto g = geometry();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setOpacity(g && g->surface > 0 ? g->surface : 1.0);
    painter->fillPath(path, QColor(18, 18, 20, 245));
}

} // namespace ostrel
