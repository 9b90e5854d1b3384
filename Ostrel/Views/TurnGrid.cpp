#include "Ostrel/Views/TurnGrid.h"

#include "Ostrel/Model/MenuAction.h"
#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Views/DrawerSymbols.h"
#include "Ostrel/Views/OpacityFade.h"
#include "Ostrel/Views/PositionGlide.h"
#include "Ostrel/Views/SessionText.h"
#include "Ostrel/Views/ShelfTips.h"
#include "Ostrel/Views/Symbols.h"
#include "Ostrel/Views/ThumbnailView.h"
#include "OstrelCore/Display/Motion.h"
#include "OstrelCore/Display/ShelfMetrics.h"
#include "OstrelCore/Display/ShelfStyle.h"

#include <QFontMetricsF>
#include <QGraphicsSceneContextMenuEvent>
#include <QGraphicsSceneMouseEvent>
#include <QMenu>
#include <QPainter>
#include <QScopeGuard>

#include <algorithm>
#include <cmath>

namespace ostrel {

namespace {

constexpr double captionSpacing = 8; // label to hairline
constexpr double dotSide = 6;

// A clear, clickable area behind the grid's sections: a click there clears the selection.
class Backdrop final : public QGraphicsObject {
public:
    Backdrop(std::function<void(QPointF)> clicked, QGraphicsItem* parent)
        : QGraphicsObject(parent), clicked_(std::move(clicked)) {
        setZValue(-1);
    }
    void setSize(QSizeF size) {
        prepareGeometryChange();
        size_ = size;
    }
    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), size_); }
    void paint(QPainter*, const QStyleOptionGraphicsItem*, QWidget*) override {}

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override {
        event->setAccepted(event->button() == Qt::LeftButton);
    }
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override {
        if (boundingRect().contains(event->pos())) {
            clicked_(event->pos());
        }
    }

private:
    std::function<void(QPointF)> clicked_;
    QSizeF size_;
};

} // namespace

void DisclosureChevron::paint(QPainter* painter, QPointF center, bool folded, bool hovering) {
    paintTurning(painter, center, folded ? 0 : 1, hovering);
}

void DisclosureChevron::paintTurning(QPainter* painter, QPointF center, double open,
                                     bool hovering) {
    DrawerSymbols::ensure();
    painter->save();
    painter->translate(center);
    painter->rotate(90 * open);
    Symbols::paint(*painter, QStringLiteral("chevron.right"), QPointF(0, 0), 8,
                   hovering ? ShelfStyle::secondaryText() : ShelfStyle::tertiaryText());
    painter->restore();
}

// --- TurnCaption

struct TurnCaption::Parts {
    QString full;
    QString text; // as drawn
    double textWidth = 0;
    QString count;
    double countWidth = 0;
    QRectF button;
};

TurnCaption::TurnCaption(const ViewContext& context, QGraphicsItem* parent)
    : QGraphicsObject(parent), context_(context), fit_(std::make_shared<TipFit>()),
      anchor_(std::make_shared<TipAnchor>(this)) {
    setAcceptHoverEvents(true);
    setAcceptedMouseButtons(Qt::LeftButton | Qt::RightButton);
    // Laid-out text is drawn once and then copied while the grid scrolls.
    setCacheMode(DeviceCoordinateCache);
}

TurnCaption::~TurnCaption() {
    if (context_.tips) {
        context_.tips->forget(anchor_.get());
    }
}

double TurnCaption::captionHeight() {
    return std::ceil(QFontMetricsF(ShelfStyle::tipFont()).height());
}

