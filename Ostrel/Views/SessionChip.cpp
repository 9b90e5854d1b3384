#include "Ostrel/Views/SessionChip.h"

#include "Ostrel/Model/MenuAction.h"
#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Views/SessionSidebar.h"
#include "Ostrel/Views/SessionText.h"
#include "Ostrel/Views/ShelfTips.h"
#include "Ostrel/Views/TurnGrid.h"
#include "OstrelCore/Display/Motion.h"
#include "OstrelCore/Display/ShelfMetrics.h"
#include "OstrelCore/Display/ShelfStyle.h"

#include <QFontMetricsF>
#include <QGraphicsSceneContextMenuEvent>
#include <QGraphicsSceneHoverEvent>
#include <QGraphicsSceneMouseEvent>
#include <QMenu>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace ostrel {

namespace {

constexpr double lineSpacing = 2;
constexpr double newTop = 2;
constexpr double dotSize = 6;

QFont nameFont() {
    QFont f = ShelfStyle::captionFont();
    f.setWeight(QFont::DemiBold);
    return f;
}

double lineHeight(const QFont& font) {
    return std::ceil(QFontMetricsF(font).height());
}

double nameIndent() {
    return DisclosureChevron::width + ShelfMetrics::chipSpacing;
}

// The name, the count while folded, the context when there is one, the start time, and how many
// are new when any are.
double chipHeight(bool folded, bool context, bool fresh) {
    const double label = lineSpacing + lineHeight(ShelfStyle::labelFont());
    return lineHeight(nameFont()) + (folded ? label : 0) + (context ? label : 0) + label +
           (fresh ? newTop + lineSpacing + lineHeight(ShelfStyle::countFont()) : 0);
}

QString countText(qsizetype count) {
    return count == 1 ? QStringLiteral("1 item")
                      : QString::asprintf("%lld", static_cast<long long>(count)) +
                            QStringLiteral(" items");
}

} // namespace

// The chip's lines as drawn, each with the baseline's left end.
struct SessionChip::Layout {
    struct Line {
        QString text;
        QFont font;
        QColor color;
        QPointF at;
    };
    QList<Line> lines;
    QString fullName;
    std::optional<QString> fullContext;
    QString time;
    double nameWidth = 0;
    double contextWidth = 0;
    QRectF name;
    std::optional<QRectF> dot;
    double height = 0;
};

SessionChip::SessionChip(const ViewContext& context, QGraphicsItem* parent)
    : QGraphicsObject(parent), context_(context), nameFit_(std::make_shared<TipFit>()),
      contextFit_(std::make_shared<TipFit>()), anchor_(std::make_shared<TipAnchor>(this)) {
    setAcceptHoverEvents(true);
    setAcceptedMouseButtons(Qt::LeftButton | Qt::RightButton);
    // Laid-out text is drawn once and then copied while the strip scrolls.
    setCacheMode(DeviceCoordinateCache);
}

SessionChip::~SessionChip() {
    if (context_.tips) {
        context_.tips->forget(anchor_.get());
    }
}

SessionChip::Layout SessionChip::layout() const {
    Layout l;
    const auto detail = group_.session.rowDetail(context_.today(), context_.zone);
    l.fullName = SessionText::title(group_.session);
    l.fullContext = detail.context;
    l.time = detail.time;
    double y = 0;
    const auto add = [&](const QString& text, const QFont& font, const QColor& color, double x) {
        if (!l.lines.isEmpty()) {
            y += lineSpacing;
        }
        l.lines.append({text, font, color, QPointF(x, y + QFontMetricsF(font).ascent())});
        y += lineHeight(font);
    };

    l.nameWidth = std::max(0.0, width_ - nameIndent());
    add(TipText::line(l.fullName, nameFont(), l.nameWidth, Qt::ElideRight), nameFont(),
        ShelfStyle::primaryText(), nameIndent());
    l.name = QRectF(0, 0, width_, lineHeight(nameFont()));
    if (folded_) {
        add(countText(group_.items().size()), ShelfStyle::labelFont(), ShelfStyle::tertiaryText(),
            0);
    }
    if (detail.context) {
        l.contextWidth = width_;
        add(SessionText::fittedContext(*detail.context, ShelfStyle::labelFont(), width_),
            ShelfStyle::labelFont(), ShelfStyle::tertiaryText(), 0);
    }
    add(detail.time, ShelfStyle::labelFont(), ShelfStyle::tertiaryText(), 0);
    const qint64 fresh = context_.model ? context_.model->hasDots(group_) : 0;
    if (fresh >= 1) {
        y += newTop;
        const QFont& font = ShelfStyle::countFont();
        add(QString::asprintf("%lld", static_cast<long long>(fresh)) + QStringLiteral(" new"), font,
            ShelfStyle::primaryText(), dotSize + ShelfMetrics::smallSpacing);
        const double mid = y - lineHeight(font) / 2;
        l.dot = QRectF(0, mid - dotSize / 2, dotSize, dotSize);
    }
    l.height = chipHeight(folded_, detail.context.has_value(), fresh >= 1);
    return l;
}

