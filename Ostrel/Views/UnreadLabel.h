#pragma once

#include "Ostrel/Views/AccessibleItem.h"
#include "OstrelCore/Display/MotionAnimator.h"
#include "Platform/MainClock.h"

#include <QGraphicsObject>

#include <memory>

namespace ostrel {

// The header's unread count: an accent dot and "%lld new" (the number alone when compact). A new
// number rolls in, its changed digits rising out and in, on the curve it is given; while it rolls,
// the room the text takes goes from the old number's width to the new one's, and the dot stays
// that room's spacing before it.
class UnreadLabel final : public QGraphicsObject, public AccessibleItem {
    Q_OBJECT
public:
    UnreadLabel(bool compact, std::shared_ptr<MainClock> clock, QGraphicsItem* parent);

    // The count to show, rolled in along `curve` (none: at once).
    void setCount(qint64 count, const Motion::Curve& curve);
    qint64 count() const { return count_; }
    // The text the count ends at: empty below 1.
    QString text() const { return textOf(count_); }
    // How far the last change has rolled in, 0 to 1 (a spring may overshoot).
    double roll() const;
    // The width the text takes at this moment: the new text's at rest, on the way from the old
    // one's while a number of another width rolls in.
    double textWidth() const;
    void setSize(QSizeF size);

    // Everything the label paints: its room, the ink of its text and, while a number rolls, the
    // old text over the new one and the way its changing characters travel.
    QRectF boundingRect() const override { return bounds_; }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

    QAccessible::Role accessibleRole() const override { return QAccessible::StaticText; }
    // "%lld new" in both forms.
    QString accessibleName() const override;

signals:
    // The text's width changed on the way to a new number's: the header places its controls
    // again.
    void textWidthChanged();

private:
    QString textOf(qint64 count) const;
    void frame();
    void reach();

    bool compact_;
    std::shared_ptr<MainClock> clock_;
    qint64 count_ = 0;
    QString from_;
    Motion::Animated roll_{1};
    MainClock::Handle next_;
    double width_ = 0;
    QSizeF size_;
    QRectF bounds_;
};

} // namespace ostrel
