#include "Ostrel/Views/UndoButton.h"

#include "OstrelCore/Display/ShelfStyle.h"

#include <QFontMetricsF>
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
    : PressableItem(std::move(action), parent) {}

QSizeF UndoButton::size() {
    return QSizeF(QFontMetricsF(font()).horizontalAdvance(QStringLiteral("Undo")) + 2 * padding,
                  height);
}

void UndoButton::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF r = boundingRect();
    if (isHovering()) {
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

} // namespace ostrel