TurnCaption::Parts TurnCaption::parts() const {
    Parts p;
    const QFontMetricsF metrics(ShelfStyle::tipFont());
    p.full = SessionText::caption(turn_);
    double extra = 0;
    if (folded_) {
        p.count = QString::number(turn_.items.size());
        p.countWidth = metrics.horizontalAdvance(p.count);
        extra = ShelfMetrics::chipSpacing + p.countWidth +
                (dot_ ? ShelfMetrics::chipSpacing + dotSide : 0);
    }
    const double lead = DisclosureChevron::width + ShelfMetrics::chipSpacing;
    // The label comes first; the hairline takes only what is left.
    const double room = std::max(0.0, width_ - captionSpacing - lead - extra);
    const double wanted = metrics.horizontalAdvance(p.full.left(4096));
    p.textWidth = std::min(wanted, room);
    p.text = TipText::line(p.full, ShelfStyle::tipFont(), room, Qt::ElideRight);
    if (p.text.contains(QChar(0x2026)) || p.text != p.full) {
        p.textWidth = std::min(room, metrics.horizontalAdvance(p.text));
    }
    p.button = QRectF(0, 0, lead + p.textWidth + extra, height_);
    return p;
}

void TurnCaption::set(const Turn& turn, bool folded, double width, double height,
                      const Motion::Curve& curve) {
    const bool dot = context_.model && context_.model->dots(turn) > 0;
    // Every step of a scroll places the captions in view again: one that shows the same turn the
    // same way keeps its laid-out text and the picture drawn from it.
    if (placed_ && folded == folded_ && width == width_ && height == height_ && dot == dot_ &&
        turn == turn_) {
        turn_ = turn; // shares the model's lists: the next comparison is a pointer's
        return;
    }
    if (width != width_ || height != height_) {
        prepareGeometryChange();
    }
    turn_ = turn;
    const bool refolded = placed_ && folded != folded_;
    if (!placed_ || folded != folded_) {
        const double now = context_.clock->now();
        if (placed_) {
            open_.animate(folded ? 0 : 1, curve, now);
        } else {
            open_.set(folded ? 0 : 1);
        }
        placed_ = true;
        next_.cancel();
        frame();
    }
    folded_ = folded;
    width_ = width;
    height_ = height;
    dot_ = dot;
    const Parts p = parts();
    const double lead = DisclosureChevron::width + ShelfMetrics::chipSpacing;
    fit_->measure(p.full, ShelfStyle::tipFont(),
                  std::max(0.0, width_ - captionSpacing - lead -
                                    (folded_ ? p.button.width() - lead - p.textWidth : 0)));
    anchor_->tip = ShelfTip{p.full, std::nullopt, ShelfTip::defaultFont()};
    anchor_->fits = {fit_};
    anchor_->textAt = QPointF(lead, 0);
    anchor_->edge = TipPlacement::Edge::top;
    anchor_->enabled = true;
    anchor_->display = context_.display;
    anchor_->rect = p.button;
    if (context_.tips) {
        context_.tips->add(anchor_);
    }
    update();
    if (refolded) {
        announceFold(this);
    }
}

QString TurnCaption::accessibleName() const {
    return SessionText::caption(turn_) + QStringLiteral(", ") +
           QString::number(turn_.items.size()) + QStringLiteral(" items");
}

QString TurnCaption::accessibleDescription() const {
    return folded_ ? QStringLiteral("Expands the section")
                   : QStringLiteral("Collapses the section");
}

void TurnCaption::toggleSection() {
    if (context_.model) {
        context_.model->toggleCollapsed(turn_.id);
    }
}

void TurnCaption::frame() {
    update();
    if (open_.isRunning(context_.clock->now())) {
        next_ = context_.clock->after(Motion::frame, this, [this] { frame(); });
    }
}

bool TurnCaption::textCut() const {
    return fit_->cut;
}

QRectF TurnCaption::buttonRect() const {
    return parts().button;
}

