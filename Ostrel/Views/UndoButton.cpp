#include "Ostrel/Views/UndoButton.h"

#include "OstrelCore/Display/ShelfStyle.h"

#include <QAccessibleActionInterface>
#include <QFontMetricsF>
#include <QGraphicsSceneMouseEvent>
#include <QPainter>

namespace ostrel {

namespace {

constexpr double padding = 10;
constexpr double height = 22;

QFont font() {
    QFont f = ShelfStyle::headerFont();
    f.setWeight(QFont::DemiBold);
    return f;
}

} // namespace

UndoButton::UndoButton(std::function<void()> action, QGraphicsItem* parent)
    : QGraphicsObject(parent), action_(std::move(action)) {
    setAcceptHoverEvents(true);
    setAcceptedMouseButtons(Qt::LeftButton);
}

QSizeF UndoButton::size() {
    return QSizeF(QFontMetricsF(font()).horizontalAdvance(QStringLiteral("Undo")) + 2 * padding,
                  height);
}

void UndoButton::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF r = boundingRect();
    if (hovering_) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(ShelfStyle::rowSelected());
        painter->drawRoundedRect(r, r.height() / 2, r.height() / 2);
    }
    painter->setFont(font());
    painter->setPen(Qt::white);
    const QFontMetricsF bold(font());
    painter->drawText(QPointF(padding, r.center().y() - bold.height() / 2 + bold.ascent()),
                      QStringLiteral("Undo"));
}

QVariant UndoButton::itemChange(GraphicsItemChange change, const QVariant& value) {
    if (change == ItemVisibleHasChanged && !value.toBool()) {
        hovering_ = false;
    }
    return QGraphicsObject::itemChange(change, value);
}

void UndoButton::hoverEnterEvent(QGraphicsSceneHoverEvent*) {
    hovering_ = true;
    update();
}

void UndoButton::hoverLeaveEvent(QGraphicsSceneHoverEvent*) {
    hovering_ = false;
    update();
}

void UndoButton::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    event->setAccepted(event->button() == Qt::LeftButton);
}

void UndoButton::mouseReleaseEvent(QGraphicsSceneMouseEvent* event) {
    if (boundingRect().contains(event->pos()) && action_) {
        action_();
    }
}

QAccessible::State UndoButton::accessibleState() const {
    QAccessible::State state;
    state.hotTracked = hovering_;
    return state;
}

QStringList UndoButton::accessibleActions() const {
    return {QAccessibleActionInterface::pressAction()};
}

void UndoButton::doAccessibleAction(const QString& name) {
    if (name == QAccessibleActionInterface::pressAction() && action_) {
        action_();
    }
}

} // namespace ostrel
