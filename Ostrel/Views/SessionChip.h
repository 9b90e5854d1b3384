#pragma once

#include "Ostrel/Views/AccessibleSection.h"
#include "Ostrel/Views/ViewContext.h"
#include "OstrelCore/Display/MotionAnimator.h"
#include "OstrelCore/Shelf/ShelfGroups.h"

#include <QGraphicsObject>

#include <memory>
#include <optional>

namespace ostrel {

class TipAnchor;
struct TipFit;
struct MenuEntry;

// The head of a session in the stacks layouts: the fold chevron and the session's name (a click
// folds or unfolds its decks), the item count while folded, the context cut in the middle, the
// start time never cut, and how many items are new. Assistive technology reads it as the name's
// button, "Expanded" or "Collapsed", with the other lines as its description.
class SessionChip final : public QGraphicsObject, public AccessibleSection {
    Q_OBJECT
public:
    static constexpr double stripWidth = 100;

    SessionChip(const ViewContext& context, QGraphicsItem* parent = nullptr);
    ~SessionChip() override;

    // A change of `folded` turns the chevron along `curve`.
    void set(const SessionGroup& group, bool folded, double width,
             const Motion::Curve& curve = Motion::Curve::none());
    const SessionGroup& group() const { return group_; }
    bool isFolded() const { return folded_; }

    // The lines as drawn, top to bottom (the name first).
    QStringList lines() const;
    // The name button: chevron and name.
    QRectF nameRect() const;
    static QList<MenuEntry> menu(ShelfModel& model, const SessionGroup& group, bool folded);
    // The chip's height for a group, without building it.
    static double height(const ViewContext& context, const SessionGroup& group, bool folded);

    QString accessibleName() const override;
    QString accessibleDescription() const override;

    QRectF boundingRect() const override { return QRectF(0, 0, width_, height_); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

protected:
    void hoverMoveEvent(QGraphicsSceneHoverEvent* event) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent*) override;
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;
    void contextMenuEvent(QGraphicsSceneContextMenuEvent* event) override;
    void toggleSection() override;

private:
    struct Layout;
    Layout layout() const;
    void frame();

    ViewContext context_;
    SessionGroup group_;
    bool placed_ = false;
    // 1 while open (the chevron points down), 0 while folded.
    Motion::Animated open_{1};
    MainClock::Handle next_;
    double width_ = 0;
    double height_ = 0;
    std::shared_ptr<TipFit> nameFit_;
    std::shared_ptr<TipFit> contextFit_;
    std::shared_ptr<TipAnchor> anchor_;
};

} // namespace ostrel
