#pragma once

#include <QGraphicsObject>
#include <QPointer>
#include <QWidget>

#include <functional>

namespace ostrel {

// A transparent layer over a header control that opens the control's menu on the mouse-down
// itself, also on the first press into a panel that is not active. The press never reaches the
// control below. The menu hangs from `pressView()`, an invisible widget laid over the control in
// the viewport the press came from, so that it opens under the control.
class MenuPress final : public QGraphicsObject {
    Q_OBJECT
public:
    // Opens the menu from the pressed view; returns when the menu has closed.
    using Open = std::function<void(QWidget* pressView)>;

    MenuPress(Open open, QGraphicsItem* parent);
    ~MenuPress() override;

    void setOpen(Open open) { open_ = std::move(open); }
    // The stand-in of the last press.
    QWidget* pressView() const { return pressView_; }

    // The control's size: the layer covers it.
    void setSize(QSizeF size);
    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), size_); }
    void paint(QPainter*, const QStyleOptionGraphicsItem*, QWidget*) override {}

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent*) override {}

private:
    Open open_;
    QSizeF size_;
    QPointer<QWidget> pressView_;
};

} // namespace ostrel
