#pragma once

#include "Ostrel/Views/AccessibleItem.h"
#include "Ostrel/Views/ScrollArea.h"
#include "Ostrel/Views/SidebarLayout.h"
#include "Ostrel/Views/ViewContext.h"
#include "OstrelCore/Shelf/ShelfGroups.h"

#include <QGraphicsObject>
#include <QHash>

#include <memory>
#include <optional>

namespace ostrel {

class TipAnchor;
struct TipFit;
struct MenuEntry;

// One session in the sidebar: its name with an unread badge, and a line of context and start
// time. The name is cut at the tail, the context in the middle, the time never. Assistive
// technology reads it as one list item saying all of that.
class SessionRow final : public QGraphicsObject, public AccessibleItem {
    Q_OBJECT
public:
    SessionRow(const ViewContext& context, QGraphicsItem* parent);
    ~SessionRow() override;

    void set(const SessionGroup& group, qint64 unread, bool selected, double width, double height);
    const SessionGroup& group() const { return group_; }
    bool isSelected() const { return selected_; }
    bool isHovered() const { return hovering_; }
    qint64 unread() const { return unread_; }

    QRectF boundingRect() const override { return QRectF(0, 0, width_, height_); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

    // The line under the name as drawn: the context as cut, the separator and the time.
    QString detailLine() const;
    // The name's and the context's truncation, as the last layout measured them.
    bool nameCut() const;
    bool contextCut() const;
    const std::shared_ptr<TipAnchor>& anchor() const { return anchor_; }

    // The row's context menu.
    static QList<MenuEntry> menu(ShelfModel& model, const SessionGroup& group);
    // The height of a row in the shelf's fonts.
    static double rowHeight();

    QAccessible::Role accessibleRole() const override { return QAccessible::ListItem; }
    // The name, the unread count, the context and the start time, whole.
    QString accessibleName() const override;
    QAccessible::State accessibleState() const override;
    QStringList accessibleActions() const override;
    void doAccessibleAction(const QString& name) override;

protected:
    void hoverEnterEvent(QGraphicsSceneHoverEvent*) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent*) override;
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;
    void contextMenuEvent(QGraphicsSceneContextMenuEvent* event) override;

private:
    struct Lines;
    Lines lines() const;

    ViewContext context_;
    SessionGroup group_;
    qint64 unread_ = 0;
    bool selected_ = false;
    bool hovering_ = false;
    double width_ = 0;
    double height_ = 0;
    std::shared_ptr<TipFit> nameFit_;
    std::shared_ptr<TipFit> contextFit_;
    std::shared_ptr<TipAnchor> anchor_;
};

// The scrolling list of sessions, one row per group of the model in its order. Only rows that
// intersect the viewport exist; scrolling or a change of the model places them again. Assistive
// technology reads it as a list of those rows.
class SessionSidebar final : public QGraphicsObject, public AccessibleItem {
    Q_OBJECT
public:
    SessionSidebar(const ViewContext& context, QGraphicsItem* parent = nullptr);

    void setSize(QSizeF size);
    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), size_); }
    void paint(QPainter*, const QStyleOptionGraphicsItem*, QWidget*) override {}

    ScrollArea* scrollArea() const { return scroll_; }
    const SidebarLayout& layout() const { return layout_; }
    // The rows that exist now, by session id.
    const QHash<QString, SessionRow*>& rows() const { return rows_; }
    // Places the rows again from the model.
    void sync();

    QAccessible::Role accessibleRole() const override { return QAccessible::List; }
    QString accessibleName() const override { return QStringLiteral("Sessions"); }

private:
    ViewContext context_;
    QSizeF size_;
    bool syncing_ = false;
    ScrollArea* scroll_;
    SidebarLayout layout_;
    QHash<QString, SessionRow*> rows_;
};

} // namespace ostrel
