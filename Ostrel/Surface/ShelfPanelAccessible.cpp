#include "Ostrel/Surface/ShelfPanelAccessible.h"

#include "Ostrel/Panels/NotchPanel.h"
#include "Ostrel/Views/AccessibleTree.h"

#include <QGraphicsObject>

namespace ostrel {

namespace {

QAccessibleInterface* factory(const QString&, QObject* object) {
    if (auto* panel = qobject_cast<NotchPanel*>(object)) {
        return new ShelfPanelAccessible(panel);
    }
    return AccessibleTree::interfaceFor(object);
}

} // namespace

ShelfPanelAccessible::ShelfPanelAccessible(QGraphicsView* view)
    : QAccessibleWidget(view, QAccessible::Window) {}

void ShelfPanelAccessible::install() {
    static const bool installed = [] {
        QAccessible::installFactory(factory);
        return true;
    }();
    Q_UNUSED(installed);
}

QGraphicsView* ShelfPanelAccessible::view() const {
    return qobject_cast<QGraphicsView*>(object());
}

int ShelfPanelAccessible::childCount() const {
    QGraphicsView* v = view();
    return v ? int(AccessibleTree::of(v)->children(nullptr).size()) : 0;
}

QAccessibleInterface* ShelfPanelAccessible::child(int index) const {
    QGraphicsView* v = view();
    if (v == nullptr) {
        return nullptr;
    }
    const auto list = AccessibleTree::of(v)->children(nullptr);
    if (index < 0 || index >= list.size()) {
        return nullptr;
    }
    return QAccessible::queryAccessibleInterface(list[index]);
}

int ShelfPanelAccessible::indexOfChild(const QAccessibleInterface* child) const {
    QGraphicsView* v = view();
    if (v == nullptr || child == nullptr) {
        return -1;
    }
    return int(AccessibleTree::of(v)->children(nullptr).indexOf(
        qobject_cast<QGraphicsObject*>(child->object())));
}

QAccessibleInterface* ShelfPanelAccessible::childAt(int x, int y) const {
    QGraphicsView* v = view();
    if (v == nullptr) {
        return nullptr;
    }
    AccessibleTree* tree = AccessibleTree::of(v);
    for (QGraphicsObject* item : tree->children(nullptr)) {
        if (tree->screenRect(item).contains(x, y)) {
            return QAccessible::queryAccessibleInterface(item);
        }
    }
    return nullptr;
}

} // namespace ostrel