QString SessionChip::accessibleName() const {
    return SessionText::title(group_.session);
}

QString SessionChip::accessibleDescription() const {
    const auto detail = group_.session.rowDetail(context_.today(), context_.zone);
    QStringList lines;
    if (folded_) {
        lines << countText(group_.items().size());
    }
    if (detail.context) {
        lines << *detail.context;
    }
    lines << detail.time;
    if (const qint64 fresh = context_.model ? context_.model->hasDots(group_) : 0; fresh >= 1) {
        lines << QString::asprintf("%lld", static_cast<long long>(fresh)) + QStringLiteral(" new");
    }
    return lines.join(QStringLiteral(", "));
}

void SessionChip::toggleSection() {
    if (context_.model) {
        context_.model->toggleCollapsed(group_.id());
    }
}

double SessionChip::height(const ViewContext& context, const SessionGroup& group, bool folded) {
    const bool fresh = context.model && context.model->hasDots(group) >= 1;
    return chipHeight(
        folded, group.session.rowDetail(context.today(), context.zone).context.has_value(), fresh);
}

void SessionChip::set(const SessionGroup& group, bool folded, double width,
                      const Motion::Curve& curve) {
    group_ = group;
    const bool refolded = folded != folded_;
    if (!placed_ || refolded) {
        if (placed_) {
            open_.animate(folded ? 0 : 1, curve, context_.clock->now());
        } else {
            open_.set(folded ? 0 : 1);
        }
        placed_ = true;
        next_.cancel();
        frame();
    }
    folded_ = folded;
    const double old = height_;
    const double oldWidth = width_;
    width_ = width;
    const Layout l = layout();
    if (l.height != old || width != oldWidth) {
        prepareGeometryChange();
    }
    height_ = l.height;
    nameFit_->measure(l.fullName, nameFont(), l.nameWidth);
    if (l.fullContext) {
        contextFit_->measure(*l.fullContext, ShelfStyle::labelFont(), l.contextWidth);
    } else {
        contextFit_->cut = false;
    }
    anchor_->tip = ShelfTip{l.fullName, SessionText::detail(l.fullContext, l.time), nameFont()};
    anchor_->fits = {nameFit_, contextFit_};
    anchor_->textAt = QPointF(nameIndent(), 0);
    anchor_->edge = TipPlacement::Edge::top;
    anchor_->enabled = true;
    anchor_->display = context_.display;
    if (context_.tips) {
        context_.tips->add(anchor_);
    }
    update();
    if (refolded) {
        announceFold(this);
    }
}

QStringList SessionChip::lines() const {
    QStringList out;
    for (const auto& line : layout().lines) {
        out << line.text;
    }
    return out;
}

QRectF SessionChip::nameRect() const {
    return layout().name;
}

QList<MenuEntry> SessionChip::menu(ShelfModel& model, const SessionGroup& group, bool folded) {
    QPointer<ShelfModel> guard(&model);
    const QString id = group.id();
    QList<MenuEntry> entries{
        MenuEntry::item(folded ? QStringLiteral("Expand") : QStringLiteral("Collapse"),
                        [guard, id] {
                            if (guard) {
                                guard->toggleCollapsed(id);
                            }
                        }),
        MenuEntry::divider()};
    entries += SessionRow::menu(model, group);
    return entries;
}

void SessionChip::frame() {
    update();
    if (open_.isRunning(context_.clock->now())) {
        next_ = context_.clock->after(Motion::frame, this, [this] { frame(); });
    }
}

void SessionChip::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    painter->setRenderHint(QPainter::Antialiasing);
    const Layout l = layout();
    DisclosureChevron::paintTurning(painter,
                                    QPointF(DisclosureChevron::width / 2, l.name.center().y()),
                                    open_.value(context_.clock->now()), hovering_);
    for (const auto& line : l.lines) {
        painter->setFont(line.font);
        painter->setPen(line.color);
        painter->drawText(line.at, line.text);
    }
    if (l.dot) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(ShelfStyle::accent());
        painter->drawEllipse(*l.dot);
    }
}

void SessionChip::hoverMoveEvent(QGraphicsSceneHoverEvent* event) {
    const bool over = nameRect().contains(event->pos());
    if (over != hovering_) {
        hovering_ = over;
        update();
    }
}

void SessionChip::hoverLeaveEvent(QGraphicsSceneHoverEvent*) {
    hovering_ = false;
    update();
}

void SessionChip::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    event->setAccepted(event->button() == Qt::LeftButton && nameRect().contains(event->pos()));
}

void SessionChip::mouseReleaseEvent(QGraphicsSceneMouseEvent* event) {
    if (nameRect().contains(event->pos()) && context_.model) {
        context_.model->toggleCollapsed(group_.id());
    }
}

void SessionChip::contextMenuEvent(QGraphicsSceneContextMenuEvent* event) {
    if (!context_.model) {
        return;
    }
    QMenu menu;
    MenuAction::fill(menu, SessionChip::menu(*context_.model, group_, folded_));
    menu.exec(event->screenPos());
}

} // namespace ostrel
