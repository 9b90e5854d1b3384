#include "Ostrel/Views/UnreadLabel.h"

#include "Ostrel/Views/CountRoll.h"
#include "Ostrel/Views/ShelfHeaderLayout.h"
#include "OstrelCore/Display/Motion.h"
#include "OstrelCore/Display/ShelfMetrics.h"
#include "OstrelCore/Display/ShelfStyle.h"

#include <QFontMetricsF>
#include <QPainter>

namespace ostrel {

UnreadLabel::UnreadLabel(bool compact, std::shared_ptr<MainClock> clock, QGraphicsItem* parent)
    : QGraphicsObject(parent), compact_(compact), clock_(std::move(clock)) {
    setAcceptedMouseButtons(Qt::NoButton);
}

QString UnreadLabel::textOf(qint64 count) const {
    if (count < 1) {
        return {};
    }
    return compact_ ? QString::number(count) : QStringLiteral("%1 new").arg(count);
}

void UnreadLabel::setCount(qint64 count, const Motion::Curve& curve) {
    if (count == count_) {
        return;
    }
    // A roll cut short starts the next one from the number it was heading for.
    from_ = textOf(count_);
    count_ = count;
    roll_.set(0);
    roll_.animate(1, curve, clock_->now());
    // A label that comes in, or goes, shows its number at once.
    if (curve.kind() == Motion::Curve::Kind::none || from_.isEmpty() || count < 1) {
        roll_.set(1);
    }
    // Whoever set the count places the label for the width it starts at.
    width_ = textWidth();
    reach();
    update();
    notify(this, QAccessible::NameChanged);
    frame();
}

double UnreadLabel::roll() const {
    return roll_.value(clock_->now());
}

double UnreadLabel::textWidth() const {
    const QFontMetricsF m(ShelfStyle::headerFont());
    const double to = m.horizontalAdvance(text());
    const double roll = this->roll();
    if (from_.isEmpty() || roll == 1) {
        return to;
    }
    // The room follows the roll, so the dot keeps its distance from whichever number is drawn
    // at its left end, and the header's other controls move with it.
    const double from = m.horizontalAdvance(from_);
    return from + (to - from) * roll;
}

void UnreadLabel::frame() {
    next_.cancel();
    if (roll_.isRunning(clock_->now())) {
        next_ = clock_->after(Motion::frame, this, [this] {
            update();
            reach();
            if (const double width = textWidth(); width != width_) {
                width_ = width;
                emit textWidthChanged();
            }
            frame();
        });
    } else {
        // The old number is gone: what it reached beyond the new one is given back.
        reach();
    }
}

void UnreadLabel::setSize(QSizeF size) {
    if (size != size_) {
        size_ = size;
        reach();
    }
}

void UnreadLabel::reach() {
    // The view repaints only what an item claims: ink outside it would stay on screen after the
    // number changed, or be wiped by a neighbour's repaint halfway through a glyph.
    const QFont font = ShelfStyle::headerFont();
    const QFontMetricsF m(font);
    const QString text = this->text();
    const double left = ShelfHeaderLayout::unreadDot + ShelfMetrics::smallSpacing;
    const double base = size_.height() / 2 - m.height() / 2 + m.ascent();
    const double width = textWidth();
    // Both texts stand centred in the room the text takes now (the new one fills it at rest).
    const auto centred = [&](const QString& t) {
        return m.boundingRect(t).translated(left + (width - m.horizontalAdvance(t)) / 2, base);
    };
    QRectF r(QPointF(0, 0), size_);
    if (!text.isEmpty()) {
        r |= centred(text);
    }
    if (roll_.isRunning(clock_->now()) && !from_.isEmpty() && from_ != text) {
        // Changing characters rise by the travel out of and into the line (further on a
        // spring's overshoot).
        r |= centred(from_);
        const double travel = CountRoll::travel(font) * 1.5;
        r.adjust(0, -travel, 0, travel);
    }
    // Smoothed edges reach into the next pixel.
    r.adjust(-1, -1, 1, 1);
    if (r != bounds_) {
        prepareGeometryChange();
        bounds_ = r;
    }
}

void UnreadLabel::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    const QString text = this->text();
    if (text.isEmpty()) {
        return;
    }
    painter->setRenderHint(QPainter::Antialiasing);
    const QFontMetricsF header(ShelfStyle::headerFont());
    const double midY = size_.height() / 2;
    const double d = ShelfHeaderLayout::unreadDot;
    painter->setPen(Qt::NoPen);
    painter->setBrush(ShelfStyle::accent());
    painter->drawEllipse(QRectF(0, midY - d / 2, d, d));
    QColor color(Qt::white);
    color.setAlphaF(0.75f);
    painter->setPen(color);
    painter->setFont(ShelfStyle::headerFont());
    const double left = d + ShelfMetrics::smallSpacing;
    const double roll = this->roll();
    if (roll == 1 || from_ == text) {
        painter->drawText(QPointF(left, midY - header.height() / 2 + header.ascent()), text);
        return;
    }
    const QRectF rect(left, 0, textWidth(), size_.height());
    const double opacity = painter->opacity();
    for (const auto& glyph : CountRoll{from_, text, roll}.glyphs(rect, ShelfStyle::headerFont())) {
        painter->setOpacity(opacity * glyph.opacity);
        painter->drawText(glyph.origin, glyph.text);
    }
    painter->setOpacity(opacity);
}

QString UnreadLabel::accessibleName() const {
    return QString::asprintf("%lld new", static_cast<long long>(count_));
}

} // namespace ostrel
