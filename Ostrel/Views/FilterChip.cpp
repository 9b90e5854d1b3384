#include "Ostrel/Views/FilterChip.h"

#include "Ostrel/Views/DrawerSymbols.h"
#include "Ostrel/Views/ShelfHeaderLayout.h"
#include "Ostrel/Views/Symbols.h"
#include "OstrelCore/Display/ShelfStyle.h"

#include <QAccessibleActionInterface>
#include <QFontMetricsF>
#include <QGraphicsSceneMouseEvent>
#include <QPainter>

namespace ostrel {

FilterChip::FilterChip(QString label, std::function<void()> clear, QGraphicsItem* parent)
    : QGraphicsObject(parent), label_(std::move(label)), clear_(std::move(clear)) {
    DrawerSymbols::ensure();
    setAcceptHoverEvents(true);
    setAcceptedMouseButtons(Qt::LeftButton);
}

void FilterChip::setLabel(const QString& label) {
    if (label == label_) {
        return;
    }
    label_ = label;
    update();
    notify(this, QAccessible::NameChanged);
}

void FilterChip::setSize(QSizeF size) {
    if (size != size_) {
        prepareGeometryChange();
        size_ = size;
    }
}

void FilterChip::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    painter->setRenderHint(QPainter::Antialiasing);
    const QFontMetricsF header(ShelfStyle::headerFont());
    const QRectF r = boundingRect();
    const double midY = r.height() / 2;
    painter->setPen(Qt::NoPen);
    painter->setBrush(ShelfStyle::chipStroke(hovering_));
    painter->drawRoundedRect(r, ShelfStyle::chipCorner, ShelfStyle::chipCorner);
    painter->setFont(ShelfStyle::headerFont());
    painter->setPen(ShelfStyle::chipFill());
    painter->drawText(
        QPointF(ShelfHeaderLayout::chipPadding, midY - header.height() / 2 + header.ascent()),
        label_);
    QColor cross(Qt::white);
    cross.setAlphaF(hovering_ ? 0.9f : 0.55f);
    Symbols::paint(
        *painter, QStringLiteral("xmark"),
        QPointF(r.width() - ShelfHeaderLayout::chipPadding - ShelfHeaderLayout::xmarkWidth / 2,
                midY),
        7, cross);
}

QVariant FilterChip::itemChange(GraphicsItemChange change, const QVariant& value) {
    if (change == ItemVisibleHasChanged && !value.toBool()) {
        hovering_ = false;
    }
    return QGraphicsObject::itemChange(change, value);
}

void FilterChip::hoverEnterEvent(QGraphicsSceneHoverEvent*) {
    hovering_ = true;
    update();
}

void FilterChip::hoverLeaveEvent(QGraphicsSceneHoverEvent*) {
    hovering_ = false;
    update();
}

void FilterChip::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    event->setAccepted(event->button() == Qt::LeftButton);
}

void FilterChip::mouseReleaseEvent(QGraphicsSceneMouseEvent* event) {
    if (boundingRect().contains(event->pos()) && clear_) {
        clear_();
    }
}

QString FilterChip::accessibleName() const {
    return label_ + QStringLiteral(", clear filters");
}

QAccessible::State FilterChip::accessibleState() const {
    QAccessible::State state;
    state.hotTracked = hovering_;
    return state;
}

QStringList FilterChip::accessibleActions() const {
    return {QAccessibleActionInterface::pressAction()};
}

void FilterChip::doAccessibleAction(const QString& name) {
    if (name == QAccessibleActionInterface::pressAction() && clear_) {
        clear_();
    }
}

} // namespace ostrel