void TurnCaption::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    painter->setRenderHint(QPainter::Antialiasing);
    const Parts p = parts();
    const double midY = height_ / 2;
    const double open = open_.value(context_.clock->now());
    DisclosureChevron::paintTurning(painter, QPointF(DisclosureChevron::width / 2, midY), open,
                                    hovering_);
    const QFontMetricsF metrics(ShelfStyle::tipFont());
    const double base = midY - metrics.height() / 2 + metrics.ascent();
    double x = DisclosureChevron::width + ShelfMetrics::chipSpacing;
    painter->setFont(ShelfStyle::tipFont());
    painter->setPen(hovering_ ? ShelfStyle::secondaryText() : ShelfStyle::tertiaryText());
    painter->drawText(QPointF(x, base), p.text);
    x += p.textWidth;
    // The count and dot fade in as the turn folds and out as it opens.
    const double countShown = Motion::clamp01(1 - open);
    if (countShown > 0) {
        painter->save();
        painter->setOpacity(painter->opacity() * countShown);
        const QString count = QString::number(turn_.items.size());
        x += ShelfMetrics::chipSpacing;
        painter->setPen(ShelfStyle::tertiaryText());
        painter->drawText(QPointF(x, base), count);
        x += metrics.horizontalAdvance(count);
        if (dot_) {
            x += ShelfMetrics::chipSpacing;
            painter->setPen(Qt::NoPen);
            painter->setBrush(ShelfStyle::accent());
            painter->drawEllipse(QRectF(x, midY - dotSide / 2, dotSide, dotSide));
        }
        painter->restore();
    }
    // A cut caption has taken the whole line: what its ellipsis leaves short of the edge is no
    // room for the hairline, which would stand there as a stub.
    const double hairLeft = p.button.right() + captionSpacing;
    if (p.text == p.full && hairLeft < width_) {
        painter->fillRect(QRectF(hairLeft, std::floor(midY), width_ - hairLeft, 1),
                          ShelfStyle::hairline());
    }
}

void TurnCaption::hoverMoveEvent(QGraphicsSceneHoverEvent* event) {
    const bool over = buttonRect().contains(event->pos());
    if (over != hovering_) {
        hovering_ = over;
        update();
    }
}

void TurnCaption::hoverLeaveEvent(QGraphicsSceneHoverEvent*) {
    hovering_ = false;
    update();
}

void TurnCaption::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    // The whole caption takes the press, so a click on it never clears the selection.
    event->setAccepted(event->button() == Qt::LeftButton);
}

void TurnCaption::mouseReleaseEvent(QGraphicsSceneMouseEvent* event) {
    if (event->button() == Qt::LeftButton && buttonRect().contains(event->pos()) &&
        context_.model) {
        context_.model->toggleCollapsed(turn_.id);
    }
}

QList<MenuEntry> TurnCaption::menu(ShelfModel& model, const Turn& turn, bool folded) {
    QPointer<ShelfModel> guard(&model);
    const QString id = turn.id;
    const QList<ShelfItem> items = turn.items;
    return {
        MenuEntry::item(folded ? QStringLiteral("Expand") : QStringLiteral("Collapse"),
                        [guard, id] {
                            if (guard) {
                                guard->toggleCollapsed(id);
                            }
                        }),
        MenuEntry::divider(),
        MenuEntry::item(turn.isEarlier() ? QStringLiteral("Delete These Items")
                                         : QStringLiteral("Delete Prompt\u2019s Items"),
                        [guard, items] {
                            if (guard) {
                                guard->deleteItems(items);
                            }
                        }),
    };
}

void TurnCaption::contextMenuEvent(QGraphicsSceneContextMenuEvent* event) {
    if (!context_.model) {
        return;
    }
    QMenu menu;
    MenuAction::fill(menu, TurnCaption::menu(*context_.model, turn_, folded_));
    menu.exec(event->screenPos());
}

// --- TurnGrid

TurnGrid::TurnGrid(const ViewContext& context, QString sessionID, QSizeF thumb, qsizetype columns,
                   QGraphicsItem* parent)
    : QGraphicsObject(parent), context_(context), sessionID_(std::move(sessionID)), thumb_(thumb),
      columns_(columns), scroll_(new ScrollArea(this)),
      backdrop_(new Backdrop([this](QPointF p) { background(p); }, scroll_->content())) {
    setFlag(ItemHasNoContents);
    scroll_->setPinEnabled(true);
    connect(scroll_, &ScrollArea::scrolled, this, &TurnGrid::sync);
    if (ShelfModel* model = context_.model) {
        for (auto signal : {&ShelfModel::groupsChanged, &ShelfModel::collapsedChanged,
                            &ShelfModel::versionChanged}) {
            connect(model, signal, this, &TurnGrid::sync);
        }
        connect(model, &ShelfModel::unreadCountChanged, this, &TurnGrid::sync);
        connect(model, &ShelfModel::openScreenChanged, this, [this] {
            // The shelf closed: the next opening shows the first turn at the top.
            if (!context_.model->openScreen()) {
                scroll_->setPinned(true);
            }
        });
        connect(model, &ShelfModel::selectedItemIDChanged, this, &TurnGrid::selectionChanged);
        connect(model, &ShelfModel::selectedItemIDChanged, this, &TurnGrid::sync);
    }
}

