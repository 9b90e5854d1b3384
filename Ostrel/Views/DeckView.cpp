#include "Ostrel/Views/DeckView.h"

#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Views/SessionText.h"
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
    }
    void changed() { prepareGeometryChange(); }
    QRectF boundingRect() const override { return deck_->stackRect().adjusted(-8, -8, 8, 8); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override {
        painter->setRenderHint(QPainter::Antialiasing);
        const double t = deck_->now();
        const double lift = std::clamp(deck_->lift_.value(t), 0.0, 1.0);
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
        const double w = std::ceil(QFontMetricsF(font).horizontalAdvance(text)) + 2 * badgePadding;
        const QRectF stack = deck_->stackRect();
        const QRectF badge(stack.right() - badgeInset - w,
                           stack.bottom() - badgeInset - badgeHeight, w, badgeHeight);
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
                   std::function<void(bool)> onFan, QGraphicsItem* parent)
    : QGraphicsObject(parent), context_(context), turn_(turn), vertical_(vertical),
      onFan_(std::move(onFan)), front_(new Front(this)) {
    setAcceptHoverEvents(true);
    setAcceptedMouseButtons(Qt::LeftButton);
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
        if (onFan_) {
            onFan_(true);
        }
    }
    buildCards();
    lastLength_ = length();
}

DeckView::~DeckView() {
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

QSizeF DeckView::cardSize() const {
    return vertical_ ? ShelfMetrics::columnCard() : ShelfMetrics::stackCard;
}

double DeckView::cardLength() const {
    return vertical_ ? cardSize().height() : cardSize().width();
}

double DeckView::restLength() const {
    const QSizeF card = cardSize();
    return vertical_ ? ShelfMetrics::fanHeight(card.width(), card.height()) : card.width() + depth;
}

double DeckView::spreadLength() const {
    return ShelfMetrics::rowWidth(double(turn_.items.size()), cardLength());
}

double DeckView::spread() const {
    return spread_.value(now());
}

double DeckView::length() const {
    return Motion::lerp(restLength(), spreadLength(), spread());
}

QRectF DeckView::stackRect() const {
    const QSizeF card = cardSize();
    return vertical_ ? QRectF(0, 0, card.width(), length()) : QRectF(0, 0, length(), card.height());
}

QRectF DeckView::boundingRect() const {
    const QRectF stack = stackRect();
    // Room for the caption's second line while lifted in a horizontal strip.
    const double extra = lifted_ && !vertical_ ? QFontMetricsF(ShelfStyle::tipFont()).height() : 0;
    return QRectF(0, 0, stack.width(), stack.height() + rowSpacing + captionHeight + extra);
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

QStringList DeckView::captionLines(double width) const {
    const QFont& font = ShelfStyle::tipFont();
    const QFontMetricsF metrics(font);
    const QString text = caption();
    // Lifted in a horizontal strip the caption may take a second line; it is cut at the tail.
    if (!lifted_ || vertical_) {
        return {metrics.elidedText(text, Qt::ElideRight, width)};
    }
    QTextLayout layout(text, font);
    layout.beginLayout();
    QTextLine first = layout.createLine();
    if (!first.isValid()) {
        layout.endLayout();
        return {QString()};
    }
    first.setLineWidth(width);
    layout.endLayout();
    const qsizetype split = first.textLength();
    if (split >= text.size()) {
        return {text};
    }
    return {text.left(split).trimmed(),
            metrics.elidedText(text.mid(split).trimmed(), Qt::ElideRight, width)};
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

void DeckView::buildCards() {
    const qsizetype count = turn_.items.size();
    const qsizetype built = dealt_ || count <= 2 ? count : 2;
    QHash<QString, QGraphicsObject*> next;
    for (qsizetype i = 0; i < built; ++i) {
        const ShelfItem& item = turn_.items[i];
        QGraphicsObject* card = cards_.take(item.id);
        if (!card && context_.makeCard) {
            card = context_.makeCard(item, cardSize(), this);
        }
        if (!card) {
            continue;
        }
        if (auto* view = qobject_cast<ThumbnailView*>(card)) {
            ThumbnailView::Options options;
            options.selected = context_.model && context_.model->selectedItemID() == item.id;
            options.dot = context_.model && context_.model->showsDot(item);
            options.showsTitle = false;
            options.tracksVisibility = false;
            options.dragsOut = false;
            options.showsTip = i == 0 || spread() >= 1;
            view->setItem(item);
            view->setOptions(options);
            QPointer<ShelfModel> model(context_.model);
            view->setOnTap([this, model, item](int clicks) {
                if (model) {
                    model->clickDeck(turn_, item, clicks);
                }
            });
        }
        card->setZValue(-double(i));
        next.insert(item.id, card);
    }
    for (QGraphicsObject* gone : std::as_const(cards_)) {
        delete gone;
    }
    cards_ = next;
    placeCards();
}

void DeckView::placeCards() {
    const double t = now();
    const double s = spread_.value(t);
    const double lift = lift_.value(t);
    const double step = depth + Motion::fanLift * lift;
    const double angleAtRest = tilt + Motion::fanAngle * lift;
    const QSizeF card = cardSize();
    const double L = cardLength();
    for (qsizetype i = 0; i < turn_.items.size(); ++i) {
        QGraphicsObject* c = cards_.value(turn_.items[i].id);
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
        // Only the top card takes the pointer until the deck lies fully spread.
        const bool hits = i == 0 || s >= 1;
        c->setAcceptedMouseButtons(hits ? Qt::LeftButton | Qt::RightButton : Qt::NoButton);
        c->setAcceptHoverEvents(hits);
    }
    const double l = length();
    if (l != lastLength_) {
        prepareGeometryChange();
        lastLength_ = l;
        emit lengthChanged();
    }
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
    const QRectF stack = stackRect();
    const qint64 fresh = newCount();
    double x = 0;
    const double y = stack.bottom() + rowSpacing;
    painter->setRenderHint(QPainter::Antialiasing);
    if (fresh >= 1) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(ShelfStyle::accent());
        painter->drawEllipse(QRectF(0, y + 4, dotSize, dotSize));
        x = dotSize + ShelfMetrics::smallSpacing;
    }
    const QFont& font = ShelfStyle::tipFont();
    const QFontMetricsF metrics(font);
    const double width = std::max(0.0, stack.width() - x);
    painter->setFont(font);
    painter->setPen(fresh > 0 || lifted_ ? ShelfStyle::secondaryText()
                                         : ShelfStyle::tertiaryText());
    painter->drawText(QPointF(x, y + metrics.ascent()),
                      metrics.elidedText(caption(), Qt::ElideRight, width));
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
