#include "Ostrel/Views/ClearFiltersButton.h"

#include "OstrelCore/Display/ShelfStyle.h"

#include <QFontMetricsF>
#include <QPainter>

#include <cmath>

namespace ostrel {

namespace {

constexpr double padding = 10;
constexpr double height = 22;

const QString title = QStringLiteral("Clear Filters");

} // namespace

ClearFiltersButton::ClearFiltersButton(std::function<void()> action, QGraphicsItem* parent)
    : PressableItem(std::move(action), parent) {}

QSizeF ClearFiltersButton::size() {
    return QSizeF(std::ceil(QFontMetricsF(ShelfStyle::headerFont()).horizontalAdvance(title)) +
                      2 * padding,
                  height);
}

void ClearFiltersButton::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF r = boundingRect();
    painter->setPen(Qt::NoPen);
    painter->setBrush(ShelfStyle::chipStroke(isHovering()));
    painter->drawRoundedRect(r, ShelfStyle::chipCorner, ShelfStyle::chipCorner);
    painter->setFont(ShelfStyle::headerFont());
    painter->setPen(ShelfStyle::chipFill());
    painter->drawText(r, Qt::AlignCenter, title);
}

} // namespace ostrel
