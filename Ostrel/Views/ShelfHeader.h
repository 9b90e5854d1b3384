#pragma once

#include "Ostrel/Views/AccessibleItem.h"
#include "Ostrel/Views/ShelfHeaderLayout.h"
#include "Ostrel/Views/ViewContext.h"

#include <QGraphicsObject>

namespace ostrel {

class FilterButton;
class FilterChip;
class HeaderMenu;
class ProjectSwitcher;
class UnreadLabel;

// The one-line bar at the top of the open drawer: the project switcher, a flexible gap, the
// active-filter chip, the unread count, the filter button and the shelf menu button, each an item
// of its own. The three menus open on mouse-down, at once, even on the first press into a panel
// that is not active. Assistive technology reads it as a tool bar of those controls.
class ShelfHeader final : public QGraphicsObject, public AccessibleItem {
    Q_OBJECT
public:
    ShelfHeader(const ViewContext& context, bool compact, double leading,
                QGraphicsItem* parent = nullptr);

    void setSize(QSizeF size);
    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), size_); }
    void paint(QPainter*, const QStyleOptionGraphicsItem*, QWidget*) override {}

    // Where the controls lie now, from the model's current state.
    ShelfHeaderLayout layout() const;

    ProjectSwitcher* switcher() const { return switcher_; }
    // Hidden while no kind or newness filter is on.
    FilterChip* chip() const { return chip_; }
    UnreadLabel* unread() const { return unread_; }
    FilterButton* filterButton() const { return filter_; }
    HeaderMenu* menuButton() const { return menu_; }

    // The texts as drawn.
    QString unreadText() const;
    // The filter button's label for assistive technology.
    QString filterLabel() const;
    // The switcher's project name as drawn (cut at the tail when it does not fit).
    QString projectText() const;
    // The stand-in widget of the last press on a menu control; it lies over that control.
    QWidget* pressWidget() const;

    QAccessible::Role accessibleRole() const override { return QAccessible::ToolBar; }
    QString accessibleName() const override { return {}; }
    // From the leading end to the trailing one.
    void orderAccessibleChildren(QList<QGraphicsObject*>& children) const override;

private:
    bool capped() const;
    // Takes the model's state into the controls and places them.
    void sync();
    void place();

    ViewContext context_;
    bool compact_;
    double leading_;
    QSizeF size_;
    ProjectSwitcher* switcher_;
    FilterChip* chip_;
    UnreadLabel* unread_;
    FilterButton* filter_;
    HeaderMenu* menu_;
};

} // namespace ostrel
