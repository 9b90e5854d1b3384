#pragma once

#include "Ostrel/Surface/DrawerContentItem.h"
#include "Ostrel/Views/AccessibleItem.h"
#include "Ostrel/Views/DrawerContentLayout.h"
#include "Ostrel/Views/EdgeColumnView.h"
#include "Ostrel/Views/SessionRailView.h"
#include "Ostrel/Views/ShelfHeader.h"
#include "Ostrel/Views/TurnStacksView.h"
#include "Ostrel/Views/ViewContext.h"
#include "OstrelCore/Display/MotionAnimator.h"
#include "OstrelCore/Display/ShelfLayoutKind.h"

#include <QGraphicsObject>
#include <QPointer>

#include <map>
#include <optional>

namespace ostrel {

class ClearFiltersButton;
class UndoButton;

// The undo toast after a hide or a delete: the action's message, cut in the middle when it does
// not fit, and an "Undo" button, in a grey capsule at most 320 points wide.
class HideToast final : public QGraphicsObject, public AccessibleItem {
    Q_OBJECT
public:
    explicit HideToast(const ViewContext& context, QGraphicsItem* parent = nullptr);

    // Places the toast in a drawer of `drawer` size, at its bottom or (`onTop`) its top.
    void place(QSizeF drawer, bool onTop);
    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), size_); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

    QString text() const;
    UndoButton* undoButton() const { return undo_; }
    // In the toast's coordinates.
    QRectF undoRect() const;
    bool undoHovered() const;
    // The width the toast wants for its whole message.
    static double wantedWidth(const QString& message);

    QAccessible::Role accessibleRole() const override { return QAccessible::AlertMessage; }
    // The whole message.
    QString accessibleName() const override;

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;

private:
    ViewContext context_;
    QSizeF size_;
    UndoButton* undo_;
};

// What an empty drawer says: that nothing has arrived yet, or that the filters hide everything,
// with a "Clear Filters" button then.
class EmptyShelf final : public QGraphicsObject, public AccessibleItem {
    Q_OBJECT
public:
    explicit EmptyShelf(const ViewContext& context, QGraphicsItem* parent = nullptr);

    void setSize(QSizeF size);
    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), size_); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

    QString text() const;
    bool offersClear() const;
    QRectF textRect() const;
    // None when the button is not offered.
    std::optional<QRectF> clearRect() const;
    ClearFiltersButton* clearButton() const { return clear_; }

    QAccessible::Role accessibleRole() const override { return QAccessible::StaticText; }
    QString accessibleName() const override { return text(); }

private:
    struct Stack {
        QRectF text;
        std::optional<QRectF> button;
    };
    Stack stack() const;
    void placeButton();

    ViewContext context_;
    QSizeF size_;
    ClearFiltersButton* clear_;
};

// What the open drawer holds: the header band, the layout of its kind (or the empty state), and
// the undo toast in the message band, in the layout of its kind: the rail, the edge column, or
// the turn stacks along a horizontal or a vertical strip.
class DrawerContent final : public DrawerContentItem {
    Q_OBJECT
public:
    struct Frame {
        QSizeF size;
        // Height of the header band; 0: no band (the side pills).
        double band = 0;
        // Room above the band (the bottom pill's 8 points).
        double bandTop = 0;
        // Room kept for the undo toast: 40 while an undo is pending, else 0.
        double message = 0;
        bool messageOnTop = false;
    };

    DrawerContent(const ViewContext& context, ShelfLayoutKind kind,
                  QGraphicsItem* parent = nullptr);

    // The shelf view's hook: a drawer content for its display, built on `context`.
    static std::function<DrawerContentItem*(const DrawerContentPlan&)>
    factory(const ViewContext& context);

    // As the shelf view lays the drawer out; a new layout kind replaces the content.
    void setPlan(const DrawerContentPlan& plan) override;
    void setFrame(const Frame& frame);
    const Frame& frame() const { return frame_; }
    ShelfLayoutKind kind() const { return kind_; }
    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), frame_.size); }
    void paint(QPainter*, const QStyleOptionGraphicsItem*, QWidget*) override {}

    // The message room a drawer keeps for the model's state.
    static double messageRoom(const ShelfModel& model);

    const DrawerContentLayout& layout() const { return layout_; }
    ShelfHeader* header() const { return header_; }
    // The small header an empty side-pill drawer shows above its text.
    ShelfHeader* emptyHeader() const { return emptyHeader_; }
    SessionRailView* rail() const { return qobject_cast<SessionRailView*>(body_); }
    EdgeColumnView* column() const { return qobject_cast<EdgeColumnView*>(body_); }
    TurnStacksView* stacks() const { return qobject_cast<TurnStacksView*>(body_); }
    EmptyShelf* empty() const { return empty_; }
    HideToast* toast() const { return toast_; }

private:
    void sync();
    QGraphicsObject* makeBody();
    // Fades a layout or an empty state out and deletes it then; it takes no more input.
    void leave(QGraphicsObject* item, const Motion::Curve& curve);

    ViewContext context_;
    ShelfLayoutKind kind_;
    Frame frame_;
    DrawerContentLayout layout_;
    ShelfHeader* header_ = nullptr;
    QPointer<ShelfHeader> emptyHeader_;
    // The layout of `kind_` while there are groups.
    QPointer<QGraphicsObject> body_;
    // Layouts fading out, by kind: one that is asked for again comes back from where it is.
    std::map<ShelfLayoutKind, QPointer<QGraphicsObject>> leaving_;
    // How the next content built fades in after a change of layout kind; none: as groups come
    // and go.
    std::optional<Motion::Curve> crossFade_;
    QPointer<EmptyShelf> empty_;
    HideToast* toast_;
};

} // namespace ostrel
