#pragma once

#include "Ostrel/Views/AccessibleItem.h"

class QGraphicsObject;

namespace ostrel {

// The head of a section that folds (a session's chip, a turn's caption), as assistive technology
// reads it: a button whose press folds or unfolds the section, "Expanded" or "Collapsed", marked
// while the pointer is over it, and announced when it folds or unfolds.
class AccessibleSection : public AccessibleItem {
public:
    QAccessible::Role accessibleRole() const override { return QAccessible::Button; }
    QString accessibleValue() const override;
    QAccessible::State accessibleState() const override;
    QStringList accessibleActions() const override;
    void doAccessibleAction(const QString& name) override;

protected:
    // Folds the section if open, opens it if folded.
    virtual void toggleSection() = 0;
    // Tells assistive technology that `item` folded or unfolded.
    static void announceFold(QGraphicsObject* item);

    bool folded_ = false;
    bool hovering_ = false;
};

} // namespace ostrel
