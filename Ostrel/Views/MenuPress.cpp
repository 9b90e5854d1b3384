#include "Ostrel/Views/MenuPress.h"

#include <QGraphicsScene>
#include <QGraphicsSceneMouseEvent>
#include <QGraphicsView>

namespace ostrel {

MenuPress::MenuPress(Open open, QGraphicsItem* parent)
    : QGraphicsObject(parent), open_(std::move(open)) {
    setAcceptedMouseButtons(Qt::LeftButton);
    setFlag(ItemHasNoContents);
}

MenuPress::~MenuPress() {
    delete pressView_.data();
}

void MenuPress::setSize(QSizeF size) {
    if (size != size_) {
        prepareGeometryChange();
        size_ = size;
    }
}

void MenuPress::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !open_) {
        event->ignore();
        return;
    }
    event->accept();
    QWidget* viewport = event->widget();
    QWidget* stand = nullptr;
    if (viewport) {
        const QRectF scene = mapRectToScene(boundingRect());
        QRect at = scene.toAlignedRect();
        if (auto* view = qobject_cast<QGraphicsView*>(viewport->parentWidget())) {
            at = view->viewportTransform().mapRect(scene).toAlignedRect();
        }
        if (!pressView_ || pressView_->parentWidget() != viewport) {
            delete pressView_.data();
            pressView_ = new QWidget(viewport);
            pressView_->setAttribute(Qt::WA_TransparentForMouseEvents);
            pressView_->setObjectName(QStringLiteral("MenuPress"));
        }
        pressView_->setGeometry(at);
        stand = pressView_;
    }
    const QPointer<MenuPress> self(this);
    const Open open = open_;
    open(stand);
    // The menu took the release: give up the press's implicit grab, or the scene would keep
    // sending the pointer here.
    if (self && scene() && scene()->mouseGrabberItem() == this) {
        ungrabMouse();
    }
}

} // namespace ostrel
