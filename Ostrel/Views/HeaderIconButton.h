#pragma once

#include "Ostrel/Views/AccessibleItem.h"
#include "Ostrel/Views/ViewContext.h"

#include <QColor>
#include <QGraphicsObject>

#include <functional>
#include <optional>

class QWidget;

namespace ostrel {

class MenuPress;

// A round icon button of the header that opens a menu: the symbol at 0.55 white, or 0.9 white on
// a faint circle while hovered, or in its tint. A press opens the menu under the button at once;
// the button's own action (keyboard, assistive technology) opens it where the current event is.
class HeaderIconButton : public QGraphicsObject, public AccessibleItem {
    Q_OBJECT
public:
    static constexpr double side = 28;

    // `menu` opens the menu from a pressed view, or from none.
    using Menu = std::function<void(QWidget* pressView)>;

    HeaderIconButton(QString symbol, std::optional<QColor> tint, QString label, Menu menu,
                     QGraphicsItem* parent);

    const QString& symbol() const { return symbol_; }
    const std::optional<QColor>& tint() const { return tint_; }
    const QString& label() const { return label_; }
    bool isHovering() const { return hovering_; }
    MenuPress* press() const { return press_; }
    // The button's action: the menu without a view.
    void trigger();

    QRectF boundingRect() const override { return QRectF(0, 0, side, side); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

    QAccessible::Role accessibleRole() const override { return QAccessible::ButtonMenu; }
    QString accessibleName() const override { return label_; }
    QAccessible::State accessibleState() const override;
    QStringList accessibleActions() const override;
    void doAccessibleAction(const QString& name) override;

protected:
    void setLook(const QString& symbol, const std::optional<QColor>& tint, const QString& label);
    void hoverEnterEvent(QGraphicsSceneHoverEvent*) override;
    void hoverMoveEvent(QGraphicsSceneHoverEvent*) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent*) override;

private:
    void open(QWidget* pressView);

    QString symbol_;
    std::optional<QColor> tint_;
    QString label_;
    Menu menu_;
    bool hovering_ = false;
    MenuPress* press_;
};

// The kind filter's button: the outline symbol, or while filtering the filled one in the accent
// colour, labelled with the number of filters on.
class FilterButton final : public HeaderIconButton {
    Q_OBJECT
public:
    FilterButton(const ViewContext& context, QGraphicsItem* parent);
    // Takes the model's filter.
    void refresh();

private:
    ViewContext context_;
};

// The shelf menu's button: "Ostrel menu".
class HeaderMenu final : public HeaderIconButton {
    Q_OBJECT
public:
    HeaderMenu(const ViewContext& context, QGraphicsItem* parent);
};

} // namespace ostrel
