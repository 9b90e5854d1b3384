#pragma once

#include "Ostrel/Views/AccessibleItem.h"
#include "Ostrel/Views/ViewContext.h"

#include <QGraphicsObject>

namespace ostrel {

class MenuPress;

// The header's project name with a chevron: "All projects" or the filtered project, cut at the
// tail when it does not fit. A press opens the project menu under it at once; its own action
// (keyboard, assistive technology) opens the menu where the current event is.
class ProjectSwitcher final : public QGraphicsObject, public AccessibleItem {
    Q_OBJECT
public:
    ProjectSwitcher(const ViewContext& context, QGraphicsItem* parent);

    // The label's size and the room its text gets before the chevron.
    void setFrame(QSizeF size, double textWidth);
    // The project name as drawn.
    QString text() const;
    bool isHovering() const { return hovering_; }
    MenuPress* press() const { return press_; }
    // The control's action: the project menu without a view.
    void trigger();

    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), size_); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

    QAccessible::Role accessibleRole() const override { return QAccessible::ButtonMenu; }
    // "Project: " and the project label.
    QString accessibleName() const override;
    QAccessible::State accessibleState() const override;
    QStringList accessibleActions() const override;
    void doAccessibleAction(const QString& name) override;

protected:
    void hoverEnterEvent(QGraphicsSceneHoverEvent*) override;
    void hoverMoveEvent(QGraphicsSceneHoverEvent*) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent*) override;

private:
    void open(QWidget* pressView);

    ViewContext context_;
    QSizeF size_;
    double textWidth_ = 0;
    bool hovering_ = false;
    MenuPress* press_;
};

} // namespace ostrel
