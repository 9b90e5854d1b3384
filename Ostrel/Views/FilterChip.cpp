#include "Ostrel/Views/FilterChip.h"

#include "Ostrel/Views/DrawerSymbols.h"
#include "Ostrel/Views/ShelfHeaderLayout.h"
#include "Ostrel/Views/Symbols.h"
#include "OstrelCore/Display/ShelfStyle.h"

#include <QFontMetricsF>
#include <QPainter>

namespace ostrel {

FilterChip::FilterChip(QString label, std::function<void()> clear, QGraphicsItem* parent)
    : PressableItem(std::move(clear), parent), label_(std::move(label)) {
    DrawerSymbols::ensure();
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
    painter->setBrush(ShelfStyle::chipStroke(isHovering()));
    painter->drawRoundedRect(r, ShelfStyle::chipCorner, ShelfStyle::chipCorner);
    painter->setFont(ShelfStyle::headerFont());
    painter->setPen(ShelfStyle::chipFill());
    painter->drawText(
        QPointF(ShelfHeaderLayout::chipPadding, midY - header.height() / 2 + header.ascent()),
        label_);
    QColor cross(Qt::white);
    cross.setAlphaF(isHovering() ? 0.9f : 0.55f);
    Symbols::paint(
        *painter, QStringLiteral("xmark"),
        QPointF(r.width() - ShelfHeaderLayout::chipPadding - ShelfHeaderLayout::xmarkWidth / 2,
                midY),
        7, cross);
}

QString FilterChip::accessibleName() const {
    return label_ + QStringLiteral(", clear filters");
}

} // namespace ostrel
