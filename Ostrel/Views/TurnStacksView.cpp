#include "Ostrel/Views/TurnStacksView.h"

#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Views/DeckView.h"
#include "Ostrel/Views/OpacityFade.h"
#include "Ostrel/Views/SessionChip.h"
#include "Ostrel/Views/ShelfHeader.h"
#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Display/Motion.h"
#include "OstrelCore/Display/ShelfMetrics.h"
#include "OstrelCore/Display/ShelfStyle.h"

#include <QPainter>

#include <algorithm>

namespace ostrel {

// The hairlines between sessions, drawn in the strip's content.
class TurnStacksView::Lines final : public QGraphicsItem {
public:
    explicit Lines(QGraphicsItem* parent) : QGraphicsItem(parent) {
        setAcceptedMouseButtons(Qt::NoButton);
    }
    QRectF boundingRect() const override {
        QRectF all;
        for (const QRectF& r : rects) {
            all |= r;
        }
        return all;
    }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override {
        for (const QRectF& r : rects) {
            painter->fillRect(r, ShelfStyle::hairline());
        }
    }
    void set(QList<QRectF> next) {
        prepareGeometryChange();
        rects = std::move(next);
    }

    QList<QRectF> rects;
};

TurnStacksView::TurnStacksView(const ViewContext& context, bool vertical, QGraphicsItem* parent)
    : QGraphicsObject(parent), context_(context), vertical_(vertical),
      scroller_(new DragScroller(context, vertical ? Qt::Vertical : Qt::Horizontal, this)),
      lines_(new Lines(scroller_->content())) {
    setFlag(ItemHasNoContents);
    if (vertical_) {
        header_ = new ShelfHeader(context_, true, headerLeading, this);
    }
    connect(scroller_, &DragScroller::rangeChanged, this, &TurnStacksView::reportRegion);
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
            revealSelectedItem();
        });
        connect(model, &ShelfModel::fanChanged, this,
                [this] { revealDeck_ = context_.model->fan().clickedOpen; });
    }
    rebuild();
}

TurnStacksView::~TurnStacksView() {
    deckReveal_.cancel();
    // Nothing of this layout stays counted as on screen.
    if (context_.model && !reported_.isEmpty()) {
        context_.model->setRegion({}, region, context_.display);
    }
}

const QList<QRectF>& TurnStacksView::separators() const {
    return lines_->rects;
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

void TurnStacksView::rebuild() {
    if (!context_.model) {
        return;
    }
    laying_ = true;
    const double chipWidth = vertical_ ? scroller_->size().width() : SessionChip::stripWidth;
    QHash<QString, SessionChip*> chips;
    QHash<QString, DeckView*> decks;
    for (const SessionGroup& group : context_.model->groups()) {
        const bool folded = context_.model->collapsed().contains(group.id());
        SessionChip* chip = chips_.take(group.id());
        if (!chip) {
            chip = new SessionChip(context_, scroller_->content());
        }
        chip->set(group, folded, chipWidth);
        chips.insert(group.id(), chip);
        if (folded) {
            continue;
        }
        for (const Turn& turn : group.turns) {
            DeckView* deck = decks_.take(turn.id);
            if (!deck) {
                const QString id = turn.id;
                deck = new DeckView(
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
                    scroller_->content());
                connect(deck, &DeckView::lengthChanged, this, &TurnStacksView::relayout);
                // A turn that arrives while this drawer is open fades in with the rows' spring.
                if (built_ && context_.isOpenHere()) {
                    deck->setOpacity(0);
                    OpacityFade::of(deck, context_.clock)->to(1, Motion::rowChange(true));
                }
            } else if (!(deck->turn() == turn)) {
                deck->setTurn(turn);
            }
            decks.insert(turn.id, deck);
        }
    }
    for (SessionChip* gone : std::as_const(chips_)) {
        delete gone;
    }
    for (auto it = decks_.begin(); it != decks_.end(); ++it) {
        fanned_.remove(it.key());
        delete it.value();
    }
    chips_ = chips;
    decks_ = decks;
    built_ = true;
    laying_ = false;
    relayout();
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
        if (SessionChip* chip = chips_.value(group.id())) {
            chip->setPos(vertical_ ? QPointF(0, pos) : QPointF(pos, 0));
            advance(vertical_ ? chip->boundingRect().height() : SessionChip::stripWidth);
        }
        for (const Turn& turn : group.turns) {
            DeckView* deck = decks_.value(turn.id);
            if (!deck) {
                continue;
            }
            const QPointF at = vertical_ ? QPointF(0, pos) : QPointF(pos, 0);
            deck->setPos(at);
            const QRectF frame(at, deck->boundingRect().size());
            frames.insert(turn.id, frame);
            advance(vertical_ ? frame.height() : frame.width());
        }
    }
    const double length = (any ? pos - spacing : pos) + ShelfMetrics::hairPadding;
    lines_->set(separators);
    scroller_->setContentLength(length);
    const bool changed = frames != frames_;
    frames_ = frames;
    if (changed) {
        framesChanged();
    } else {
        reportRegion();
    }
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
    QSet<QString> ids;
    for (const SessionGroup& group : context_.model->groups()) {
        for (const Turn& turn : group.turns) {
            const auto frame = frames_.constFind(turn.id);
            if (frame == frames_.constEnd()) {
                continue;
            }
            if (!(range.lo < hi(*frame) && lo(*frame) < range.hi)) {
                continue;
            }
            if (fanned_.contains(turn.id) || turn.items.size() == 1) {
                for (const ShelfItem& item : turn.items) {
                    ids.insert(item.id);
                }
            } else if (turn.items.size() >= 2) {
                ids.insert(turn.items.first().id);
            }
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
                const DeckView* deck = decks_.value(turn.id);
                if (frame == frames_.constEnd() || !deck) {
                    return;
                }
                const double L = deck->cardLength();
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
            const DeckView* deck = decks_.value(turn.id);
            if (!deck || !fullyFanned(*frame, turn.items.size(), deck->cardLength())) {
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
