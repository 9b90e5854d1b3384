#pragma once

#include "Ostrel/Views/AccessibleSection.h"
#include "Ostrel/Views/ScrollArea.h"
#include "Ostrel/Views/ThumbnailView.h"
#include "Ostrel/Views/TurnGridLayout.h"
#include "Ostrel/Views/ViewContext.h"
#include "OstrelCore/Display/MotionAnimator.h"
#include "OstrelCore/Shelf/CollapsedSections.h"
#include "OstrelCore/Shelf/ShelfGroups.h"

#include <QGraphicsObject>
#include <QHash>
#include <QPointer>

#include <memory>

namespace ostrel {

class TipAnchor;
struct TipFit;
struct MenuEntry;

// The fold chevron of a turn caption or a session chip: pointing right when folded, down when
// open.
namespace DisclosureChevron {
inline constexpr double width = 10;
void paint(QPainter* painter, QPointF center, bool folded, bool hovering);
// On its way between the two: `open` 0 points right, 1 down.
void paintTurning(QPainter* painter, QPointF center, double open, bool hovering);
} // namespace DisclosureChevron

// The line above a turn's cards: the fold chevron and the prompt, the item count and unread dot
// while folded, and a hairline to the right edge. A click folds or unfolds the turn. Assistive
// technology reads it as a button: the caption and the item count, "Expanded" or "Collapsed".
class TurnCaption final : public QGraphicsObject, public AccessibleSection {
    Q_OBJECT
public:
    TurnCaption(const ViewContext& context, QGraphicsItem* parent);
    ~TurnCaption() override;

    // A change of `folded` turns the chevron and fades the count along `curve`.
    void set(const Turn& turn, bool folded, double width, double height,
             const Motion::Curve& curve = Motion::Curve::none());
    const Turn& turn() const { return turn_; }
    bool isFolded() const { return folded_; }
    bool isHovered() const { return hovering_; }
    // Whether an item of the turn shows a dot (the caption draws it while folded).
    bool hasDot() const { return dot_; }
    bool textCut() const;
    // The clickable label: chevron, text, and the count and dot while folded.
    QRectF buttonRect() const;
    const std::shared_ptr<TipAnchor>& anchor() const { return anchor_; }

    QRectF boundingRect() const override { return QRectF(0, 0, width_, height_); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

    static QList<MenuEntry> menu(ShelfModel& model, const Turn& turn, bool folded);
    static double captionHeight();

    // The caption, ", ", the number of items and " items".
    QString accessibleName() const override;
    // What a press does: "Collapses the section" or "Expands the section".
    QString accessibleDescription() const override;

protected:
    void hoverMoveEvent(QGraphicsSceneHoverEvent* event) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent*) override;
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;
    void contextMenuEvent(QGraphicsSceneContextMenuEvent* event) override;
    void toggleSection() override;

private:
    struct Parts;
    Parts parts() const;
    void frame();

    ViewContext context_;
    Turn turn_;
    bool placed_ = false;
    // 1 while open (the chevron points down), 0 while folded; the count shows as 1 - this.
    Motion::Animated open_{1};
    MainClock::Handle next_;
    bool dot_ = false;
    double width_ = 0;
    double height_ = 0;
    std::shared_ptr<TipFit> fit_;
    std::shared_ptr<TipAnchor> anchor_;
};

// The turns of one session, each a caption and a grid of cards, in a scroll area held at its top
// until the user scrolls or the selection moves below. Only the captions and cards that intersect
// the viewport exist: a card is built when it scrolls in (its picture loads and its visibility
// counts toward seen from then on) and deleted when it scrolls out.
class TurnGrid final : public QGraphicsObject {
    Q_OBJECT
public:
    // `columns` 0: as many `thumb`-wide columns as fit.
    TurnGrid(const ViewContext& context, QString sessionID, QSizeF thumb, qsizetype columns,
             QGraphicsItem* parent = nullptr);
    ~TurnGrid() override;

    const QString& sessionID() const { return sessionID_; }
    void setSize(QSizeF size);
    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), size_); }
    void paint(QPainter*, const QStyleOptionGraphicsItem*, QWidget*) override {}

    ScrollArea* scrollArea() const { return scroll_; }
    const TurnGridLayout& layout() const { return layout_; }
    const QHash<QString, TurnCaption*>& captions() const { return captions_; }
    const QHash<QString, ThumbnailView*>& cards() const { return cards_; }
    // Builds and places what the viewport shows, from the model.
    void sync();

private:
    // On the open display, when the model changed what the grid shows, what stays glides to
    // its new place, what comes drops in and what goes fades out, along the model's curve (the
    // rows' spring when it names none).
    void syncWith(const Motion::Curve& curve);
    // Fades a card or caption out (rising as it goes when `rises`) and deletes it then.
    void leave(QGraphicsObject* item, bool rises, const Motion::Curve& curve);
    void selectionChanged();
    void background(QPointF contentPoint);
    const SessionGroup* group() const;
    ThumbnailView* makeCard(const ShelfItem& item);
    // `itemChanged` false: the card shows the very item already, only its options may change.
    void updateCard(ThumbnailView* card, const ShelfItem& item, bool itemChanged);

    ViewContext context_;
    QString sessionID_;
    QSizeF thumb_;
    qsizetype columns_;
    QSizeF size_;
    bool syncing_ = false;
    ScrollArea* scroll_;
    QGraphicsObject* backdrop_;
    TurnGridLayout layout_;
    // The turns' sizes and folds the layout was made from, and at what width.
    QList<TurnGridLayout::Section> sections_;
    double laidOutWidth_ = -1;
    QHash<QString, TurnCaption*> captions_;
    QHash<QString, ThumbnailView*> cards_;
    // Captions and cards fading out, by turn and item id; one needed again is replaced by a new
    // one that starts from where the old one had faded to.
    QHash<QString, QPointer<QGraphicsObject>> leavingCaptions_;
    QHash<QString, QPointer<QGraphicsObject>> leavingCards_;
    // What the grid showed before the last change, to glide newly built rows from there.
    SessionGroup shownGroup_;
    TurnGridLayout shownLayout_;
    CollapsedSections shownCollapsed_;
    bool filled_ = false;
    // Drops what an animated change left outside the viewport once it has settled.
    MainClock::Handle settle_;
};

} // namespace ostrel