TurnGrid::~TurnGrid() {
    settle_.cancel();
    // Each card reports its own leaving.
    qDeleteAll(cards_);
    cards_.clear();
}

void TurnGrid::setSize(QSizeF size) {
    prepareGeometryChange();
    size_ = size;
    scroll_->setSize(size);
    sync();
}

const SessionGroup* TurnGrid::group() const {
    if (!context_.model) {
        return nullptr;
    }
    for (const SessionGroup& g : context_.model->groups()) {
        if (g.id() == sessionID_) {
            return &g;
        }
    }
    return nullptr;
}

void TurnGrid::sync() {
    // Whoever asks first (a resize, a scroll, the model's own signals), a change of what the
    // model shows moves along the change's curve; the grid's first filling shows at once.
    Motion::Curve curve = Motion::Curve::none();
    const SessionGroup* g = group();
    if (filled_ && context_.isOpenHere() &&
        ((g ? g->turns : QList<Turn>()) != shownGroup_.turns ||
         !(context_.model->collapsed() == shownCollapsed_))) {
        curve = context_.model->animation();
        if (curve.kind() == Motion::Curve::Kind::none) {
            curve = Motion::rowChange(true);
        }
    }
    syncWith(curve);
}

void TurnGrid::leave(QGraphicsObject* item, bool rises, const Motion::Curve& curve) {
    item->setEnabled(false);
    item->setZValue(-0.5); // under what stays, above the backdrop
    QPointer<QGraphicsObject> gone = item;
    OpacityFade::of(item, context_.clock)->to(0, curve, [gone] {
        if (gone) {
            gone->setVisible(false);
            gone->deleteLater();
        }
    });
    if (rises) {
        PositionGlide::of(item, context_.clock)->lift(Motion::dropIn().offsetY, curve);
    }
}

