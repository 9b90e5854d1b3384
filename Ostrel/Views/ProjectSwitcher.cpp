#include "Ostrel/Views/ProjectSwitcher.h"

#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Views/DrawerSymbols.h"
#include "Ostrel/Views/MenuPress.h"
#include "Ostrel/Views/ShelfHeaderLayout.h"
#include "Ostrel/Views/ShelfTips.h"
#include "Ostrel/Views/Symbols.h"
#include "OstrelCore/Display/ShelfStyle.h"

#include <QAccessibleActionInterface>
#include <QFontMetricsF>
#include <QPainter>
#include <QPointer>

namespace ostrel {

ProjectSwitcher::ProjectSwitcher(const ViewContext& context, QGraphicsItem* parent)
    : QGraphicsObject(parent), context_(context),
      press_(new MenuPress([this](QWidget* view) { open(view); }, this)) {
    DrawerSymbols::ensure();
    setAcceptHoverEvents(true);
    setAcceptedMouseButtons(Qt::NoButton);
}

void ProjectSwitcher::setFrame(QSizeF size, double textWidth) {
    if (size != size_) {
        prepareGeometryChange();
        size_ = size;
        press_->setSize(size);
    }
    textWidth_ = textWidth;
    update();
}

QString ProjectSwitcher::text() const {
    if (!context_.model) {
        return {};
    }
    return TipText::line(context_.model->projectLabel(), ShelfStyle::headerFont(), textWidth_,
                         Qt::ElideRight);
}

void ProjectSwitcher::trigger() {
    open(nullptr);
}

void ProjectSwitcher::open(QWidget* pressView) {
    if (!context_.model) {
        return;
    }
    const QPointer<ProjectSwitcher> self(this);
    context_.model->showProjectMenu(pressView);
    if (self) {
        hovering_ = false;
        update();
    }
}

void ProjectSwitcher::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    if (!context_.model) {
        return;
    }
    painter->setRenderHint(QPainter::Antialiasing);
    const QFontMetricsF header(ShelfStyle::headerFont());
    const double midY = size_.height() / 2;
    QColor color(Qt::white);
    color.setAlphaF(hovering_ ? 0.9f : 0.75f);
    painter->setFont(ShelfStyle::headerFont());
    painter->setPen(color);
    painter->drawText(QPointF(0, midY - header.height() / 2 + header.ascent()), text());
    if (size_.width() > 0) {
        Symbols::paint(*painter, QStringLiteral("chevron.down"),
                       QPointF(size_.width() - ShelfHeaderLayout::chevronWidth / 2, midY), 8,
                       ShelfStyle::secondaryText());
    }
}

void ProjectSwitcher::hoverEnterEvent(QGraphicsSceneHoverEvent*) {
    hovering_ = true;
    update();
}

void ProjectSwitcher::hoverMoveEvent(QGraphicsSceneHoverEvent*) {
    if (!hovering_) {
        hovering_ = true;
        update();
    }
}

void ProjectSwitcher::hoverLeaveEvent(QGraphicsSceneHoverEvent*) {
    hovering_ = false;
    update();
}

QString ProjectSwitcher::accessibleName() const {
    return QStringLiteral("Project: ") +
           (context_.model ? context_.model->projectLabel() : QStringLiteral("All projects"));
}

QAccessible::State ProjectSwitcher::accessibleState() const {
    QAccessible::State state;
    state.hasPopup = true;
    state.hotTracked = hovering_;
    return state;
}

QStringList ProjectSwitcher::accessibleActions() const {
    return {QAccessibleActionInterface::pressAction()};
}

void ProjectSwitcher::doAccessibleAction(const QString& name) {
    if (name == QAccessibleActionInterface::pressAction()) {
        trigger();
    }
}

} // namespace ostrel
