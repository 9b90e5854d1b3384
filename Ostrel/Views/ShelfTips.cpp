#include "Ostrel/Views/ShelfTips.h"

#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Panels/GlowImage.h"
#include "Ostrel/Views/RasterBands.h"

#include "OstrelCore/Display/Motion.h"
#include "OstrelCore/Display/ShelfMetrics.h"
#include "OstrelCore/Display/ShelfStyle.h"

#include <QFontMetricsF>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QTextLayout>

#include <algorithm>
#include <atomic>
#include <cmath>

namespace ostrel {

namespace {

// Only what can fill the lines asked for is laid out, so a title of any length costs the same:
// no glyph is narrower than a pixel.
QString measurable(const QString& text, double width, int lines) {
    const qsizetype keep = qsizetype(std::max(1, lines)) * qsizetype(std::max(0.0, width) + 8);
    QString s = text.left(keep);
    s.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    s.replace(QLatin1Char('\n'), QChar::LineSeparator);
    return s;
}

// A paragraph wrapped at `width` (at words, else anywhere), no taller than `maxHeight`.
struct Paragraph {
    std::unique_ptr<QTextLayout> layout;
    double width = 0;
    double height = 0;

    Paragraph(const QString& text, const QFont& font, double wrap, double maxHeight) {
        const double lineHeight = QFontMetricsF(font).height();
        const int maxLines = lineHeight > 0 ? std::max(1, int(maxHeight / lineHeight) + 1) : 1;
        layout = std::make_unique<QTextLayout>(measurable(text, wrap, maxLines), font);
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout->setTextOption(option);
        layout->setCacheEnabled(true);
        layout->beginLayout();
        for (int n = 0; n < maxLines; ++n) {
            QTextLine line = layout->createLine();
            if (!line.isValid()) {
                break;
            }
            line.setLineWidth(std::max(1.0, wrap));
            line.setPosition(QPointF(0, height));
            if (n > 0 && height + line.height() > maxHeight + 0.5) {
                // The line does not fit: drop it by leaving it outside the drawn height.
                break;
            }
            height += line.height();
            width = std::max(width, line.naturalTextWidth());
        }
        layout->endLayout();
    }

