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
    DrawerSymbols::ensure();
    painter->save();
    painter->translate(center);
    if (!folded) {
        painter->rotate(90);
    }
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

void TurnCaption::set(const Turn& turn, bool folded, double width, double height) {
    if (width != width_ || height != height_) {
        prepareGeometryChange();
    }
    turn_ = turn;
    folded_ = folded;
    width_ = width;
    height_ = height;
    dot_ = context_.model &&
           std::any_of(turn.items.begin(), turn.items.end(),
                       [&](const ShelfItem& item) { return context_.model->showsDot(item); });
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
    DisclosureChevron::paint(painter, QPointF(DisclosureChevron::width / 2, midY), folded_,
                             hovering_);
    const QFontMetricsF metrics(ShelfStyle::tipFont());
    const double base = midY - metrics.height() / 2 + metrics.ascent();
    double x = DisclosureChevron::width + ShelfMetrics::chipSpacing;
    painter->setFont(ShelfStyle::tipFont());
    painter->setPen(hovering_ ? ShelfStyle::secondaryText() : ShelfStyle::tertiaryText());
    painter->drawText(QPointF(x, base), p.text);
    x += p.textWidth;
    if (folded_) {
        x += ShelfMetrics::chipSpacing;
        painter->setPen(ShelfStyle::tertiaryText());
        painter->drawText(QPointF(x, base), p.count);
        x += p.countWidth;
        if (dot_) {
            x += ShelfMetrics::chipSpacing;
            painter->setPen(Qt::NoPen);
            painter->setBrush(ShelfStyle::accent());
            painter->drawEllipse(QRectF(x, midY - dotSide / 2, dotSide, dotSide));
        }
    }
    const double hairLeft = p.button.right() + captionSpacing;
    if (hairLeft < width_) {
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
                            &ShelfModel::versionChanged, &ShelfModel::unreadCountChanged}) {
            connect(model, signal, this, &TurnGrid::sync);
        }
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
    for (auto it = cards_.cbegin(); it != cards_.cend(); ++it) {
        dropCard(it.key(), it.value());
    }
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
    // Sizing the scroll area below may scroll it, which asks for another sync.
    if (syncing_) {
        return;
    }
    syncing_ = true;
    const auto done = qScopeGuard([this] { syncing_ = false; });
    const SessionGroup* g = group();
    QList<TurnGridLayout::Section> sections;
    if (g) {
        sections.reserve(g->turns.size());
        for (const Turn& turn : g->turns) {
            sections.append({turn.items.size(), context_.model->collapsed().contains(turn.id)});
        }
    }
    layout_ =
        TurnGridLayout(sections, thumb_, columns_, TurnCaption::captionHeight(), size_.width());
    scroll_->setContentHeight(layout_.contentHeight());
    static_cast<Backdrop*>(backdrop_)->setSize(QSizeF(size_.width(), layout_.contentHeight()));
    const double offset = scroll_->offset();
    const double viewport = size_.height();
    // A change the model announces with a curve (a fold, a new turn) moves what stays and fades
    // in what comes, on the open display only; scrolling and everything else places at once.
    const Motion::Curve curve = context_.isOpenHere() && context_.model
                                    ? context_.model->animation()
                                    : Motion::Curve::none();
    const auto enter = [&](QGraphicsObject* item) {
        if (curve.kind() != Motion::Curve::Kind::none) {
            item->setOpacity(0);
            OpacityFade::of(item, context_.clock)->to(1, curve);
        }
    };

    QHash<QString, TurnCaption*> captions;
    const auto [first, last] = layout_.visibleSections(offset, viewport);
    for (qsizetype s = first; s < last && g; ++s) {
        const Turn& turn = g->turns[s];
        TurnCaption* caption = captions_.take(turn.id);
        const QRectF r = layout_.captionRect(s);
        if (caption) {
            PositionGlide::of(caption, context_.clock)->to(r.topLeft(), curve);
        } else {
            caption = new TurnCaption(context_, scroll_->content());
            caption->setPos(r.topLeft());
            enter(caption);
        }
        caption->set(turn, sections[s].folded, r.width(), r.height());
        captions.insert(turn.id, caption);
    }
    qDeleteAll(captions_);
    captions_ = std::move(captions);

    QHash<QString, QGraphicsObject*> cards;
    if (g) {
        for (const auto& c : layout_.visibleCards(offset, viewport)) {
            const ShelfItem& item = g->turns[c.section].items[c.item];
            QGraphicsObject* card = cards_.take(item.id);
            const QPointF at = layout_.cardRect(c.section, c.item).topLeft();
            if (card) {
                updateCard(card, item);
                PositionGlide::of(card, context_.clock)->to(at, curve);
            } else if ((card = makeCard(item))) {
                card->setPos(at);
                enter(card);
            } else {
                continue;
            }
            cards.insert(item.id, card);
        }
    }
    for (auto it = cards_.cbegin(); it != cards_.cend(); ++it) {
        dropCard(it.key(), it.value());
    }
    cards_ = std::move(cards);
}

QGraphicsObject* TurnGrid::makeCard(const ShelfItem& item) {
    ShelfModel* model = context_.model;
    QGraphicsObject* card = nullptr;
    if (context_.makeCard) {
        card = context_.makeCard(item, thumb_, scroll_->content());
        if (card) {
            model->itemAppeared(item.id, context_.display);
        }
    } else {
        ThumbnailView::Options options;
        options.selected = model->selectedItemID() == item.id;
        options.dot = model->showsDot(item);
        options.showsTitle = thumb_.width() > 120;
        card = new ThumbnailView(model, context_.display, item, thumb_, options, scroll_->content(),
                                 context_.clock);
        // Shown from the moment it intersects the viewport: its picture loads and it counts as
        // seen.
        static_cast<ThumbnailView*>(card)->setShown(true);
    }
    // A cut title shows its tip, whichever factory made the card.
    auto* view = qobject_cast<ThumbnailView*>(card);
    if (view && context_.tips && view->anchor()) {
        auto tip = TipAnchor::following(view->anchor());
        context_.tips->add(tip);
        cardTips_.insert(item.id, tip);
    }
    return card;
}

void TurnGrid::updateCard(QGraphicsObject* card, const ShelfItem& item) {
    if (auto* view = qobject_cast<ThumbnailView*>(card)) {
        ThumbnailView::Options options = view->options();
        options.selected = context_.model->selectedItemID() == item.id;
        options.dot = context_.model->showsDot(item);
        view->setItem(item);
        view->setOptions(options);
    } else {
        card->update();
    }
}

void TurnGrid::dropCard(const QString& id, QGraphicsObject* card) {
    if (const auto tip = cardTips_.take(id); tip && context_.tips) {
        context_.tips->forget(tip.get());
    }
    // A card of ours reports its own leaving; any other card is reported here.
    if (!qobject_cast<ThumbnailView*>(card) && context_.model) {
        context_.model->itemDisappeared(id, context_.display);
    }
    delete card;
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
