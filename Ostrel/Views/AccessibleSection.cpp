#include "Ostrel/Views/AccessibleSection.h"

#include <QAccessibleActionInterface>

namespace ostrel {

QString AccessibleSection::accessibleValue() const {
    return folded_ ? QStringLiteral("Collapsed") : QStringLiteral("Expanded");
}

QAccessible::State AccessibleSection::accessibleState() const {
    QAccessible::State state;
    state.expandable = true;
    state.expanded = !folded_;
    state.collapsed = folded_;
    state.hotTracked = hovering_;
    return state;
}

QStringList AccessibleSection::accessibleActions() const {
    return {QAccessibleActionInterface::pressAction()};
}

void AccessibleSection::doAccessibleAction(const QString& name) {
    if (name == QAccessibleActionInterface::pressAction()) {
        toggleSection();
    }
}

void AccessibleSection::announceFold(QGraphicsObject* item) {
    QAccessible::State changed;
    changed.expanded = true;
    changed.collapsed = true;
    notifyState(item, changed);
}

} // namespace ostrel