    void draw(QPainter* painter, QPointF at, const QRectF& clip) const {
        painter->save();
        painter->setClipRect(clip, Qt::IntersectClip);
        for (int i = 0; i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            if (line.position().y() + line.height() > height + 0.5) {
                break;
            }
            line.draw(painter, at);
        }
        painter->restore();
    }
};

std::atomic<quint64> nextAnchorID{1};

// The tip's shadow: its rounded shape in black at 0.6, blurred by 9 points (a Gaussian of half
// that deviation, as the shelf's other shadows) in device pixels, 6 points down. Blurring costs
// far more than drawing, and tips come in few sizes: the last few are kept.
struct TipShadow {
    QImage image;
    QPointF at; // from the tip's top-left, in points
};

const TipShadow& tipShadow(QSizeF size, double ratio) {
    static QHash<QString, TipShadow> kept;
    const QString key = QStringLiteral("%1x%2@%3").arg(size.width()).arg(size.height()).arg(ratio);
    if (const auto it = kept.constFind(key); it != kept.constEnd()) {
        return *it;
    }
    if (kept.size() >= 8) {
        kept.clear();
    }
    constexpr double blur = 9;
    constexpr double drop = 6;
    constexpr double opacity = 0.6;
    // Three deviations hold all the blur leaves.
    const double room = std::ceil(1.5 * blur) + 1;
    const QSizeF points = size + QSizeF(2 * room, 2 * room);
    const QSize pixels(int(std::ceil(points.width() * ratio)),
                       int(std::ceil(points.height() * ratio)));
    TipShadow shadow;
    if (pixels.width() <= 4096 && pixels.height() <= 4096) {
        shadow = {roundedShadow(QRectF(QPointF(room, room), size), ShelfStyle::tipCorner, blur,
                                opacity, pixels, ratio),
                  QPointF(-room, drop - room)};
    }
    return *kept.insert(key, shadow);
}

} // namespace

QFont ShelfTip::defaultFont() {
    return ShelfStyle::tipFont();
}

int TipFit::lineCount(const QString& text, const QFont& font, double width, int limit) {
    if (text.isEmpty() || limit <= 0) {
        return 0;
    }
    QTextLayout layout(measurable(text, width, limit), font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    int count = 0;
    while (count < limit) {
        QTextLine line = layout.createLine();
        if (!line.isValid()) {
            break;
        }
        line.setLineWidth(std::max(0.0, width));
        ++count;
    }
    layout.endLayout();
    return count;
}

QString TipText::line(const QString& text, const QFont& font, double width,
                      Qt::TextElideMode mode) {
    qsizetype end = text.indexOf(QLatin1Char('\n'));
    const qsizetype cr = text.indexOf(QLatin1Char('\r'));
    if (cr >= 0 && (end < 0 || cr < end)) {
        end = cr;
    }
    const QFontMetricsF metrics(font);
    if (end < 0) {
        return metrics.elidedText(text, mode, width);
    }
    // Later lines are never drawn: the first one ends in an ellipsis whether or not it fits.
    const QString first = text.left(end);
    const QString ellipsis(QChar(0x2026));
    const QString fitted =
        metrics.elidedText(first, mode == Qt::ElideNone ? Qt::ElideRight : mode,
                           std::max(0.0, width - metrics.horizontalAdvance(ellipsis)));
    return fitted == first ? first + ellipsis : fitted;
}

QSizeF TipText::labelSize(const ShelfTip& tip, double maxWidth, double maxHeight) {
    const QSizeF pad = ShelfMetrics::tipPadding;
    const double wrap = std::max(1.0, maxWidth - 2 * pad.width());
    const double room = std::max(0.0, maxHeight - 2 * pad.height());
    const Paragraph title(tip.title, tip.font, wrap, room);
    double width = title.width;
    double height = title.height;
    if (tip.detail) {
        const Paragraph detail(*tip.detail, ShelfStyle::labelFont(), wrap,
                               std::max(0.0, room - title.height - 2));
        width = std::max(width, detail.width);
        height += 2 + detail.height;
    }
    return QSizeF(std::min(maxWidth, std::ceil(width) + 2 * pad.width()),
                  std::min(maxHeight, std::ceil(height) + 2 * pad.height()));
}

void TipText::paintLabel(QPainter* painter, const QRectF& frame, const ShelfTip& tip) {
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const double corner = ShelfStyle::tipCorner;
    const double ratio = RasterBands::ratio(*painter);
    const TipShadow& shade = tipShadow(frame.size(), ratio);
    if (!shade.image.isNull()) {
        painter->drawImage(frame.topLeft() + shade.at, shade.image);
    }
    painter->setPen(Qt::NoPen);
    painter->setBrush(ShelfStyle::tipBackground());
    painter->drawRoundedRect(frame, corner, corner);
    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen(ShelfStyle::tipBorder(), 1));
    painter->drawRoundedRect(frame.adjusted(0.5, 0.5, -0.5, -0.5), corner - 0.5, corner - 0.5);

    const QSizeF pad = ShelfMetrics::tipPadding;
    const QRectF inner = frame.adjusted(pad.width(), pad.height(), -pad.width(), -pad.height());
    const Paragraph title(tip.title, tip.font, inner.width(), inner.height());
    painter->setPen(ShelfStyle::primaryText());
    title.draw(painter, inner.topLeft(), frame);
    if (tip.detail) {
        const double top = title.height + 2;
        const Paragraph detail(*tip.detail, ShelfStyle::labelFont(), inner.width(),
                               std::max(0.0, inner.height() - top));
        painter->setPen(ShelfStyle::tertiaryText());
        detail.draw(painter, inner.topLeft() + QPointF(0, top), frame);
    }
    painter->restore();
}

// --- TipAnchor

TipAnchor::TipAnchor(QGraphicsItem* item) : id_(nextAnchorID++), item_(item) {}

std::shared_ptr<TipAnchor> TipAnchor::following(TipAnchorView* view) {
    auto anchor = std::make_shared<TipAnchor>(view);
    auto copy = [view, weak = std::weak_ptr<TipAnchor>(anchor)] {
        const auto a = weak.lock();
        if (!a) {
            return;
        }
        const TipAnchorView::Tip& tip = view->tip();
        a->tip = ShelfTip{tip.title, tip.detail, tip.font};
        a->fits.clear();
        a->cutFlag = tip.cut;
        a->textAt = tip.textOrigin;
        a->edge = tip.bottomEdge ? Edge::bottom : Edge::top;
        a->enabled = tip.enabled;
        a->display = tip.display;
        a->avoid = tip.avoid;
    };
    copy();
    QObject::connect(view, &TipAnchorView::tipChanged, view, copy);
    return anchor;
}

bool TipAnchor::wantsTip() const {
    if (!enabled) {
        return false;
    }
    if (fits.isEmpty() && cutFlag) {
        return *cutFlag;
    }
    return fits.isEmpty() ||
           std::any_of(fits.begin(), fits.end(), [](const auto& fit) { return fit && fit->cut; });
}

QRectF TipAnchor::localRect() const {
    return rect.isEmpty() ? item_->boundingRect() : rect;
}

double TipAnchor::area() const {
    const QRectF r = localRect();
    return r.width() * r.height();
}

std::optional<QRectF> TipAnchor::visibleRect() const {
    QGraphicsScene* scene = item_->scene();
    if (!scene || !item_->isVisible() || scene->views().isEmpty()) {
        return std::nullopt;
    }
    QRectF local = localRect();
    if (item_->isClipped()) {
        local = local.intersected(item_->clipPath().boundingRect());
    }
    if (local.isEmpty()) {
        return std::nullopt;
    }
    const QGraphicsView* view = scene->views().constFirst();
    const QRectF inView = view->viewportTransform().mapRect(item_->mapRectToScene(local));
    return inView.translated(view->viewport()->mapToGlobal(QPoint(0, 0)));
}

bool TipAnchor::contains(const QPointF& global) const {
    const auto r = visibleRect();
    // Half-open, as every hit test of the shelf.
    return r && global.x() >= r->left() && global.x() < r->right() && global.y() >= r->top() &&
           global.y() < r->bottom();
}

std::optional<QPointF> TipAnchor::textOrigin() const {
    if (!item_->scene()) {
        return std::nullopt;
    }
    const QRectF r = item_->mapRectToScene(localRect());
    const double y = edge == Edge::top ? r.top() + textAt.y() : r.bottom() - textAt.y();
    return QPointF(r.left() + textAt.x(), y);
}

// --- ShelfTips

ShelfTips::ShelfTips(std::shared_ptr<MainClock> clock, double motionScale)
    : clock_(std::move(clock)), timer_(0.5 * motionScale, 0.24 * motionScale, 0.76 * motionScale) {}

ShelfTips::~ShelfTips() {
    restCheck_.cancel();
}

qsizetype ShelfTips::anchorCount() const {
    return std::count_if(anchors_.begin(), anchors_.end(),
                         [](const auto& weak) { return !weak.expired(); });
}

void ShelfTips::add(const std::shared_ptr<TipAnchor>& anchor) {
    if (!anchor) {
        return;
    }
    std::erase_if(anchors_, [](const auto& weak) { return weak.expired(); });
    for (const auto& weak : anchors_) {
        if (weak.lock() == anchor) {
            return;
        }
    }
    anchors_.push_back(anchor);
}

std::shared_ptr<TipAnchor> ShelfTips::find(quint64 id) const {
    for (const auto& weak : anchors_) {
        if (auto a = weak.lock(); a && a->id() == id) {
            return a;
        }
    }
    return nullptr;
}

void ShelfTips::forget(const TipAnchor* anchor) {
    if (!anchor) {
        return;
    }
    const quint64 id = anchor->id();
    std::erase_if(anchors_, [&](const auto& weak) {
        const auto a = weak.lock();
        return !a || a.get() == anchor;
    });
    if (timer_.current() == id) {
        timer_.moved(false, clock_->now());
        anchor_.reset();
        publish();
    }
}

std::shared_ptr<TipAnchor> ShelfTips::search(const QPointF& point) {
    std::shared_ptr<TipAnchor> best;
    double bestArea = 0;
    for (const auto& weak : anchors_) {
        const auto a = weak.lock();
        if (!a || !a->wantsTip() || !canShow(a->display) || !a->contains(point)) {
            continue;
        }
        if (!best || a->area() < bestArea) {
            best = a;
            bestArea = a->area();
        }
    }
    return best;
}

void ShelfTips::pointerMoved(const QPointF& location, bool inside) {
    const double now = clock_->now();
    lastMove_ = now;
    lastPoint_ = location;
    pointerInside_ = inside;
    if (timer_.current()) {
        const auto a = anchor_.lock();
        const bool stillOn = inside && a && a->contains(location);
        timer_.moved(stillOn, now);
        if (!timer_.current()) {
            anchor_.reset();
        }
        publish();
    }
    if (inside && !restCheck_.isActive()) {
        scheduleRest(timer_.rest(now));
    }
}

void ShelfTips::scheduleRest(double delay) {
    restCheck_ = clock_->after(std::max(delay, 0.01), this, [this] { restCheck(); });
}

void ShelfTips::restCheck() {
    restCheck_ = {};
    if (!pointerInside_) {
        return;
    }
    const double now = clock_->now();
    const double remaining = lastMove_ + timer_.rest(now) - now;
    if (remaining > 0.005) {
        scheduleRest(remaining);
        return;
    }
    const auto found = search(lastPoint_);
    timer_.rested(found ? std::optional<quint64>(found->id()) : std::nullopt, now);
    if (found && timer_.current() == found->id()) {
        anchor_ = found;
    }
    publish();
}

void ShelfTips::refreshAnchor() {
    std::shared_ptr<TipAnchor> candidate;
    if (!timer_.shown()) {
        if (!pointerInside_ || timer_.current() || dismissedAt_ == lastMove_) {
            return;
        }
        dismissedAt_ = lastMove_;
        candidate = search(lastPoint_);
    }
    timer_.dismiss(candidate ? std::optional<quint64>(candidate->id()) : std::nullopt);
    if (!candidate) {
        if (!timer_.current()) {
            anchor_.reset();
        }
    } else {
        anchor_ = candidate;
    }
    publish();
}

void ShelfTips::reset() {
    timer_.reset();
    anchor_.reset();
    restCheck_.cancel();
    restCheck_ = {};
    publish();
}

void ShelfTips::publish() {
    std::optional<Shown> next;
    const auto a = anchor_.lock();
    if (a && timer_.shown() == a->id()) {
        const auto origin = a->textOrigin();
        if (canShow(a->display) && a->wantsTip() && origin) {
            next = Shown{a->tip, a->display, *origin, a->edge, a->id(), std::nullopt};
            if (a->avoid) {
                next->avoid = a->item()->mapRectToScene(*a->avoid);
            }
        } else {
            timer_.dismiss(std::nullopt);
        }
    }
    if (next != shown_) {
        shown_ = next;
        emit shownChanged();
    }
}

// --- TipLayer

TipLayer::TipLayer(ShelfTips* tips, quint32 display, std::shared_ptr<MainClock> clock,
                   QGraphicsItem* parent)
    : QGraphicsObject(parent), tips_(tips), display_(display), clock_(std::move(clock)) {
    setAcceptedMouseButtons(Qt::NoButton);
    setAcceptHoverEvents(false);
    setZValue(1000);
    if (tips) {
        connect(tips, &ShelfTips::shownChanged, this, &TipLayer::changed);
        changed();
    }
}

void TipLayer::setBounds(const QRectF& bounds, const std::optional<QRectF>& avoid) {
    prepareGeometryChange();
    bounds_ = bounds;
    avoid_ = avoid;
    update();
}

std::optional<QRectF> TipLayer::tipFrame() const {
    // A tip faded out is gone, whether or not a frame has dropped it yet.
    if (!drawn_ || bounds_.isEmpty() || (fade_.target() == 0 && !fade_.isRunning(clock_->now()))) {
        return std::nullopt;
    }
    const double maxWidth = std::min(ShelfMetrics::tipMaxWidth, bounds_.width());
    const QSizeF size = TipText::labelSize(drawn_->tip, maxWidth, bounds_.height());
    const QSizeF padding = ShelfMetrics::tipPadding;
    if (!drawn_->avoid) {
        return TipPlacement::frame(size, drawn_->textOrigin, drawn_->edge, padding, bounds_,
                                   avoid_);
    }
    // Clear of the label's own first, then, from there, of the layer's.
    const QRectF clear = TipPlacement::frame(size, drawn_->textOrigin, drawn_->edge, padding,
                                             bounds_, drawn_->avoid);
    return TipPlacement::frame(clear.size(),
                               clear.topLeft() + QPointF(padding.width(), padding.height()),
                               TipPlacement::Edge::top, padding, bounds_, avoid_);
}

double TipLayer::opacityNow() const {
    return std::clamp(fade_.value(clock_->now()), 0.0, 1.0);
}

void TipLayer::changed() {
    std::optional<ShelfTips::Shown> next;
    if (tips_ && tips_->shown() && tips_->shown()->display == display_) {
        next = tips_->shown();
    }
    const double now = clock_->now();
    if (next) {
        // Another label's tip replaces this one outright and fades in afresh.
        if (!drawn_ || drawn_->anchor != next->anchor) {
            fade_.set(0);
        }
        drawn_ = next;
        fade_.animate(1, Motion::tipFade(), now);
    } else if (drawn_) {
        fade_.animate(0, Motion::tipFade(), now);
    }
    update();
    frame_.cancel();
    frame_ = clock_->after(Motion::frame, this, [this] { frameTick(); });
}

// Frames while the fade runs; a faded-out tip is dropped. Each frame arms the next itself: a
// step the clock has run is gone, so nothing it captured may keep the chain alive.
void TipLayer::frameTick() {
    update();
    if (fade_.isRunning(clock_->now())) {
        frame_ = clock_->after(Motion::frame, this, [this] { frameTick(); });
    } else if (fade_.target() == 0) {
        drawn_.reset();
        update();
    }
}

void TipLayer::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    const auto frame = tipFrame();
    if (!frame) {
        return;
    }
    painter->save();
    painter->setOpacity(painter->opacity() * opacityNow());
    TipText::paintLabel(painter, *frame, drawn_->tip);
    painter->restore();
}

} // namespace ostrel
