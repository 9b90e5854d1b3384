#pragma once

#include "Ostrel/Views/AccessibleItem.h"
#include "Ostrel/Views/ThumbnailView.h"
#include "Ostrel/Views/ViewContext.h"
#include "OstrelCore/Display/MotionAnimator.h"
#include "OstrelCore/Shelf/ShelfGroups.h"

#include <QGraphicsObject>
#include <QHash>

#include <functional>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>

namespace ostrel {

class TipAnchor;
struct TipFit;

// One turn in the stacks layouts: a small stack of its cards with a caption below. At rest the
// top card shows with a sliver of the one behind; the pointer lifts the stack; fanned (by a
// click, by holding the selection, or with a single item) the cards slide apart into a row 8
// points apart. One animated `spread` drives every length, angle and the badge. A resting deck
// builds at most two cards; the rest are dealt when it fans, as far as they lie in the window its
// strip gives it, and taken back after it folds.
// Assistive technology reads it as a group ("7 items, 3 new") of its shown cards.
class DeckView final : public QGraphicsObject, public AccessibleItem {
    Q_OBJECT
public:
    static constexpr double depth = 5;
    static constexpr double tilt = 2.5;
    static constexpr double rowSpacing = 6;
    static constexpr double captionHeight = 13;
    static constexpr double liftBrightness = 0.06;

    // `window`: as for setWindow(); none: the whole deck.
    DeckView(const ViewContext& context, const Turn& turn, bool vertical,
             std::function<void(bool fanned)> onFan, QGraphicsItem* parent = nullptr,
             std::optional<std::pair<double, double>> window = std::nullopt);
    ~DeckView() override;

    // The turn as the model has it now (items may have come or gone).
    void setTurn(const Turn& turn);
    // The part of the strip in view or near it, along the strip from the deck's start: a dealt
    // deck builds only the cards that lie there.
    void setWindow(double from, double to);
    const Turn& turn() const { return turn_; }
    bool isVertical() const { return vertical_; }

    QSizeF cardSize() const { return cardSize(vertical_); }
    // The card's extent along the strip.
    double cardLength() const { return cardLength(vertical_); }
    double restLength() const { return restLength(vertical_); }
    double spreadLength() const { return spreadLength(turn_.items.size(), vertical_); }

    static QSizeF cardSize(bool vertical);
    static double cardLength(bool vertical);
    static double restLength(bool vertical);
    static double spreadLength(qsizetype count, bool vertical);
    // The whole deck's size, cards and caption, for `count` items at rest (spread 0) or fanned
    // (1), the pointer away: what a deck not yet built will measure.
    static QSizeF frameSize(qsizetype count, bool vertical, double spread);
    // The stack's extent along the strip at the current spread.
    double length() const;
    // The stack's rectangle (caption below it).
    QRectF stackRect() const;
    // As the last frame laid the deck out.
    double spread() const { return shownSpread_; }
    bool isDealt() const { return dealt_; }
    bool isFanned() const { return fanned_; }
    bool isLifted() const;
    qint64 newCount() const;
    const QHash<QString, ThumbnailView*>& cards() const { return cards_; }
    QString caption() const;
    // The caption as drawn in `width`: one line, or two while lifted in a horizontal strip, cut
    // at the tail.
    QStringList captionLines(double width) const;
    // Where the caption's text lies: beside the unread dot, under the stack, one line high or two.
    QRectF captionRect() const;
    bool captionCut() const;
    const std::shared_ptr<TipAnchor>& captionTip() const { return captionTip_; }
    QString accessibleLabel() const;

    QAccessible::Role accessibleRole() const override { return QAccessible::Grouping; }
    QString accessibleName() const override { return accessibleLabel(); }
    // "Prompt: " and the caption.
    QString accessibleDescription() const override;
    // The cards newest first, as the turn lists them.
    void orderAccessibleChildren(QList<QGraphicsObject*>& children) const override;

    // A horizontal deck row's height: card, spacing, caption.
    static double rowHeight();

    // Where the item count stands over the stack.
    QRectF badgeRect() const;
    // What the deck takes in the strip: the stack and its caption row.
    QRectF frameRect() const;
    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

signals:
    // The stack's length changed while it spreads or folds.
    void lengthChanged();

protected:
    void hoverEnterEvent(QGraphicsSceneHoverEvent*) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent*) override;
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;

private:
    class Front;

    double now() const;
    void fanChanged();
    void liftChanged();
    ThumbnailView::Options cardOptions(qsizetype i) const;
    void buildCards();
    void placeCards();
    void frame();
    void tap();
    int captionLineLimit() const;
    // The items, by index, that have cards: the first two at rest, those in the window dealt.
    std::pair<qsizetype, qsizetype> dealtRange() const;
    // Measures the caption and places its tip.
    void updateCaption();

    ViewContext context_;
    Turn turn_;
    bool vertical_;
    std::function<void(bool)> onFan_;
    bool fanned_ = false;
    bool dealt_ = false;
    bool hovering_ = false;
    bool lifted_ = false;
    Motion::Animated spread_;
    Motion::Animated lift_;
    // The animations as the last frame laid the deck out; all its geometry is read from these.
    double shownSpread_ = 0;
    double shownLift_ = 0;
    MainClock::Handle step_;
    MainClock::Handle undeal_;
    MainClock::Handle tick_;
    double lastLength_ = 0;
    QHash<QString, ThumbnailView*> cards_;
    std::pair<qsizetype, qsizetype> built_{0, 0};
    std::optional<std::pair<double, double>> window_;
    // The badge and the lifted top card's sheen, over the cards.
    Front* front_;
    std::shared_ptr<TipFit> captionFit_;
    std::shared_ptr<TipAnchor> captionTip_;
    std::tuple<QString, double, int> measured_{QString(), -1, 0};
};

} // namespace ostrel
