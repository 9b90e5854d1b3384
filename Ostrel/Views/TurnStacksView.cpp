#include "Ostrel/Views/TurnStacksView.h"

#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Views/DeckView.h"
#include "Ostrel/Views/OpacityFade.h"
#include "Ostrel/Views/PositionGlide.h"
#include "Ostrel/Views/RasterBands.h"
#include "Ostrel/Views/SessionChip.h"
#include "Ostrel/Views/ShelfHeader.h"
#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Display/Motion.h"
#include "OstrelCore/Display/ShelfMetrics.h"
#include "OstrelCore/Display/ShelfStyle.h"

#include <QPainter>

#include <algorithm>

namespace ostrel {

// The hairline that sets a session off from the one before it, a child of the chip it leads: it
// moves with that chip and nothing else, so it stands where the decks leaving before the chip are
// cut off (fadeClearOf() reads the chip's place too), in every frame however late it is painted.
class TurnStacksView::Hairline final : public QGraphicsObject {
public:
    explicit Hairline(QGraphicsItem* chip) : QGraphicsObject(chip) {
        setAcceptedMouseButtons(Qt::NoButton);
    }
    static Hairline* of(const QGraphicsItem* chip) {
        for (QGraphicsItem* child : chip->childItems()) {
            if (auto* line = dynamic_cast<Hairline*>(child)) {
                return line;
            }
        }
        return nullptr;
    }
    void setRect(const QRectF& rect) {
        if (rect != rect_) {
            prepareGeometryChange();
            rect_ = rect;
        }
    }
    QRectF boundingRect() const override { return rect_; }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override {
        RasterBands::fillRect(*painter, rect_, ShelfStyle::hairline());
    }

private:
    QRectF rect_;
};

TurnStacksView::TurnStacksView(const ViewContext& context, bool vertical, QGraphicsItem* parent)
    : QGraphicsObject(parent), context_(context), vertical_(vertical),
      scroller_(new DragScroller(context, vertical ? Qt::Vertical : Qt::Horizontal, this)) {
    setFlag(ItemHasNoContents);
    if (vertical_) {
        header_ = new ShelfHeader(context_, true, headerLeading, this);
    }
    connect(scroller_, &DragScroller::rangeChanged, this, [this] {
        materialize();
        reportRegion();
    });
    connect(scroller_, &DragScroller::moved, this, &TurnStacksView::materialize);
    connect(scroller_, &DragScroller::tappedGap, this, [this] {
        if (context_.model) {
            context_.model->clearSelection();
        }
    });
    if (ShelfModel* model = context_.model) {
        connect(model, &ShelfModel::groupsChanged, this, &TurnStacksView::rebuild);
        connect(model, &ShelfModel::collapsedChanged, this, &TurnStacksView::rebuild);
        connect(model, &ShelfModel::versionChanged, this, &TurnStacksView::rebuild);
        connect(model, &ShelfModel::selectedItemIDChanged, this, [this] {
            revealItem_ = context_.model->selectedItemID();
            // The selection fans its deck: one not built yet takes its fanned length at once.
            relayout();
            revealSelectedItem();
        });
        connect(model, &ShelfModel::fanChanged, this, [this] {
            revealDeck_ = context_.model->fan().clickedOpen;
            relayout();
        });
    }
    rebuild();
}

TurnStacksView::~TurnStacksView() {
    deckReveal_.cancel();
    sweep_.cancel();
    settle_.cancel();
    // Nothing of this layout stays counted as on screen.
    if (context_.model && !reported_.isEmpty()) {
        context_.model->setRegion({}, region, context_.display);
    }
}

void TurnStacksView::setSize(QSizeF size) {
    prepareGeometryChange();
    size_ = size;
    const double side = ShelfMetrics::drawerPadding;
    QRectF strip;
    if (vertical_) {
        const double top = ShelfMetrics::columnPadding;
        // The header spans the drawer's full width, across the strip's side padding.
        header_->setPos(0, top);
        header_->setSize(QSizeF(size.width(), DisplayLayout::topBand));
        const double stripTop = top + DisplayLayout::topBand + ShelfMetrics::rowSpacing;
        strip = QRectF(side, stripTop, size.width() - 2 * side,
                       size.height() - stripTop - ShelfMetrics::stackPadding);
    } else {
        strip =
            QRectF(side, ShelfMetrics::stackInnerPadding, size.width() - 2 * side,
                   size.height() - ShelfMetrics::stackInnerPadding - ShelfMetrics::stackPadding);
    }
    scroller_->setPos(strip.topLeft());
    scroller_->setSize(strip.size().expandedTo(QSizeF(0, 0)));
    rebuild();
}

void TurnStacksView::place(QGraphicsObject* item, QPointF at) {
    auto* glide = PositionGlide::of(item, context_.clock);
    if (change_.kind() != Motion::Curve::Kind::none) {
        glide->to(at, change_);
    } else {
        glide->follow(at);
    }
}

std::optional<TurnStacksView::Slot>
TurnStacksView::follower(const QString& id, qsizetype turn,
                         const std::function<bool(const Slot&)>& stays) const {
    const auto at = std::find_if(slots_.begin(), slots_.end(), [&](const Slot& slot) {
        return slot.id == id && (slot.turn < 0) == (turn < 0);
    });
    if (at == slots_.end()) {
        return std::nullopt;
    }
    const auto next = std::find_if(at + 1, slots_.end(), stays);
    return next == slots_.end() ? std::nullopt : std::optional<Slot>(*next);
}

std::function<bool(const TurnStacksView::Slot&)> TurnStacksView::notArriving() const {
    // A chip that arrives with its session is where it belongs from the start.
    return [this](const Slot& slot) { return slot.turn < 0 || !arrivals_.contains(slot.id); };
}

OpacityFade* TurnStacksView::fadeClearOf(QGraphicsObject* item, const std::optional<Slot>& next) {
    auto* fade = OpacityFade::of(item, context_.clock);
    // Cards on cards: faded each on its own, the one behind would show through the top card.
    fade->asOneLayer([this, item, next]() -> std::optional<QRectF> {
        if (!next) {
            return std::nullopt;
        }
        const bool chip = next->turn < 0;
        QGraphicsObject* after =
            chip ? static_cast<QGraphicsObject*>(chips_.value(next->id)) : decks_.value(next->id);
        if (!after) {
            return std::nullopt;
        }
        // Half the spacing past where this one ends at rest. A later session's chip carries its
        // hairline before it: the cut keeps clear of the line by its padding, and as both are
        // read from where the chip stands now, no frame shows this one across the line.
        const double gap = (chip ? lineLead + separatorPadding : 0) + spacing / 2;
        const auto along = [this](QPointF p) { return vertical_ ? p.y() : p.x(); };
        const double end = along(after->pos()) - gap - along(item->pos());
        constexpr double far = 1e6;
        return vertical_ ? QRectF(-far, -far, 2 * far, far + end)
                         : QRectF(-far, -far, far + end, 2 * far);
    });
    return fade;
}

void TurnStacksView::lead(SessionChip* chip, bool lined, const Motion::Curve& curve) {
    Hairline* line = Hairline::of(chip);
    if (!line) {
        line = new Hairline(chip);
        line->setOpacity(lined ? 1 : 0);
    }
    line->setRect(vertical_ ? QRectF(0, -lineLead, scroller_->size().width(), 1)
                            : QRectF(-lineLead, 0, 1, DeckView::rowHeight()));
    // A session that becomes the first, or stops being it, fades its line out or in.
    OpacityFade* fade = OpacityFade::of(line, context_.clock);
    if (const double target = lined ? 1 : 0; fade->target() != target) {
        fade->to(target, curve);
    }
}

void TurnStacksView::leave(QGraphicsObject* item, bool rises, const std::optional<Slot>& next) {
    item->setEnabled(false);
    item->setZValue(-1); // under what stays
    QPointer<QGraphicsObject> gone = item;
    fadeClearOf(item, next)->to(0, change_, [gone] {
        if (gone) {
            gone->setVisible(false);
            gone->deleteLater();
        }
    });
    if (rises) {
        PositionGlide::of(item, context_.clock)->lift(Motion::dropIn().offsetY, change_);
    }
}

void TurnStacksView::rebuild() {
    if (!context_.model) {
        return;
    }
    const auto& modelGroups = context_.model->groups();
    // Whoever asks first (a resize, the model's own signals), a change of what the model shows
    // moves along the change's curve where the shelf is open.
    change_ = Motion::Curve::none();
    if (built_ && context_.isOpenHere() &&
        (modelGroups != shownGroups_ || !(context_.model->collapsed() == shownCollapsed_))) {
        change_ = context_.model->animation();
        if (change_.kind() == Motion::Curve::Kind::none) {
            change_ = Motion::rowChange(true);
        }
    }
    const bool animated = change_.kind() != Motion::Curve::Kind::none;
    shownGroups_ = modelGroups;
    shownCollapsed_ = context_.model->collapsed();
    laying_ = true;
    const double chipWidth = vertical_ ? scroller_->size().width() : SessionChip::stripWidth;
    QHash<QString, const SessionGroup*> groups;
    QHash<QString, const Turn*> turns;
    chipLengths_.clear();
    for (const SessionGroup& group : modelGroups) {
        const bool folded = context_.model->collapsed().contains(group.id());
        groups.insert(group.id(), &group);
        if (vertical_) {
            chipLengths_.insert(group.id(), SessionChip::height(context_, group, folded));
        }
        // A folded session's turns are not shown: unfolding it brings them in as arrivals.
        if (!folded) {
            for (const Turn& turn : group.turns) {
                turns.insert(turn.id, &turn);
            }
        }
    }
    // What stays of the strip as last laid out, to cut what leaves off where that begins.
    const auto stays = [&](const Slot& slot) {
        return slot.turn < 0 ? groups.contains(slot.id) : turns.contains(slot.id);
    };
    // What comes back while it fades out turns round where it is.
    const auto revive = [&](auto& leaving, auto& built, const auto& present) {
        for (auto it = leaving.begin(); it != leaving.end();) {
            QGraphicsObject* item = it->data();
            if (!item || !item->isVisible()) {
                it = leaving.erase(it);
            } else if (present.contains(it.key()) && !built.contains(it.key())) {
                item->setEnabled(true);
                item->setZValue(0);
                OpacityFade::of(item, context_.clock)->to(1, change_);
                PositionGlide::of(item, context_.clock)->lift(0, change_);
                built.insert(it.key(), it->data());
                it = leaving.erase(it);
            } else {
                ++it;
            }
        }
    };
    revive(leavingChips_, chips_, groups);
    revive(leavingDecks_, decks_, turns);
    // What is built follows the model; what is gone or folded away goes.
    for (auto it = chips_.begin(); it != chips_.end();) {
        if (const SessionGroup* group = groups.value(it.key())) {
            (*it)->set(*group, context_.model->collapsed().contains(group->id()), chipWidth,
                       change_);
            ++it;
        } else {
            if (animated) {
                leave(*it, false, follower(it.key(), -1, stays));
                leavingChips_.insert(it.key(), *it);
            } else {
                delete *it;
            }
            it = chips_.erase(it);
        }
    }
    for (auto it = decks_.begin(); it != decks_.end();) {
        if (const Turn* turn = turns.value(it.key())) {
            if (!((*it)->turn() == *turn)) {
                (*it)->setTurn(*turn);
            }
            // Its caption's dot and colour follow what the model now counts as new.
            (*it)->update();
            ++it;
        } else {
            fanned_.remove(it.key());
            if (animated) {
                // Gone from the model or folded away, it rises and fades out.
                leave(*it, true, follower(it.key(), 0, stays));
                leavingDecks_.insert(it.key(), *it);
            } else {
                delete *it;
            }
            it = decks_.erase(it);
        }
    }
    // A turn that arrives or unfolds while this drawer is open drops in once built.
    arrivals_.clear();
    QSet<QString> shown;
    for (auto it = turns.cbegin(); it != turns.cend(); ++it) {
        if (built_ && !known_.contains(it.key())) {
            arrivals_.insert(it.key());
        }
        shown.insert(it.key());
    }
    known_ = std::move(shown);
    built_ = true;
    laying_ = false;
    relayout();
    if (animated) {
        settle_.cancel();
        settle_ = context_.clock->after(Motion::settleTime(change_), this, [this] { sweep(); });
    }
    change_ = Motion::Curve::none();
}

void TurnStacksView::relayout() {
    if (!context_.model || laying_) {
        return;
    }
    const double strip = vertical_ ? scroller_->size().width() : 0;
    double pos = ShelfMetrics::hairPadding;
    bool any = false;
    const auto advance = [&](double length) {
        pos += length + spacing;
        any = true;
    };
    QHash<QString, QRectF> frames;
    QList<QRectF> separators;
    std::vector<Slot> order;
    previousChips_.clear();
    if (change_.kind() != Motion::Curve::Kind::none) {
        for (const Slot& slot : slots_) {
            if (slot.turn < 0) {
                previousChips_.insert(slot.id, slot.frame);
            }
        }
    }
    const auto& groups = context_.model->groups();
    for (qsizetype i = 0; i < groups.size(); ++i) {
        const SessionGroup& group = groups[i];
        if (i >= 1) {
            const double length = 2 * separatorPadding + 1;
            separators.append(vertical_
                                  ? QRectF(0, pos + separatorPadding, strip, 1)
                                  : QRectF(pos + separatorPadding, 0, 1, DeckView::rowHeight()));
            advance(length);
        }
        const QRectF chip = vertical_
                                ? QRectF(0, pos, strip, chipLengths_.value(group.id()))
                                : QRectF(pos, 0, SessionChip::stripWidth, DeckView::rowHeight());
        order.push_back({group.id(), i, -1, chip});
        if (SessionChip* built = chips_.value(group.id())) {
            place(built, chip.topLeft());
            lead(built, i >= 1, change_);
        }
        advance(vertical_ ? chip.height() : chip.width());
        if (context_.model->collapsed().contains(group.id())) {
            continue;
        }
        for (qsizetype t = 0; t < group.turns.size(); ++t) {
            const Turn& turn = group.turns[t];
            const QPointF at = vertical_ ? QPointF(0, pos) : QPointF(pos, 0);
            DeckView* deck = decks_.value(turn.id);
            const QSizeF size =
                deck ? deck->frameRect().size()
                     : DeckView::frameSize(turn.items.size(), vertical_,
                                           context_.model->isFanned(turn) ? 1.0 : 0.0);
            if (deck) {
                place(deck, at);
            }
            const QRectF frame(at, size);
            frames.insert(turn.id, frame);
            order.push_back({turn.id, i, t, frame});
            advance(vertical_ ? frame.height() : frame.width());
        }
    }
    const double length = (any ? pos - spacing : pos) + ShelfMetrics::hairPadding;
    separators_ = std::move(separators);
    slots_ = std::move(order);
    scroller_->setContentLength(length);
    materialize();
    const bool changed = frames != frames_;
    frames_ = std::move(frames);
    if (changed) {
        framesChanged();
    } else {
        reportRegion();
    }
}

std::pair<qsizetype, qsizetype> TurnStacksView::slotsWithin(double from, double to) const {
    // Slots lie in strip order, each ending where the next begins at the latest.
    const auto first = std::partition_point(slots_.begin(), slots_.end(),
                                            [&](const Slot& s) { return hi(s.frame) <= from; });
    auto last = first;
    while (last != slots_.end() && lo(last->frame) < to) {
        ++last;
    }
    return {first - slots_.begin(), last - slots_.begin()};
}

std::pair<double, double> TurnStacksView::window() const {
    const DragScroller::Range range = scroller_->range();
    const double viewport = scroller_->viewportLength();
    const double shown = scroller_->shownOffset();
    // What is on screen now and where the strip is headed, and half a view beyond either end.
    const double margin = viewport / 2;
    return {std::min(range.lo, shown) - margin, std::max(range.hi, shown + viewport) + margin};
}

void TurnStacksView::materialize() {
    if (!context_.model || laying_ || scroller_->viewportLength() <= 0) {
        return;
    }
    laying_ = true;
    const auto [from, to] = window();
    const auto [first, last] = slotsWithin(from, to);
    for (qsizetype i = first; i < last; ++i) {
        const Slot& slot = slots_[size_t(i)];
        if (slot.turn < 0) {
            if (!chips_.contains(slot.id)) {
                buildChip(slot);
            }
        } else if (!decks_.contains(slot.id)) {
            buildDeck(slot);
        }
    }
    // A dealt deck builds the cards that lie in the window.
    for (DeckView* deck : std::as_const(decks_)) {
        const double at = vertical_ ? deck->y() : deck->x();
        deck->setWindow(from - at, to - at);
    }
    laying_ = false;
    // What left the window goes after the current event: a deck may be the one whose change
    // brought us here.
    if (chips_.size() + decks_.size() > last - first && !sweep_.isActive()) {
        sweep_ = context_.clock->after(0, this, [this] { sweep(); });
    }
}

void TurnStacksView::sweep() {
    const auto [from, to] = window();
    const auto outside = [&](const QRectF& frame) { return hi(frame) <= from || lo(frame) >= to; };
    for (auto it = chips_.begin(); it != chips_.end();) {
        if (outside((*it)->mapRectToParent((*it)->boundingRect()))) {
            delete *it;
            it = chips_.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = decks_.begin(); it != decks_.end();) {
        // One still gliding through the window stays until it has left it.
        const QRectF now = (*it)->mapRectToParent((*it)->frameRect());
        if (outside(frames_.value(it.key(), now)) && outside(now)) {
            fanned_.remove(it.key());
            delete *it;
            it = decks_.erase(it);
        } else {
            ++it;
        }
    }
}

void TurnStacksView::buildChip(const Slot& slot) {
    const auto& groups = context_.model->groups();
    if (slot.group >= groups.size() || groups[slot.group].id() != slot.id) {
        return;
    }
    const SessionGroup& group = groups[slot.group];
    auto* chip = new SessionChip(context_, scroller_->content());
    chip->set(group, context_.model->collapsed().contains(group.id()),
              vertical_ ? scroller_->size().width() : SessionChip::stripWidth);
    chip->setPos(slot.frame.topLeft());
    lead(chip, slot.group >= 1, Motion::Curve::none());
    if (change_.kind() != Motion::Curve::Kind::none) {
        if (const auto was = previousChips_.constFind(slot.id); was != previousChips_.constEnd()) {
            chip->setPos(was->topLeft());
            PositionGlide::of(chip, context_.clock)->to(slot.frame.topLeft(), change_);
        } else {
            fadeClearOf(chip, follower(slot.id, -1, notArriving()))->to(0, Motion::Curve::none());
            OpacityFade::of(chip, context_.clock)->to(1, change_);
        }
    }
    chips_.insert(slot.id, chip);
}

void TurnStacksView::buildDeck(const Slot& slot) {
    const auto& groups = context_.model->groups();
    if (slot.group >= groups.size() || slot.turn >= groups[slot.group].turns.size() ||
        groups[slot.group].turns[slot.turn].id != slot.id) {
        return;
    }
    const Turn& turn = groups[slot.group].turns[slot.turn];
    const QString id = turn.id;
    const auto [from, to] = window();
    const double at = lo(slot.frame);
    auto* deck = new DeckView(
        context_, turn, vertical_,
        [this, id](bool on) {
            if (on) {
                fanned_.insert(id);
            } else {
                fanned_.remove(id);
            }
            if (!laying_) {
                reportRegion();
            }
        },
        scroller_->content(), std::pair(from - at, to - at));
    deck->setPos(slot.frame.topLeft());
    connect(deck, &DeckView::lengthChanged, this, &TurnStacksView::relayout);
    const Motion::Curve curve = change_.kind() != Motion::Curve::Kind::none ? change_
                                : context_.isOpenHere() ? Motion::rowChange(true)
                                                        : Motion::Curve::none();
    if (arrivals_.remove(id) && curve.kind() != Motion::Curve::Kind::none) {
        // It drops in from above while fading in (only fades under reduce motion).
        fadeClearOf(deck, follower(id, slot.turn, notArriving()))->to(0, Motion::Curve::none());
        OpacityFade::of(deck, context_.clock)->to(1, curve);
        PositionGlide::of(deck, context_.clock)
            ->dropIn(slot.frame.topLeft(), Motion::dropIn().offsetY, curve);
    } else if (const auto was = frames_.constFind(id);
               change_.kind() != Motion::Curve::Kind::none && was != frames_.constEnd()) {
        // Built as the change carries it into the window: it glides in from where it was.
        deck->setPos(was->topLeft());
        PositionGlide::of(deck, context_.clock)->to(slot.frame.topLeft(), change_);
    }
    decks_.insert(id, deck);
}

void TurnStacksView::framesChanged() {
    reportRegion();
    if (revealItem_) {
        revealSelectedItem();
    }
    if (revealDeck_) {
        // After the current update, with the window and frames it leaves.
        deckReveal_.cancel();
        deckReveal_ = context_.clock->after(0, this, [this] { revealOpenedDeck(); });
    }
}

void TurnStacksView::reportRegion() {
    if (!context_.model || laying_) {
        return;
    }
    const DragScroller::Range range = scroller_->range();
    const auto& groups = context_.model->groups();
    QSet<QString> ids;
    // Touching the window's edge is not being in it.
    const auto [first, last] = slotsWithin(range.lo, range.hi);
    for (qsizetype i = first; i < last; ++i) {
        const Slot& slot = slots_[size_t(i)];
        if (slot.turn < 0 || !(range.lo < hi(slot.frame) && lo(slot.frame) < range.hi) ||
            slot.group >= groups.size() || slot.turn >= groups[slot.group].turns.size()) {
            continue;
        }
        const Turn& turn = groups[slot.group].turns[slot.turn];
        if (turn.id != slot.id) {
            continue;
        }
        if (turn.items.size() == 1) {
            ids.insert(turn.items.first().id);
        } else if (fanned_.contains(turn.id)) {
            // Only the cards of a fanned deck that lie in the window, each at its place in the
            // row: a deck longer than the window does not count its far cards as seen.
            const double L = DeckView::cardLength(vertical_);
            const double pitch = L + ShelfMetrics::stackGap;
            const double start = lo(slot.frame);
            const auto first = qsizetype(std::max(0.0, std::floor((range.lo - start - L) / pitch)));
            for (qsizetype k = first; k < turn.items.size(); ++k) {
                const double s = start + pitch * double(k);
                if (s >= range.hi) {
                    break;
                }
                if (range.lo < s + L) {
                    ids.insert(turn.items[k].id);
                }
            }
        } else if (turn.items.size() >= 2) {
            ids.insert(turn.items.first().id);
        }
    }
    reported_ = ids;
    context_.model->setRegion(ids, region, context_.display);
}

bool TurnStacksView::fullyFanned(const QRectF& frame, qsizetype count, double cardLength) const {
    // The frame includes the caption below the cards: along the strip only the horizontal deck's
    // width is the stack's; the vertical one's height holds the caption too.
    const double caption = vertical_ ? DeckView::rowSpacing + DeckView::captionHeight : 0;
    return hi(frame) - lo(frame) - caption >= ShelfMetrics::rowWidth(double(count), cardLength) - 1;
}

void TurnStacksView::revealSelectedItem() {
    if (!revealItem_ || !context_.model) {
        return;
    }
    if (context_.model->selectedItemID() != revealItem_) {
        revealItem_.reset();
        return;
    }
    for (const SessionGroup& group : context_.model->groups()) {
        for (const Turn& turn : group.turns) {
            for (qsizetype k = 0; k < turn.items.size(); ++k) {
                if (turn.items[k].id != *revealItem_) {
                    continue;
                }
                const auto frame = frames_.constFind(turn.id);
                if (frame == frames_.constEnd()) {
                    return;
                }
                const double L = DeckView::cardLength(vertical_);
                if (!fullyFanned(*frame, turn.items.size(), L)) {
                    return;
                }
                revealItem_.reset();
                const DragScroller::Range range = scroller_->range();
                const double s = lo(*frame) + (L + ShelfMetrics::stackGap) * double(k);
                double amount = 0;
                if (s - revealMargin < range.lo) {
                    amount = (s - revealMargin) - range.lo;
                } else if (s + L + revealMargin > range.hi) {
                    amount = (s + L + revealMargin) - range.hi;
                }
                if (amount != 0) {
                    context_.model->forwardWheel(context_.display, amount);
                }
                return;
            }
        }
    }
}

void TurnStacksView::revealOpenedDeck() {
    if (!revealDeck_ || !context_.model) {
        return;
    }
    const auto frame = frames_.constFind(*revealDeck_);
    if (frame == frames_.constEnd()) {
        return;
    }
    for (const SessionGroup& group : context_.model->groups()) {
        for (const Turn& turn : group.turns) {
            if (turn.id != *revealDeck_) {
                continue;
            }
            if (!fullyFanned(*frame, turn.items.size(), DeckView::cardLength(vertical_))) {
                return;
            }
            revealDeck_.reset();
            const DragScroller::Range range = scroller_->range();
            const double over = (hi(*frame) + revealMargin) - range.hi;
            if (over <= 0) {
                return;
            }
            const double room = std::max(0.0, (lo(*frame) - revealMargin) - range.lo);
            const double amount = std::min(over, room);
            if (amount > 0) {
                context_.model->forwardWheelAlternate(context_.display, amount);
            }
            return;
        }
    }
}

} // namespace ostrel
