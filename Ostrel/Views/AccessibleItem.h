#pragma once

#include <QAccessible>
#include <QList>
#include <QString>
#include <QStringList>

class QGraphicsObject;

namespace ostrel {

// What one item of the shelf tells assistive technology: its role, label, value, hint, state and
// actions. Scene items that are not accessible themselves are passed through: their accessible
// descendants count as children of the nearest accessible ancestor (or of the view).
class AccessibleItem {
public:
    virtual ~AccessibleItem() = default;

    virtual QAccessible::Role accessibleRole() const = 0;
    virtual QString accessibleName() const = 0;
    virtual QString accessibleValue() const { return {}; }
    virtual QString accessibleDescription() const { return {}; }
    virtual QAccessible::State accessibleState() const { return {}; }
    // The actions by the names of QAccessibleActionInterface, the default one first.
    virtual QStringList accessibleActions() const { return {}; }
    // Runs an action. It is called from the event loop once the request has been answered, so it
    // may open a menu (which blocks until it closes) or take this item away.
    virtual void doAccessibleAction(const QString&) {}
    // Puts this item's shown accessible children in the order they are read in.
    virtual void orderAccessibleChildren(QList<QGraphicsObject*>& children) const {
        readingOrder(children);
    }

    // Top to bottom, then left to right, by where the items lie in the scene.
    static void readingOrder(QList<QGraphicsObject*>& items);

    // Tells assistive technology about a change of `item` (nothing happens while none listens).
    static void notify(QGraphicsObject* item, QAccessible::Event event);
    // A change of the states in `changed`.
    static void notifyState(QGraphicsObject* item, QAccessible::State changed);
};

} // namespace ostrel
