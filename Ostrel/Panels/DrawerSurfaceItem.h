#pragma once

#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Display/DrawerGeometry.h"

#include <QGraphicsObject>

#include <functional>

namespace ostrel {

class ShelfModel;

// Until the shelf views arrive: the drawer drawn as its surface alone, at its geometry for the
// display's layout, closed or open.
class DrawerSurfaceItem : public QGraphicsObject {
    Q_OBJECT
public:
    DrawerSurfaceItem(ShelfModel& model, quint32 display, QGraphicsItem* parent = nullptr);

    QRectF boundingRect() const override;
    QPainterPath shape() const override { return outline(); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

    // The drawn outline in panel coordinates (empty when nothing shows).
    QPainterPath outline() const;

private:
    std::optional<DrawerGeometry> geometry() const;

    ShelfModel& model_;
    quint32 display_;
};

QPainterPath drawerPath(const DrawerShape& shape, const QRectF& rect);

} // namespace ostrel
