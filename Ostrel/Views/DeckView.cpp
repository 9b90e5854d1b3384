#include "Ostrel/Views/DeckView.h"

#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Views/SessionText.h"
#include "Ostrel/Views/ShelfTips.h"
#include "Ostrel/Views/ThumbnailView.h"
#include "Ostrel/Views/Thumbnailer.h"
#include "OstrelCore/Display/Motion.h"
#include "OstrelCore/Display/ShelfMetrics.h"
#include "OstrelCore/Display/ShelfStyle.h"

#include <QFontMetricsF>
#include <QGraphicsSceneMouseEvent>
#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>
#include <tuple>

namespace ostrel {

namespace {

constexpr double badgePadding = 6;
constexpr double badgeHeight = 18;
constexpr double badgeInset = 4;
constexpr double dotSize = 6;

QString badgeText(qsizetype count) {
    return QString::asprintf("%lld", static_cast<long long>(count));
}

} // namespace

// Paints over the cards: the lifted top card's sheen and the item count in the stack's corner.
class DeckView::Front final : public QGraphicsItem {
public:
    explicit Front(DeckView* deck) : QGraphicsItem(deck), deck_(deck) {
        setAcceptedMouseButtons(Qt::NoButton);
        setZValue(1);
        setCacheMode(DeviceCoordinateCache);
    }
    void changed() { prepareGeometryChange(); }
    QRectF boundingRect() const override { return deck_->stackRect().adjusted(-8, -8, 8, 8); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override {
        painter->setRenderHint(QPainter::Antialiasing);
        const double lift = std::clamp(deck_->shownLift_, 0.0, 1.0);
        if (lift > 0 && !deck_->turn_.items.isEmpty()) {
            if (QGraphicsObject* top = deck_->cards_.value(deck_->turn_.items.first().id)) {
                painter->save();
                painter->setTransform(top->sceneTransform() * sceneTransform().inverted(), true);
                painter->setPen(Qt::NoPen);
                painter->setBrush(QColor::fromRgbF(1, 1, 1, float(liftBrightness * lift)));
                painter->drawPath(ThumbnailCard::outline(deck_->cardSize()));
                painter->restore();
            }
        }
        const double opacity = 1 - std::clamp(deck_->spread(), 0.0, 1.0);
        if (opacity <= 0) {
            return;
        }
        const QString text = badgeText(deck_->turn_.items.size());
        const QFont& font = ShelfStyle::countFont();
        const QRectF badge = deck_->badgeRect();
        painter->setOpacity(opacity);
        painter->setPen(Qt::NoPen);
        painter->setBrush(QColor::fromRgbF(0, 0, 0, 0.7f));
        painter->drawRoundedRect(badge, badgeHeight / 2, badgeHeight / 2);
        painter->setFont(font);
        painter->setPen(Qt::white);
        painter->drawText(badge, Qt::AlignCenter, text);
    }

private:
    DeckView* deck_;
};

DeckView::DeckView(const ViewContext& context, const Turn& turn, bool vertical,
                   std::function<void(bool)> onFan, QGraphicsItem* parent,
                   std::optional<std::pair<double, double>> window)
    : QGraphicsObject(parent), context_(context), turn_(turn), vertical_(vertical),
      onFan_(std::move(onFan)), window_(window), front_(new Front(this)),
      captionFit_(std::make_shared<TipFit>()), captionTip_(std::make_shared<TipAnchor>(this)) {
    setAcceptHoverEvents(true);
    setAcceptedMouseButtons(Qt::LeftButton);
    // The caption is laid out once and then copied while the strip scrolls.
    setCacheMode(DeviceCoordinateCache);
    if (ShelfModel* model = context_.model) {
        connect(model, &ShelfModel::fanChanged, this, &DeckView::fanChanged);
        connect(model, &ShelfModel::selectedItemIDChanged, this, [this] {
            fanChanged();
            buildCards();
        });
        connect(model, &ShelfModel::hoverFrozenChanged, this, &DeckView::liftChanged);
        fanned_ = model->isFanned(turn_);
    }
    // A deck that comes on screen fanned (one item, or holding the selection) shows spread out.
    if (fanned_) {
        dealt_ = true;
        spread_.set(1);
        shownSpread_ = 1;
        if (onFan_) {
            onFan_(true);
        }
    }
    buildCards();
    lastLength_ = length();
    updateCaption();
    if (context_.tips) {
        context_.tips->add(captionTip_);
    }
}

DeckView::~DeckView() {
    if (context_.tips) {
        context_.tips->forget(captionTip_.get());
    }
    // The front reads the deck's geometry; it goes while the deck is still whole.
    delete front_;
    step_.cancel();
    undeal_.cancel();
    tick_.cancel();
}

double DeckView::now() const {
    return context_.clock->now();
}

double DeckView::rowHeight() {
    return ShelfMetrics::stackCard.height() + rowSpacing + captionHeight;
}

QSizeF DeckView::cardSize(bool vertical) {
    return vertical ? ShelfMetrics::columnCard() : ShelfMetrics::stackCard;
}

double DeckView::cardLength(bool vertical) {
    return vertical ? cardSize(vertical).height() : cardSize(vertical).width();
}

double DeckView::restLength(bool vertical) {
    const QSizeF card = cardSize(vertical);
    return vertical ? ShelfMetrics::fanHeight(card.width(), card.height()) : card.width() + depth;
}

double DeckView::spreadLength(qsizetype count, bool vertical) {
    return ShelfMetrics::rowWidth(double(count), cardLength(vertical));
}

QSizeF DeckView::frameSize(qsizetype count, bool vertical, double spread) {
    const double length = Motion::lerp(restLength(vertical), spreadLength(count, vertical), spread);
    const QSizeF card = cardSize(vertical);
    const QSizeF stack = vertical ? QSizeF(card.width(), length) : QSizeF(length, card.height());
    return QSizeF(stack.width(), stack.height() + rowSpacing + captionHeight);
}

double DeckView::length() const {
    return Motion::lerp(restLength(), spreadLength(), spread());
}

QRectF DeckView::stackRect() const {
    const QSizeF card = cardSize();
    return vertical_ ? QRectF(0, 0, card.width(), length()) : QRectF(0, 0, length(), card.height());
}

QRectF DeckView::badgeRect() const {
    const double w = std::ceil(QFontMetricsF(ShelfStyle::countFont())
                                   .horizontalAdvance(badgeText(turn_.items.size()))) +
                     2 * badgePadding;
    // Inside the corner of the top card and the sliver beside it, however much room the tilted
    // card behind takes in the side strip; following the stack's end as it spreads.
    const double end = Motion::lerp(cardLength() + depth, spreadLength(), spread());
    const QSizeF card = cardSize();
    return vertical_ ? QRectF(card.width() - badgeInset - w, end - badgeInset - badgeHeight, w,
                              badgeHeight)
                     : QRectF(end - badgeInset - w, card.height() - badgeInset - badgeHeight, w,
                              badgeHeight);
}

QRectF DeckView::frameRect() const {
    const QRectF stack = stackRect();
    // Room for the caption's second line while lifted in a horizontal strip.
    const double extra = lifted_ && !vertical_ ? QFontMetricsF(ShelfStyle::tipFont()).height() : 0;
    return QRectF(0, 0, stack.width(), stack.height() + rowSpacing + captionHeight + extra);
}

QRectF DeckView::boundingRect() const {
    // The caption's glyphs may reach a little below the row the layout gives it.
    return frameRect() | captionRect();
}

bool DeckView::isLifted() const {
    return lifted_;
}

qint64 DeckView::newCount() const {
    return context_.model ? context_.model->hasDot(turn_.items) : 0;
}

QString DeckView::caption() const {
    return SessionText::caption(turn_);
}

int DeckView::captionLineLimit() const {
    return lifted_ && !vertical_ ? 2 : 1;
}

QStringList DeckView::captionLines(double width) const {
    const QFont& font = ShelfStyle::tipFont();
    const QString text = caption();
    if (captionLineLimit() == 1) {
        return {TipText::line(text, font, width, Qt::ElideRight)};
    }
    // Two lines: the first as the text wraps (or up to its line break), the rest cut at its end.
    QString head = text.left(qsizetype(std::max(0.0, width) + 8));
    qsizetype lineBreak = head.indexOf(QLatin1Char('\n'));
    if (const qsizetype cr = head.indexOf(QLatin1Char('\r'));
        cr >= 0 && (lineBreak < 0 || cr < lineBreak)) {
        lineBreak = cr;
    }
    if (lineBreak >= 0) {
        head.truncate(lineBreak);
    }
    QTextLayout layout(head, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QTextLine first = layout.createLine();
    if (first.isValid()) {
        first.setLineWidth(std::max(0.0, width));
    }
    layout.endLayout();
    qsizetype split = first.isValid() ? first.textLength() : 0;
    if (lineBreak >= 0 && split >= head.size()) {
        // The first line ends at the break; the second starts after it.
        split = lineBreak + (text.mid(lineBreak, 2) == QStringLiteral("\r\n") ? 2 : 1);
        const QString rest = text.mid(split);
        return {head, TipText::line(rest, font, width, Qt::ElideRight)};
    }
    if (split >= text.size()) {
        return {text};
    }
    return {text.left(split).trimmed(),
            TipText::line(text.mid(split).trimmed(), font, width, Qt::ElideRight)};
}

QRectF DeckView::captionRect() const {
    const QRectF stack = stackRect();
    const double x = newCount() >= 1 ? dotSize + ShelfMetrics::smallSpacing : 0;
    const double line = QFontMetricsF(ShelfStyle::tipFont()).height();
    return QRectF(x, stack.bottom() + rowSpacing, std::max(0.0, stack.width() - x),
                  line * captionLineLimit());
}

bool DeckView::captionCut() const {
    return captionFit_->cut;
}

void DeckView::updateCaption() {
    const QRectF rect = captionRect();
    const QString text = caption();
    // Measured again only when what it is measured at changes, not at every step of a spread.
    auto measured = std::make_tuple(text, rect.width(), captionLineLimit());
    if (measured != measured_) {
        captionFit_->measure(text, ShelfStyle::tipFont(), rect.width(), captionLineLimit());
        measured_ = std::move(measured);
    }
    captionTip_->tip = ShelfTip{text, std::nullopt, ShelfStyle::tipFont()};
    captionTip_->fits = {captionFit_};
    captionTip_->textAt = QPointF(0, 0);
    captionTip_->edge = TipPlacement::Edge::top;
    captionTip_->enabled = true;
    captionTip_->display = context_.display;
    captionTip_->rect = rect;
}

QString DeckView::accessibleLabel() const {
    const auto count = static_cast<long long>(turn_.items.size());
    const qint64 fresh = newCount();
    if (fresh == 0) {
        return QString::asprintf("%lld", count) + QStringLiteral(" items");
    }
    return QString::asprintf("%lld", count) + QStringLiteral(" items, ") +
           QString::asprintf("%lld", static_cast<long long>(fresh)) + QStringLiteral(" new");
}

QString DeckView::accessibleDescription() const {
    return QStringLiteral("Prompt: ") + caption();
}

void DeckView::orderAccessibleChildren(QList<QGraphicsObject*>& children) const {
    QHash<const QGraphicsObject*, qsizetype> rank;
    for (qsizetype i = 0; i < turn_.items.size(); ++i) {
        if (QGraphicsObject* card = cards_.value(turn_.items[i].id)) {
            rank.insert(card, i);
        }
    }
    std::stable_sort(
        children.begin(), children.end(), [&](const QGraphicsObject* a, const QGraphicsObject* b) {
            return rank.value(a, turn_.items.size()) < rank.value(b, turn_.items.size());
        });
}

void DeckView::setTurn(const Turn& turn) {
    prepareGeometryChange();
    turn_ = turn;
    fanChanged();
    buildCards();
    placeCards();
    update();
}

void DeckView::fanChanged() {
    const bool fanned = context_.model && context_.model->isFanned(turn_);
    if (fanned == fanned_) {
        return;
    }
    fanned_ = fanned;
    if (onFan_) {
        onFan_(fanned);
    }
    undeal_.cancel();
    step_.cancel();
    liftChanged();
    if (fanned) {
        dealt_ = true;
        buildCards();
        step_ = context_.clock->after(0, this, [this] {
            if (context_.model && context_.model->isFanned(turn_)) {
                spread_.animate(1, Motion::standard(), now());
                frame();
            }
        });
        return;
    }
    step_ = context_.clock->after(0, this, [this] {
        if (context_.model && context_.model->isFanned(turn_)) {
            return;
        }
        spread_.animate(0, Motion::standard(), now());
        frame();
        undeal_ = context_.clock->after(Motion::standardDuration(), this, [this] {
            if (!(context_.model && context_.model->isFanned(turn_))) {
                dealt_ = false;
                buildCards();
                placeCards();
            }
        });
    });
}

void DeckView::liftChanged() {
    const bool lifted = hovering_ && !fanned_ && !(context_.model && context_.model->hoverFrozen());
    if (lifted == lifted_) {
        return;
    }
    prepareGeometryChange();
    lifted_ = lifted;
    lift_.animate(lifted ? 1 : 0, Motion::deckSpring(), now());
    // The cards a click would deal out find their pictures in the cache.
    if (lifted && !dealt_ && context_.model && turn_.items.size() > 2) {
        QPointer<ShelfModel> model(context_.model);
        Thumbnailer::prefetch(
            turn_.items.mid(2),
            [model](const QString& id) { return model ? model->thumbURL(id) : QUrl(); },
            cardSize());
    }
    frame();
    update();
}

void DeckView::setWindow(double from, double to) {
    if (window_ && window_->first == from && window_->second == to) {
        return;
    }
    window_ = {from, to};
    if (dealt_ && dealtRange() != built_) {
        buildCards();
    }
}

std::pair<qsizetype, qsizetype> DeckView::dealtRange() const {
    const qsizetype count = turn_.items.size();
    if (!dealt_) {
        return {0, std::min<qsizetype>(count, 2)};
    }
    if (!window_) {
        return {0, count};
    }
    // Card i lies at (1 - s) × depth + s × i × (L + 8) along the strip. Early in a spread, when
    // that pitch is small, the cards so close together behind the first ones are left out.
    const double s = std::clamp(spread(), 0.0, 1.0);
    const double L = cardLength();
    const double pitch = std::max(s, 0.25) * (L + ShelfMetrics::stackGap);
    const double base = (1 - s) * depth;
    const auto first = qsizetype(std::max(0.0, std::floor((window_->first - L - base) / pitch)));
    const auto end =
        qsizetype(std::clamp(std::ceil((window_->second - base) / pitch) + 1, 0.0, double(count)));
    return {std::min(first, end), end};
}

ThumbnailView::Options DeckView::cardOptions(qsizetype i) const {
    const ShelfItem& item = turn_.items[i];
    ThumbnailView::Options options;
    options.selected = context_.model && context_.model->selectedItemID() == item.id;
    // A card behind the top one shows only as a sliver, too narrow for its dot: half a dot
    // would peek out beside the top card. Its dot comes as the deck spreads.
    options.dot = context_.model && context_.model->showsDot(item) && (i == 0 || spread() > 0);
    options.showsTitle = false;
    // The stacks layout reports what is on screen by region.
    options.tracksVisibility = false;
    // Drags scroll the strip.
    options.dragsOut = false;
    options.showsTip = i == 0 || spread() >= 1;
    // The top card's title tip keeps clear of the count in its corner.
    if (i == 0 && spread() < 1) {
        options.tipAvoid = badgeRect();
    }
    // The card behind shows only as a sliver: the fill is too faint to hide its symbol,
    // badge and dot.
    options.grounded = true;
    return options;
}

void DeckView::buildCards() {
    built_ = dealtRange();
    QHash<QString, ThumbnailView*> next;
    for (qsizetype i = built_.first; i < built_.second; ++i) {
        const ShelfItem& item = turn_.items[i];
        ThumbnailView* card = cards_.take(item.id);
        const bool made = !card;
        if (made && context_.makeCard) {
            card = context_.makeCard(item, cardSize(), this);
        }
        if (!card) {
            continue;
        }
        card->setItem(item);
        card->setOptions(cardOptions(i));
        QPointer<ShelfModel> model(context_.model);
        card->setOnTap([this, model, item](int clicks) {
            if (model) {
                model->clickDeck(turn_, item, clicks);
            }
        });
        if (made) {
            card->setShown(true);
        }
        card->setZValue(-double(i));
        next.insert(item.id, card);
    }
    qDeleteAll(cards_);
    cards_ = next;
    placeCards();
}

void DeckView::placeCards() {
    // A spread moves cards into and out of the window: deal what comes in, take back what left.
    if (dealtRange() != built_) {
        buildCards();
        return;
    }
    // One sample of the animations per frame: the cards, the caption, the badge and the length the
    // strip lays the next deck out by all stand for the same moment, however late the paint.
    const double t = now();
    const double s = spread_.value(t);
    const double lift = lift_.value(t);
    const bool wasStacked = shownSpread_ <= 0;
    if (s != shownSpread_) {
        prepareGeometryChange();
        shownSpread_ = s;
        update();
    }
    // The cards behind show their dots once the deck leaves the stack, and hide them back in it.
    if (wasStacked != (s <= 0)) {
        for (qsizetype i = built_.first; i < built_.second; ++i) {
            if (ThumbnailView* c = cards_.value(turn_.items[i].id)) {
                c->setOptions(cardOptions(i));
            }
        }
    }
    shownLift_ = lift;
    const double step = depth + Motion::fanLift * lift;
    const double angleAtRest = tilt + Motion::fanAngle * lift;
    const QSizeF card = cardSize();
    const double L = cardLength();
    for (qsizetype i = built_.first; i < built_.second; ++i) {
        ThumbnailView* c = cards_.value(turn_.items[i].id);
        if (!c) {
            continue;
        }
        const double d = std::min<double>(double(i), 1);
        const double along = Motion::lerp(d * step, double(i) * (L + ShelfMetrics::stackGap), s);
        const double across = Motion::lerp(-2 * d, 0, s);
        const double angle = Motion::lerp(d * angleAtRest, 0, s);
        QTransform turn;
        if (vertical_) {
            c->setPos(across, along);
            // Turned back about its top-trailing corner.
            turn.translate(card.width(), 0).rotate(-angle).translate(-card.width(), 0);
        } else {
            c->setPos(along, across);
            // Turned about its bottom-leading corner.
            turn.translate(0, card.height()).rotate(angle).translate(0, -card.height());
        }
        c->setTransform(turn);
        // Each card keeps its drawing at its own size, in its own coordinates, which a turn or a
        // scroll only moves: cards lying on each other stand exactly where the deck lays them. A
        // cache of screen pixels is placed on whole points, up to a pixel off at a fractional
        // scale, where the card behind then shows along the top card's edge. Set once: setting it
        // again drops the drawing kept, which a spread would then redraw at every frame.
        if (c->cacheMode() != QGraphicsItem::ItemCoordinateCache) {
            c->setCacheMode(QGraphicsItem::ItemCoordinateCache, card.toSize());
        }
        // Only the top card takes the pointer until the deck lies fully spread.
        const bool hits = i == 0 || s >= 1;
        c->setAcceptedMouseButtons(hits ? Qt::LeftButton | Qt::RightButton : Qt::NoButton);
        c->setAcceptHoverEvents(hits);
    }
    const double l = length();
    if (l != lastLength_) {
        lastLength_ = l;
        emit lengthChanged();
    }
    updateCaption();
    front_->changed();
    front_->update();
}

void DeckView::frame() {
    tick_.cancel();
    placeCards();
    const double t = now();
    if (spread_.isRunning(t) || lift_.isRunning(t)) {
        tick_ = context_.clock->after(1.0 / 60, this, [this] { frame(); });
    } else {
        // Every card has its tip once the deck lies flat.
        buildCards();
    }
}

void DeckView::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    const QRectF text = captionRect();
    const qint64 fresh = newCount();
    painter->setRenderHint(QPainter::Antialiasing);
    if (fresh >= 1) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(ShelfStyle::accent());
        painter->drawEllipse(QRectF(0, text.top() + 4, dotSize, dotSize));
    }
    const QFont& font = ShelfStyle::tipFont();
    const QFontMetricsF metrics(font);
    painter->setFont(font);
    painter->setPen(fresh > 0 || lifted_ ? ShelfStyle::secondaryText()
                                         : ShelfStyle::tertiaryText());
    double y = text.top() + metrics.ascent();
    for (const QString& line : captionLines(text.width())) {
        painter->drawText(QPointF(text.left(), y), line);
        y += metrics.height();
    }
}

void DeckView::hoverEnterEvent(QGraphicsSceneHoverEvent*) {
    hovering_ = true;
    liftChanged();
}

void DeckView::hoverLeaveEvent(QGraphicsSceneHoverEvent*) {
    hovering_ = false;
    liftChanged();
}

void DeckView::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    event->setAccepted(event->button() == Qt::LeftButton && stackRect().contains(event->pos()));
}

void DeckView::mouseReleaseEvent(QGraphicsSceneMouseEvent* event) {
    if (stackRect().contains(event->pos())) {
        tap();
    }
}

void DeckView::tap() {
    if (!context_.model) {
        return;
    }
    if (spread() <= 0 && !turn_.items.isEmpty()) {
        context_.model->clickDeck(turn_, turn_.items.first(), 1);
    } else {
        context_.model->clearSelection();
    }
}

} // namespace ostrel
