#pragma once

#include "OstrelCore/Display/ShelfLayoutKind.h"

#include <QGraphicsObject>
#include <QSizeF>
#include <QtGlobal>

namespace ostrel {

// What the drawer's content is laid out for on one display.
struct DrawerContentPlan {
    quint32 display = 0;
    ShelfLayoutKind kind = ShelfLayoutKind::rail;
    // The open drawer without the message band.
    QSizeF size;
    // Height of the band kept free for the undo toast (0 or the message room).
    double message = 0;
    double topReserve = 0;
    double bottomInset = 0;
    bool messageOnTop = false;

    friend bool operator==(const DrawerContentPlan&, const DrawerContentPlan&) = default;
};

// The drawer's content as the shelf view hosts it. It lays itself out in its own coordinates at
// the full open size (origin at its top left, `size` wide and `size` + `message` tall); the shelf
// view scales it about the edge it grows from, fades it, clips it to the drawer's outline and
// keeps it from taking hits until it is nearly revealed.
class DrawerContentItem : public QGraphicsObject {
public:
    using QGraphicsObject::QGraphicsObject;
    // Called once after creation and again whenever the plan changes.
    virtual void setPlan(const DrawerContentPlan& plan) = 0;
};

} // namespace ostrel
