#include "Ostrel/Views/AccessibleItem.h"

#include <QGraphicsObject>

#include <algorithm>
#include <cmath>

namespace ostrel {

void AccessibleItem::readingOrder(QList<QGraphicsObject*>& items) {
    auto key = [](const QGraphicsObject* item) {
        const QRectF r = item->sceneBoundingRect();
        return std::make_pair(std::round(r.top()), r.left());
    };
    std::stable_sort(
        items.begin(), items.end(),
        [&](const QGraphicsObject* a, const QGraphicsObject* b) { return key(a) < key(b); });
}

void AccessibleItem::notify(QGraphicsObject* item, QAccessible::Event event) {
    if (item == nullptr || !QAccessible::isActive()) {
        return;
    }
    QAccessibleEvent e(item, event);
    QAccessible::updateAccessibility(&e);
}

void AccessibleItem::notifyState(QGraphicsObject* item, QAccessible::State changed) {
    if (item == nullptr || !QAccessible::isActive()) {
        return;
    }
    QAccessibleStateChangeEvent e(item, changed);
    QAccessible::updateAccessibility(&e);
}

} // namespace ostrel
