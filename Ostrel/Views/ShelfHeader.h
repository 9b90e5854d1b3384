#pragma once

#include "Ostrel/Views/ShelfHeaderLayout.h"
#include "Ostrel/Views/ViewContext.h"

#include <QGraphicsObject>
#include <QPointer>
#include <QWidget>

namespace ostrel {

// The one-line bar at the top of the open drawer: the project switcher, a flexible gap, the
// active-filter chip, the unread count, the filter button and the shelf menu button. The three
// menus open on mouse-down, at once, even on the first press into a panel that is not active.
class ShelfHeader final : public QGraphicsObject {
    Q_OBJECT
public:
    enum class Control { none, switcher, chip, filter, menu };

    ShelfHeader(const ViewContext& context, bool compact, double leading,
                QGraphicsItem* parent = nullptr);
    ~ShelfHeader() override;

    void setSize(QSizeF size);
    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), size_); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

    // Where the controls lie now, from the model's current state.
    ShelfHeaderLayout layout() const;
    Control controlAt(QPointF point) const;
    Control hovered() const { return hovered_; }
    // The texts as drawn.
    QString unreadText() const;
    // The filter button's label for assistive technology.
    QString filterLabel() const;
    // The switcher's project name as drawn (cut at the tail when it does not fit).
    QString projectText() const;

    // Opens a control's menu as a press on it would: hung from an invisible stand-in widget laid
    // over the control in `viewport` (the view's viewport the press came from), so the menu
    // appears below it.
    void openMenu(Control control, QWidget* viewport);
    // The stand-in widget of the last press; it lies over the pressed control.
    QWidget* pressWidget() const { return press_; }

protected:
    void hoverMoveEvent(QGraphicsSceneHoverEvent* event) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent*) override;
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;

private:
    bool capped() const;

    ViewContext context_;
    bool compact_;
    double leading_;
    QSizeF size_;
    Control hovered_ = Control::none;
    Control pressed_ = Control::none;
    QPointer<QWidget> press_;
};

} // namespace ostrel
