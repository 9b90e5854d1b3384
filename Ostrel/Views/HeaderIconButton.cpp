#include "Ostrel/Views/HeaderIconButton.h"

#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Views/DrawerSymbols.h"
#include "Ostrel/Views/MenuPress.h"
#include "Ostrel/Views/Symbols.h"
#include "OstrelCore/Display/ShelfStyle.h"

#include <QAccessibleActionInterface>
#include <QPainter>
#include <QPointer>

namespace ostrel {

namespace {

QColor white(double opacity) {
    QColor c(Qt::white);
    c.setAlphaF(float(opacity));
    return c;
}

} // namespace

HeaderIconButton::HeaderIconButton(QString symbol, std::optional<QColor> tint, QString label,
                                   Menu menu, QGraphicsItem* parent)
    : QGraphicsObject(parent), symbol_(std::move(symbol)), tint_(std::move(tint)),
      label_(std::move(label)), menu_(std::move(menu)),
      press_(new MenuPress([this](QWidget* view) { open(view); }, this)) {
    DrawerSymbols::ensure();
    setAcceptHoverEvents(true);
    setAcceptedMouseButtons(Qt::NoButton);
    press_->setSize(boundingRect().size());
}

void HeaderIconButton::setLook(const QString& symbol, const std::optional<QColor>& tint,
                               const QString& label) {
    const bool renamed = label != label_;
    symbol_ = symbol;
    tint_ = tint;
    label_ = label;
    update();
    if (renamed) {
        notify(this, QAccessible::NameChanged);
    }
}

void HeaderIconButton::trigger() {
    open(nullptr);
}

void HeaderIconButton::open(QWidget* pressView) {
    if (!menu_) {
        return;
    }
    const QPointer<HeaderIconButton> self(this);
    const Menu menu = menu_;
    menu(pressView);
    // The pointer may have left while the menu was up; the next move over the button lights it.
    if (self) {
        hovering_ = false;
        update();
    }
}

void HeaderIconButton::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF frame = boundingRect();
    if (hovering_) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(white(0.1));
        painter->drawEllipse(QRectF(frame.center() - QPointF(12, 12), QSizeF(24, 24)));
    }
    const QColor color = tint_ ? *tint_ : white(hovering_ ? 0.9 : 0.55);
    // A 14-point symbol: the circle of the pictures fills about 17 points of its frame.
    Symbols::paint(*painter, symbol_, frame.center(), 17, color);
}

void HeaderIconButton::hoverEnterEvent(QGraphicsSceneHoverEvent*) {
    hovering_ = true;
    update();
}

void HeaderIconButton::hoverMoveEvent(QGraphicsSceneHoverEvent*) {
    if (!hovering_) {
        hovering_ = true;
        update();
    }
}

void HeaderIconButton::hoverLeaveEvent(QGraphicsSceneHoverEvent*) {
    hovering_ = false;
    update();
}

QAccessible::State HeaderIconButton::accessibleState() const {
    QAccessible::State state;
    state.hasPopup = true;
    state.hotTracked = hovering_;
    return state;
}

QStringList HeaderIconButton::accessibleActions() const {
    return {QAccessibleActionInterface::pressAction()};
}

void HeaderIconButton::doAccessibleAction(const QString& name) {
    if (name == QAccessibleActionInterface::pressAction()) {
        trigger();
    }
}

// --- FilterButton

FilterButton::FilterButton(const ViewContext& context, QGraphicsItem* parent)
    : HeaderIconButton(
          QStringLiteral("line.3.horizontal.decrease.circle"), std::nullopt,
          QStringLiteral("Filters"),
          [model = QPointer<ShelfModel>(context.model)](QWidget* view) {
              if (model) {
                  model->showKindMenu(view);
              }
          },
          parent),
      context_(context) {
    refresh();
}

void FilterButton::refresh() {
    if (!context_.model || !context_.model->filter().isFiltering()) {
        setLook(QStringLiteral("line.3.horizontal.decrease.circle"), std::nullopt,
                QStringLiteral("Filters"));
        return;
    }
    setLook(QStringLiteral("line.3.horizontal.decrease.circle.fill"), ShelfStyle::accent(),
            QStringLiteral("Filters, %1 on").arg(context_.model->filter().activeCount()));
}

// --- HeaderMenu

HeaderMenu::HeaderMenu(const ViewContext& context, QGraphicsItem* parent)
    : HeaderIconButton(
          QStringLiteral("ellipsis.circle"), std::nullopt, QStringLiteral("Ostrel menu"),
          [model = QPointer<ShelfModel>(context.model)](QWidget* view) {
              if (model) {
                  model->showShelfMenu(view);
              }
          },
          parent) {}

} // namespace ostrel