void TurnGrid::syncWith(const Motion::Curve& curve) {
    // Sizing the scroll area below may scroll it, which asks for another sync.
    if (syncing_) {
        return;
    }
    syncing_ = true;
    const auto done = qScopeGuard([this] { syncing_ = false; });
    const SessionGroup* g = group();
    // A scroll asks again for what is laid out already: the same turns (the model's own list,
    // still shared with the copy kept of it), folded alike, at the same width. Only a change of
    // those lays the grid out again and gives its cards their items again.
    const bool sameTurns = g && filled_ && g->turns.size() == shownGroup_.turns.size() &&
                           g->turns.constBegin() == shownGroup_.turns.constBegin();
    if (!sameTurns || !(context_.model->collapsed() == shownCollapsed_) ||
        size_.width() != laidOutWidth_) {
        sections_.clear();
        if (g) {
            sections_.reserve(g->turns.size());
            for (const Turn& turn : g->turns) {
                sections_.append(
                    {turn.items.size(), context_.model->collapsed().contains(turn.id)});
            }
        }
        layout_ = TurnGridLayout(sections_, thumb_, columns_, TurnCaption::captionHeight(),
                                 size_.width());
        laidOutWidth_ = size_.width();
    }
    const QList<TurnGridLayout::Section>& sections = sections_;
    scroll_->setContentHeight(layout_.contentHeight());
    static_cast<Backdrop*>(backdrop_)->setSize(QSizeF(size_.width(), layout_.contentHeight()));
    const double offset = scroll_->offset();
    const double viewport = size_.height();
    const QRectF view(0, offset, size_.width(), viewport);
    const bool animated = curve.kind() != Motion::Curve::Kind::none;
    const double drop = Motion::dropIn().offsetY;

    // Where every turn and item is now and was before the change; only an animated change needs
    // them, and only then are they counted.
    struct Places {
        QHash<QString, qsizetype> sections;
        QHash<QString, TurnGridLayout::Card> cards;
        bool built = false;
        void build(const QList<Turn>& turns) {
            built = true;
            for (qsizetype s = 0; s < turns.size(); ++s) {
                sections.insert(turns[s].id, s);
                for (qsizetype i = 0; i < turns[s].items.size(); ++i) {
                    cards.insert(turns[s].items[i].id, {s, i});
                }
            }
        }
    };
    Places now;
    Places before;
    if (animated) {
        if (g) {
            now.build(g->turns);
        }
        before.build(shownGroup_.turns);
    }
    // A row built now: where it starts and how it comes in.
    const auto bring = [&](QGraphicsObject* item, QPointF at, std::optional<QRectF> from,
                           const QPointer<QGraphicsObject>& replaced, bool drops) {
        auto* glide = PositionGlide::of(item, context_.clock);
        auto* fade = OpacityFade::of(item, context_.clock);
        if (!animated) {
            glide->to(at, curve);
            return;
        }
        if (replaced) {
            // Needed again while it faded out: the new one takes over from where it was.
            item->setOpacity(replaced->opacity());
            item->setPos(replaced->pos());
            delete replaced.data();
            glide->to(at, curve);
            glide->lift(0, curve);
            fade->to(1, curve);
        } else if (from) {
            item->setPos(from->topLeft());
            glide->to(at, curve);
        } else {
            item->setOpacity(0);
            if (drops) {
                glide->dropIn(at, drop, curve);
            } else {
                glide->to(at, Motion::Curve::none());
            }
            fade->to(1, curve);
        }
    };

    QHash<QString, TurnCaption*> captions;
    const auto [first, last] = layout_.visibleSections(offset, viewport);
    const auto placeCaption = [&](qsizetype s) {
        const Turn& turn = g->turns[s];
        if (captions.contains(turn.id)) {
            return;
        }
        TurnCaption* caption = captions_.take(turn.id);
        const QRectF r = layout_.captionRect(s);
        if (caption) {
            PositionGlide::of(caption, context_.clock)->to(r.topLeft(), curve);
        } else {
            caption = new TurnCaption(context_, scroll_->content());
            std::optional<QRectF> from;
            if (animated && before.sections.contains(turn.id)) {
                from = shownLayout_.captionRect(before.sections.value(turn.id));
            }
            bring(caption, r.topLeft(), from, leavingCaptions_.take(turn.id), true);
        }
        caption->set(turn, sections[s].folded, r.width(), r.height(), curve);
        captions.insert(turn.id, caption);
    };
    for (qsizetype s = first; s < last && g; ++s) {
        placeCaption(s);
    }
    // Placing a caption takes it out of captions_, and the table closes the gap with the entry
    // after it: walking a copy visits every caption once.
    const QHash<QString, TurnCaption*> shownCaptions = captions_;
    for (auto it = shownCaptions.begin(); it != shownCaptions.end(); ++it) {
        TurnCaption* caption = it.value();
        const auto s = now.sections.find(it.key());
        if (animated && s != now.sections.end() &&
            view.intersects(caption->mapRectToParent(caption->boundingRect()))) {
            // In view until the change has carried it out.
            placeCaption(*s);
        } else if (animated && s == now.sections.end()) {
            leave(caption, true, curve);
            leavingCaptions_.insert(it.key(), caption);
        } else {
            delete caption;
        }
    }
    captions_ = std::move(captions);

    QHash<QString, ThumbnailView*> cards;
    const auto placeCard = [&](TurnGridLayout::Card c) {
        const ShelfItem& item = g->turns[c.section].items[c.item];
        if (cards.contains(item.id)) {
            return;
        }
        ThumbnailView* card = cards_.take(item.id);
        const QPointF at = layout_.cardRect(c.section, c.item).topLeft();
        if (card) {
            updateCard(card, item, !sameTurns);
            PositionGlide::of(card, context_.clock)->to(at, curve);
        } else if ((card = makeCard(item))) {
            std::optional<QRectF> from;
            bool drops = true;
            if (animated) {
                const auto was = before.cards.find(item.id);
                if (was != before.cards.end()) {
                    const QString& turnID = shownGroup_.turns[was->section].id;
                    // Shown before: it glides from there; a turn that opens fades its cards in.
                    if (!shownCollapsed_.contains(turnID)) {
                        from = shownLayout_.cardRect(was->section, was->item);
                    }
                    drops = false;
                }
            }
            card->setPos(at);
            bring(card, at, from, leavingCards_.take(item.id), drops);
        } else {
            return;
        }
        cards.insert(item.id, card);
    };
    if (g) {
        for (const auto& c : layout_.visibleCards(offset, viewport)) {
            placeCard(c);
        }
    }
    // As with the captions: a card passed over here would be dropped from cards_ yet stay shown.
    const QHash<QString, ThumbnailView*> shownCards = cards_;
    for (auto it = shownCards.begin(); it != shownCards.end(); ++it) {
        ThumbnailView* card = it.value();
        const auto c = now.cards.find(it.key());
        const bool folded = c != now.cards.end() && sections[c->section].folded;
        if (animated && c != now.cards.end() && !folded &&
            view.intersects(card->mapRectToParent(card->boundingRect()))) {
            placeCard(*c);
        } else if (animated && (c == now.cards.end() || folded)) {
            // Gone from the model, it rises away; in a folding turn it only fades. It stops
            // counting as shown at once.
            card->setShown(false);
            leave(card, !folded, curve);
            leavingCards_.insert(it.key(), card);
        } else {
            // A card leaving the view reports its leaving as it goes.
            delete card;
        }
    }
    cards_ = std::move(cards);

    if (g) {
        shownGroup_ = *g;
    } else {
        shownGroup_ = SessionGroup();
    }
    shownLayout_ = layout_;
    filled_ = filled_ || g;
    if (context_.model) {
        shownCollapsed_ = context_.model->collapsed();
    }
    if (animated) {
        settle_.cancel();
        settle_ = context_.clock->after(Motion::settleTime(curve), this, [this] { sync(); });
    }
}

