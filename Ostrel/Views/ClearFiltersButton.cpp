#include "Ostrel/Views/ClearFiltersButton.h"

#include "OstrelCore/Display/ShelfStyle.h"

#include <QAccessibleActionInterface>
#include <QFontMetricsF>
#include <QGraphicsSceneMouseEvent>
#include <QPainter>

#include <cmath>

namespace ostrel {

namespace {

constexpr double padding = 10;
constexpr double height = 22;

const QString title = QStringLiteral("Clear Filters");

} // namespace

ClearFiltersButton::ClearFiltersButton(std::function<void()> action, QGraphicsItem* parent)
    : QGraphicsObject(parent), action_(std::move(action)) {
    setAcceptHoverEvents(true);
    setAcceptedMouseButtons(Qt::LeftButton);
}

QSizeF ClearFiltersButton::size() {
    return QSizeF(std::ceil(QFontMetricsF(ShelfStyle::headerFont()).horizontalAdvance(title)) +
                      2 * padding,
                  height);
}

void ClearFiltersButton::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF r = boundingRect();
    painter->setPen(Qt::NoPen);
    painter->setBrush(ShelfStyle::chipStroke(hovering_));
    painter->drawRoundedRect(r, ShelfStyle::chipCorner, ShelfStyle::chipCorner);
    painter->setFont(ShelfStyle::headerFont());
    painter->setPen(ShelfStyle::chipFill());
    painter->drawText(r, Qt::AlignCenter, title);
}

QVariant ClearFiltersButton::itemChange(GraphicsItemChange change, const QVariant& value) {
    if (change == ItemVisibleHasChanged && !value.toBool()) {
        hovering_ = false;
    }
    return QGraphicsObject::itemChange(change, value);
}

void ClearFiltersButton::hoverEnterEvent(QGraphicsSceneHoverEvent*) {
    hovering_ = true;
    update();
}

void ClearFiltersButton::hoverLeaveEvent(QGraphicsSceneHoverEvent*) {
    hovering_ = false;
    update();
}

void ClearFiltersButton::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    event->setAccepted(event->button() == Qt::LeftButton);
}

void ClearFiltersButton::mouseReleaseEvent(QGraphicsSceneMouseEvent* event) {
    if (boundingRect().contains(event->pos()) && action_) {
        action_();
    }
}

QAccessible::State ClearFiltersButton::accessibleState() const {
    QAccessible::State state;
    state.hotTracked = hovering_;
    return state;
}

QStringList ClearFiltersButton::accessibleActions() const {
    return {QAccessibleActionInterface::pressAction()};
}

void ClearFiltersButton::doAccessibleAction(const QString& name) {
    if (name == QAccessibleActionInterface::pressAction() && action_) {
        action_();
    }
}

} // namespace ostrel
