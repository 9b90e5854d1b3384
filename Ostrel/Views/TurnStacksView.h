#pragma once

#include "Ostrel/Views/DragScroller.h"
#include "Ostrel/Views/ViewContext.h"
#include "OstrelCore/Display/MotionAnimator.h"
#include "OstrelCore/Shelf/CollapsedSections.h"
#include "OstrelCore/Shelf/ShelfGroups.h"

#include <QGraphicsObject>
#include <QHash>
#include <QPointer>
#include <QSet>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

namespace ostrel {

class DeckView;
class OpacityFade;
class SessionChip;
class ShelfHeader;

// The stacks layouts: every session's chip followed by one card deck per turn along one scrolling
// strip, left to right (`stacks`), or top to bottom under a compact header (`sideStacks`).
// Sessions after the first are set off by a hairline. Every chip and deck has its place along the
// strip, but only those in view, or within half a view of it, are built: a strip of thousands of
// turns costs what the few on screen cost, and a fanned deck of thousands builds only its cards
// there. The layout tells the model which items are on screen (region "stacks"): the item of a
// visible single-item deck, every card of a fanned deck that lies in view, the top card of a
// visible closed one. It scrolls a newly selected item into view (its deck is built when it comes
// in), and an opened deck forward, once the deck has spread to its full length.
class TurnStacksView final : public QGraphicsObject {
    Q_OBJECT
public:
    static constexpr double spacing = 14;
    static constexpr double separatorPadding = 4;
    // From a later session's chip back to the hairline before it.
    static constexpr double lineLead = spacing + separatorPadding + 1;
    static constexpr double revealMargin = 18;
    static constexpr double headerLeading = 14;
    static inline const QString region = QStringLiteral("stacks");

    TurnStacksView(const ViewContext& context, bool vertical, QGraphicsItem* parent = nullptr);
    ~TurnStacksView() override;

    void setSize(QSizeF size);
    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), size_); }
    void paint(QPainter*, const QStyleOptionGraphicsItem*, QWidget*) override {}

    bool isVertical() const { return vertical_; }
    ShelfHeader* header() const { return header_; }
    DragScroller* scroller() const { return scroller_; }
    const QHash<QString, SessionChip*>& chips() const { return chips_; }
    const QHash<QString, DeckView*>& decks() const { return decks_; }
    // Each deck's frame in the strip's content coordinates, by turn id, built or not.
    const QHash<QString, QRectF>& frames() const { return frames_; }
    // The hairlines between sessions as laid out, in content coordinates.
    const QList<QRectF>& separators() const { return separators_; }
    const QSet<QString>& fanned() const { return fanned_; }
    // What the last report told the model.
    const QSet<QString>& reported() const { return reported_; }

private:
    class Hairline;

    // A chip or a deck in strip order, with its frame in content coordinates.
    struct Slot {
        QString id;
        qsizetype group = 0;
        // -1 for the group's chip.
        qsizetype turn = -1;
        QRectF frame;
    };

    void rebuild();
    void relayout();
    // Puts a chip or deck at its place: gliding there along the change being laid out, else
    // following whatever glide still runs.
    void place(QGraphicsObject* item, QPointF at);
    // Gives a chip the hairline before it when `lined` (every session but the first), fading it
    // in or out along `curve` when that changes.
    void lead(SessionChip* chip, bool lined, const Motion::Curve& curve);
    // The first chip or deck that `stays` keeps after the one of `id` (its chip when `turn` is
    // negative, else its deck) in the strip as last laid out.
    std::optional<Slot> follower(const QString& id, qsizetype turn,
                                 const std::function<bool(const Slot&)>& stays) const;
    // Whether a slot is not one the change being laid out brings in.
    std::function<bool(const Slot&)> notArriving() const;
    // Fades a chip or deck that comes or goes as one picture, cut off where `next` (the first
    // chip or deck after it that stays) begins as it glides across the place meanwhile.
    OpacityFade* fadeClearOf(QGraphicsObject* item, const std::optional<Slot>& next);
    // Fades a chip or deck out (rising as it goes when `rises`) and deletes it then.
    void leave(QGraphicsObject* item, bool rises, const std::optional<Slot>& next);
    // Builds what lies in the window (the view with its margin) and, after the current event,
    // deletes what left it.
    void materialize();
    void sweep();
    std::pair<double, double> window() const;
    void buildChip(const Slot& slot);
    void buildDeck(const Slot& slot);
    // The slots whose frames reach into [lo, hi) along the axis.
    std::pair<qsizetype, qsizetype> slotsWithin(double lo, double hi) const;
    void reportRegion();
    void framesChanged();
    void revealSelectedItem();
    void revealOpenedDeck();
    double lo(const QRectF& r) const { return vertical_ ? r.top() : r.left(); }
    double hi(const QRectF& r) const { return vertical_ ? r.bottom() : r.right(); }
    bool fullyFanned(const QRectF& frame, qsizetype count, double cardLength) const;

    ViewContext context_;
    bool vertical_;
    QSizeF size_;
    ShelfHeader* header_ = nullptr;
    DragScroller* scroller_;
    QList<QRectF> separators_;
    QHash<QString, SessionChip*> chips_;
    QHash<QString, DeckView*> decks_;
    QHash<QString, QRectF> frames_;
    std::vector<Slot> slots_;
    // Heights of the chips in the vertical strip, by session id, measured at each rebuild.
    QHash<QString, double> chipLengths_;
    // The turns the last rebuild showed, and those it brought that were not shown before.
    QSet<QString> known_;
    QSet<QString> arrivals_;
    QSet<QString> fanned_;
    QSet<QString> reported_;
    std::optional<QString> revealItem_;
    std::optional<QString> revealDeck_;
    MainClock::Handle deckReveal_;
    MainClock::Handle sweep_;
    bool laying_ = false;
    // How the change being laid out moves what it moves: along the model's curve on the open
    // display, not at all otherwise.
    Motion::Curve change_ = Motion::Curve::none();
    // What the last rebuild laid out, to tell a change of the model from a resize.
    QList<SessionGroup> shownGroups_;
    CollapsedSections shownCollapsed_;
    // Chips' frames before the change being laid out, to glide newly built ones from there.
    QHash<QString, QRectF> previousChips_;
    // Decks and chips fading out, by turn and session id; one that comes back turns round.
    QHash<QString, QPointer<DeckView>> leavingDecks_;
    QHash<QString, QPointer<SessionChip>> leavingChips_;
    // Drops what a change carried out of the window once it has settled.
    MainClock::Handle settle_;
    // The first build is done: decks built after it are arrivals.
    bool built_ = false;
};

} // namespace ostrel
