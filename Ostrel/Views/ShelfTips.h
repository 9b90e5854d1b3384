#pragma once

#include "Ostrel/Model/ShelfModel.h" // the card anchors hold the model by QPointer
#include "Ostrel/Model/TipCenter.h"
#include "Ostrel/Views/TipAnchorView.h"
#include "OstrelCore/Display/MotionAnimator.h"
#include "OstrelCore/Shelf/TipTimer.h"
#include "Platform/MainClock.h"

#include <QFont>
#include <QGraphicsObject>
#include <QList>
#include <QPointer>
#include <QString>

#include <limits>
#include <memory>
#include <optional>
#include <vector>

namespace ostrel {

// What a tip shows: the full text of a cut-short label and an optional second line.
struct ShelfTip {
    QString title;
    std::optional<QString> detail;
    QFont font = defaultFont();

    static QFont defaultFont();

    friend bool operator==(const ShelfTip&, const ShelfTip&) = default;
};

// Whether a label's text is cut short, written when the label lays out its text and read when a
// tip is wanted. Shared between the label and its anchor.
struct TipFit {
    bool cut = false;

    // Lays `text` out at `width` allowing one line more than the label's `lines`: the text is cut
    // exactly when it needs that extra line (a line break counts as one).
    void measure(const QString& text, const QFont& font, double width, int lines = 1) {
        cut = lineCount(text, font, width, lines + 1) > lines;
    }
    // Lines the text takes at `width`, counting no further than `limit`.
    static int lineCount(const QString& text, const QFont& font, double width, int limit);
};

// Text helpers of the shelf's one-line labels and of the tip itself.
namespace TipText {

// The first line of `text` fitted into `width`: elided in `mode`, with an ellipsis at the end when
// further lines follow.
QString line(const QString& text, const QFont& font, double width, Qt::TextElideMode mode);

// The tip's size for its content, its padding included, at most `maxWidth` wide and
// `maxHeight` tall.
QSizeF labelSize(const ShelfTip& tip, double maxWidth, double maxHeight);
// Draws the tip with its background, border and shadow into `frame`.
void paintLabel(QPainter* painter, const QRectF& frame, const ShelfTip& tip);

} // namespace TipText

// Where a label's tip belongs: a rectangle of a scene item, the tip, the truncation flags of the
// texts it expands, and where in the rectangle the label's text begins. The label keeps it alive;
// the tip center holds it weakly.
class TipAnchor {
public:
    using Edge = TipPlacement::Edge;

    explicit TipAnchor(QGraphicsItem* item);

    // An anchor that follows a card's anchor item: its tip, its cut flag and its place.
    static std::shared_ptr<TipAnchor> following(TipAnchorView* view);

    quint64 id() const { return id_; }
    QGraphicsItem* item() const { return item_; }

    ShelfTip tip;
    QList<std::shared_ptr<TipFit>> fits;
    // A label's own cut flag, read when no fits are given.
    std::shared_ptr<bool> cutFlag;
    // From the rectangle's top-left (top edge) or bottom-left (bottom edge, y measured up).
    QPointF textAt;
    Edge edge = Edge::top;
    bool enabled = true;
    quint32 display = 0;
    // In the item's coordinates; an empty rectangle means the item's bounds.
    QRectF rect;
    // A part of the item, in its coordinates, that the tip keeps clear of.
    std::optional<QRectF> avoid;

    // Enabled, and without fits or with one of them cut.
    bool wantsTip() const;
    QRectF localRect() const;
    double area() const;
    // The part of the rectangle the viewer sees (clipped by scrolling), in global coordinates;
    // none when it is not on screen.
    std::optional<QRectF> visibleRect() const;
    bool contains(const QPointF& global) const;
    // Where the label's text begins in its panel's coordinates (the scene's).
    std::optional<QPointF> textOrigin() const;

private:
    quint64 id_;
    QGraphicsItem* item_;
};

// Decides which tip shows and when: a pointer resting 0.5 s (times the motion scale) on a label
// whose text is cut shows its full text; while a tip shows, or shortly after, a shorter rest
// shows the next. A press, a scroll or a shelf key hides the tip until the pointer leaves that
// label.
class ShelfTips final : public QObject, public TipCenter {
    Q_OBJECT
public:
    struct Shown {
        ShelfTip tip;
        quint32 display = 0;
        QPointF textOrigin;
        TipPlacement::Edge edge = TipPlacement::Edge::top;
        quint64 anchor = 0;
        // What the label's tip keeps clear of besides what the layer does, in the panel's
        // coordinates.
        std::optional<QRectF> avoid;
        friend bool operator==(const Shown&, const Shown&) = default;
    };

    explicit ShelfTips(std::shared_ptr<MainClock> clock, double motionScale);
    ~ShelfTips() override;

    void pointerMoved(const QPointF& location, bool inside) override;
    void refreshAnchor() override;
    void reset() override;

    // A label's anchor; registering it again changes nothing. Anchors are walked in the order they
    // first registered.
    void add(const std::shared_ptr<TipAnchor>& anchor);
    // The anchor's label left the scene.
    void forget(const TipAnchor* anchor);
    // Recomputes what shows.
    void publish();

    const std::optional<Shown>& shown() const { return shown_; }
    const TipTimer<quint64>& timer() const { return timer_; }
    qsizetype anchorCount() const;

signals:
    void shownChanged();

private:
    std::shared_ptr<TipAnchor> search(const QPointF& point);
    std::shared_ptr<TipAnchor> find(quint64 id) const;
    void scheduleRest(double delay);
    void restCheck();

    std::shared_ptr<MainClock> clock_;
    TipTimer<quint64> timer_;
    std::vector<std::weak_ptr<TipAnchor>> anchors_;
    std::weak_ptr<TipAnchor> anchor_;
    std::optional<Shown> shown_;
    double lastMove_ = -std::numeric_limits<double>::infinity();
    QPointF lastPoint_;
    bool pointerInside_ = false;
    double dismissedAt_ = -std::numeric_limits<double>::infinity();
    MainClock::Handle restCheck_;
};

// Draws the one shown tip of its display over the panel's content, with its text laid exactly on
// the label's text where the bounds allow.
class TipLayer final : public QGraphicsObject {
    Q_OBJECT
public:
    TipLayer(ShelfTips* tips, quint32 display, std::shared_ptr<MainClock> clock,
             QGraphicsItem* parent = nullptr);

    // The region a tip stays inside, and one it must not cover, in scene coordinates.
    void setBounds(const QRectF& bounds, const std::optional<QRectF>& avoid = std::nullopt);

    QRectF boundingRect() const override { return bounds_; }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

    // Where the shown tip lies now; none when this layer shows nothing.
    std::optional<QRectF> tipFrame() const;
    double opacityNow() const;

private:
    void changed();
    void frameTick();

    QPointer<ShelfTips> tips_;
    quint32 display_;
    std::shared_ptr<MainClock> clock_;
    QRectF bounds_;
    std::optional<QRectF> avoid_;
    // The tip drawn, kept while it fades out.
    std::optional<ShelfTips::Shown> drawn_;
    Motion::Animated fade_;
    MainClock::Handle frame_;
};

} // namespace ostrel
