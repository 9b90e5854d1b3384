#pragma once

#include "Ostrel/Views/DragScroller.h"
#include "Ostrel/Views/ViewContext.h"

#include <QGraphicsObject>
#include <QHash>
#include <QPointer>
#include <QSet>

#include <optional>

namespace ostrel {

class DeckView;
class SessionChip;
class ShelfHeader;

// The stacks layouts: every session's chip followed by one card deck per turn along one scrolling
// strip, left to right (`stacks`), or top to bottom under a compact header (`sideStacks`).
// Sessions after the first are set off by a hairline. The layout tells the model which items are
// on screen (region "stacks"): every item of a visible fanned or single-item deck, the top card of
// a visible closed one. It scrolls a newly selected item into view, and an opened deck forward,
// once the deck has spread to its full length.
class TurnStacksView final : public QGraphicsObject {
    Q_OBJECT
public:
    static constexpr double spacing = 14;
    static constexpr double separatorPadding = 4;
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
    // Each shown deck's frame in the strip's content coordinates, by turn id.
    const QHash<QString, QRectF>& frames() const { return frames_; }
    // The hairlines between sessions, in content coordinates.
    const QList<QRectF>& separators() const;
    const QSet<QString>& fanned() const { return fanned_; }
    // What the last report told the model.
    const QSet<QString>& reported() const { return reported_; }

private:
    class Lines;

    void rebuild();
    void relayout();
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
    Lines* lines_;
    QHash<QString, SessionChip*> chips_;
    QHash<QString, DeckView*> decks_;
    QHash<QString, QRectF> frames_;
    QSet<QString> fanned_;
    QSet<QString> reported_;
    std::optional<QString> revealItem_;
    std::optional<QString> revealDeck_;
    MainClock::Handle deckReveal_;
    bool laying_ = false;
    // The first build is done: decks built after it are arrivals.
    bool built_ = false;
};

} // namespace ostrel