ThumbnailView* TurnGrid::makeCard(const ShelfItem& item) {
    if (!context_.makeCard || !context_.model) {
        return nullptr;
    }
    ThumbnailView* card = context_.makeCard(item, thumb_, scroll_->content());
    if (!card) {
        return nullptr;
    }
    ThumbnailView::Options options;
    options.selected = context_.model->selectedItemID() == item.id;
    options.dot = context_.model->showsDot(item);
    options.showsTitle = thumb_.width() > 120;
    card->setOptions(options);
    // Shown from the moment it intersects the viewport: its picture loads and it counts toward
    // seen until it leaves or is deleted.
    card->setShown(true);
    return card;
}

void TurnGrid::updateCard(ThumbnailView* card, const ShelfItem& item, bool itemChanged) {
    ThumbnailView::Options options = card->options();
    options.selected = context_.model->selectedItemID() == item.id;
    options.dot = context_.model->showsDot(item);
    if (itemChanged) {
        card->setItem(item);
    }
    card->setOptions(options);
}

void TurnGrid::selectionChanged() {
    const auto& id = context_.model->selectedItemID();
    const SessionGroup* g = group();
    if (!id || !g) {
        return;
    }
    for (qsizetype s = 0; s < g->turns.size(); ++s) {
        const auto& items = g->turns[s].items;
        for (qsizetype i = 0; i < items.size(); ++i) {
            if (items[i].id == *id) {
                if (context_.model->collapsed().contains(g->turns[s].id)) {
                    return;
                }
                scroll_->setPinned(false);
                scroll_->setOffset(layout_.reveal({s, i}, scroll_->offset(), size_.height()));
                return;
            }
        }
    }
}

void TurnGrid::background(QPointF) {
    if (context_.model) {
        context_.model->clearSelection();
    }
}

} // namespace ostrel
