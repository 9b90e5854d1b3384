#include "Ostrel/Views/SessionSidebar.h"

#include "Ostrel/Model/MenuAction.h"
#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Views/SessionText.h"
#include "Ostrel/Views/ShelfTips.h"
#include "OstrelCore/Display/Motion.h"
#include "OstrelCore/Display/ShelfMetrics.h"
#include "OstrelCore/Display/ShelfStyle.h"

#include <QAccessibleActionInterface>
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

constexpr double rowPadX = ShelfMetrics::gridPadding; // 8
constexpr double rowPadY = 5;
constexpr double rowCorner = 7;
constexpr double nameSpacing = 6;
constexpr double nameGapMin = 4;
constexpr double badgeDot = 6;

QFont nameFont(qint64 unread) {
    QFont f = ShelfStyle::captionFont();
    if (unread > 0) {
        f.setWeight(QFont::DemiBold);
    }
    return f;
}

double nameLineHeight() {
    return std::ceil(std::max(QFontMetricsF(ShelfStyle::captionFont()).height(),
                              QFontMetricsF(ShelfStyle::countFont()).height()));
}

double detailLineHeight() {
    return std::ceil(QFontMetricsF(ShelfStyle::labelFont()).height());
}

} // namespace

// What one row draws, measured for its width.
struct SessionRow::Lines {
    QFont font;
    QString name; // as drawn
    QString fullName;
    std::optional<QString> context; // as drawn
    std::optional<QString> fullContext;
    QString time;
    double nameWidth = 0;    // the room the name has
    double contextWidth = 0; // the room the context has
    QString badge;
    double badgeWidth = 0;
};

SessionRow::SessionRow(const ViewContext& context, QGraphicsItem* parent)
    : QGraphicsObject(parent), context_(context), nameFit_(std::make_shared<TipFit>()),
      contextFit_(std::make_shared<TipFit>()), anchor_(std::make_shared<TipAnchor>(this)) {
    setAcceptHoverEvents(true);
    setAcceptedMouseButtons(Qt::LeftButton | Qt::RightButton);
    // Laid-out text is drawn once and then copied while the sidebar scrolls.
    setCacheMode(DeviceCoordinateCache);
}

SessionRow::~SessionRow() {
    if (context_.tips) {
        context_.tips->forget(anchor_.get());
    }
}

double SessionRow::rowHeight() {
    return rowPadY + nameLineHeight() + 2 + detailLineHeight() + rowPadY;
}

SessionRow::Lines SessionRow::lines() const {
    Lines l;
    l.font = nameFont(unread_);
    const QFontMetricsF nameMetrics(l.font);
    const QFontMetricsF label(ShelfStyle::labelFont());
    const double inner = std::max(0.0, width_ - 2 * rowPadX);
    if (unread_ > 0) {
        l.badge = QString::number(unread_);
        l.badgeWidth = badgeDot + ShelfMetrics::smallSpacing +
                       QFontMetricsF(ShelfStyle::countFont()).horizontalAdvance(l.badge);
    }
    l.fullName = SessionText::title(group_.session);
    l.nameWidth = std::max(0.0, inner - nameSpacing - nameGapMin -
                                    (unread_ > 0 ? nameSpacing + l.badgeWidth : 0));
    l.name = TipText::line(l.fullName, l.font, l.nameWidth, Qt::ElideRight);

    const auto detail = group_.session.rowDetail(context_.today(), context_.zone);
    l.time = detail.time;
    l.fullContext = detail.context;
    if (detail.context) {
        l.contextWidth = std::max(0.0, inner - label.horizontalAdvance(SessionText::separator) -
                                           label.horizontalAdvance(detail.time));
        l.context =
            SessionText::fittedContext(*detail.context, ShelfStyle::labelFont(), l.contextWidth);
    }
    return l;
}

void SessionRow::set(const SessionGroup& group, qint64 unread, bool selected, double width,
                     double height) {
    const bool resized = width != width_ || height != height_;
    if (resized) {
        prepareGeometryChange();
    }
    group_ = group;
    unread_ = unread;
    const bool reselected = selected != selected_;
    selected_ = selected;
    width_ = width;
    height_ = height;

    const Lines l = lines();
    nameFit_->measure(l.fullName, l.font, l.nameWidth);
    if (l.fullContext) {
        contextFit_->measure(*l.fullContext, ShelfStyle::labelFont(), l.contextWidth);
    } else {
        contextFit_->cut = false;
    }
    anchor_->tip = ShelfTip{l.fullName, SessionText::detail(l.fullContext, l.time), l.font};
    anchor_->fits = {nameFit_, contextFit_};
    anchor_->textAt = QPointF(rowPadX, rowPadY);
    anchor_->edge = TipPlacement::Edge::top;
    anchor_->enabled = true;
    anchor_->display = context_.display;
    if (context_.tips) {
        context_.tips->add(anchor_);
    }
    update();
    if (reselected) {
        QAccessible::State changed;
        changed.selected = true;
        notifyState(this, changed);
    }
}

QString SessionRow::accessibleName() const {
    const Lines l = lines();
    QStringList parts{l.fullName};
    if (!l.badge.isEmpty()) {
        parts << l.badge;
    }
    parts << SessionText::detail(l.fullContext, l.time);
    return parts.join(QStringLiteral(", "));
}

QString SessionRow::detailLine() const {
    const Lines l = lines();
    return SessionText::detail(l.context, l.time);
}

QAccessible::State SessionRow::accessibleState() const {
    QAccessible::State state;
    state.selectable = true;
    state.selected = selected_;
    state.hotTracked = hovering_;
    return state;
}

QStringList SessionRow::accessibleActions() const {
    return {QAccessibleActionInterface::pressAction()};
}

void SessionRow::doAccessibleAction(const QString& name) {
    if (name == QAccessibleActionInterface::pressAction() && context_.model) {
        context_.model->setSelectedSessionID(group_.id());
    }
}

bool SessionRow::nameCut() const {
    return nameFit_->cut;
}

bool SessionRow::contextCut() const {
    return contextFit_->cut;
}

void SessionRow::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF r = boundingRect();
    if (selected_ || hovering_) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(selected_ ? ShelfStyle::rowSelected() : ShelfStyle::rowFill());
        painter->drawRoundedRect(r, rowCorner, rowCorner);
    }
    const Lines l = lines();
    const double nameH = nameLineHeight();
    const double top = rowPadY;

    painter->setFont(l.font);
    painter->setPen(ShelfStyle::primaryText());
    const QFontMetricsF nameMetrics(l.font);
    const double nameBase = top + (nameH - nameMetrics.height()) / 2 + nameMetrics.ascent();
    painter->drawText(QPointF(rowPadX, nameBase), l.name);

    if (unread_ > 0) {
        const double right = r.width() - rowPadX;
        const double left = right - l.badgeWidth;
        painter->setPen(Qt::NoPen);
        painter->setBrush(ShelfStyle::accent());
        painter->drawEllipse(QRectF(left, top + (nameH - badgeDot) / 2, badgeDot, badgeDot));
        painter->setFont(ShelfStyle::countFont());
        painter->setPen(ShelfStyle::primaryText());
        const QFontMetricsF count(ShelfStyle::countFont());
        painter->drawText(QPointF(left + badgeDot + ShelfMetrics::smallSpacing,
                                  top + (nameH - count.height()) / 2 + count.ascent()),
                          l.badge);
    }

    const QFontMetricsF label(ShelfStyle::labelFont());
    const double detailBase = top + nameH + 2 + label.ascent();
    painter->setFont(ShelfStyle::labelFont());
    painter->setPen(ShelfStyle::tertiaryText());
    double x = rowPadX;
    if (l.context) {
        painter->drawText(QPointF(x, detailBase), *l.context);
        x += label.horizontalAdvance(*l.context);
        painter->drawText(QPointF(x, detailBase), SessionText::separator);
        x += label.horizontalAdvance(SessionText::separator);
    }
    painter->drawText(QPointF(x, detailBase), l.time);
}

void SessionRow::hoverEnterEvent(QGraphicsSceneHoverEvent*) {
    hovering_ = true;
    update();
}

void SessionRow::hoverLeaveEvent(QGraphicsSceneHoverEvent*) {
    hovering_ = false;
    update();
}

void SessionRow::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    event->setAccepted(event->button() == Qt::LeftButton);
}

void SessionRow::mouseReleaseEvent(QGraphicsSceneMouseEvent* event) {
    if (event->button() == Qt::LeftButton && boundingRect().contains(event->pos()) &&
        context_.model) {
        context_.model->setSelectedSessionID(group_.id());
    }
}

QList<MenuEntry> SessionRow::menu(ShelfModel& model, const SessionGroup& group) {
    QPointer<ShelfModel> guard(&model);
    const QList<ShelfItem> items = group.items();
    return {MenuEntry::item(QStringLiteral("Delete Session\u2019s Items"), [guard, items] {
        if (guard) {
            guard->deleteItems(items);
        }
    })};
}

void SessionRow::contextMenuEvent(QGraphicsSceneContextMenuEvent* event) {
    if (!context_.model) {
        return;
    }
    QMenu menu;
    MenuAction::fill(menu, SessionRow::menu(*context_.model, group_));
    menu.exec(event->screenPos());
}

// --- SessionSidebar

SessionSidebar::SessionSidebar(const ViewContext& context, QGraphicsItem* parent)
    : QGraphicsObject(parent), context_(context), scroll_(new ScrollArea(this)) {
    setFlag(ItemHasNoContents);
    connect(scroll_, &ScrollArea::scrolled, this, &SessionSidebar::sync);
    if (context_.model) {
        for (auto signal : {&ShelfModel::groupsChanged, &ShelfModel::selectedSessionIDChanged,
                            &ShelfModel::versionChanged, &ShelfModel::unreadCountChanged}) {
            connect(context_.model, signal, this, &SessionSidebar::sync);
        }
    }
}

void SessionSidebar::setSize(QSizeF size) {
    prepareGeometryChange();
    size_ = size;
    scroll_->setSize(size);
    sync();
}

void SessionSidebar::sync() {
    // Sizing the scroll area below may scroll it, which asks for another sync.
    if (syncing_) {
        return;
    }
    syncing_ = true;
    const auto done = qScopeGuard([this] { syncing_ = false; });
    if (!context_.model) {
        return;
    }
    const QList<SessionGroup>& groups = context_.model->groups();
    const SessionGroup* selected = context_.model->selectedGroup();
    layout_ = SidebarLayout{groups.size(), SessionRow::rowHeight(), size_.width()};
    scroll_->setContentHeight(layout_.contentHeight());
    const auto range = layout_.visible(scroll_->offset(), size_.height());

    QHash<QString, SessionRow*> next;
    for (qsizetype i = range.first; i < range.last; ++i) {
        const SessionGroup& group = groups[i];
        SessionRow* row = rows_.take(group.id());
        if (!row) {
            row = new SessionRow(context_, scroll_->content());
        }
        const QRectF r = layout_.rowRect(i);
        row->setPos(r.topLeft());
        row->set(group, context_.model->hasDots(group), selected && selected->id() == group.id(),
                 r.width(), r.height());
        next.insert(group.id(), row);
    }
    qDeleteAll(rows_);
    rows_ = std::move(next);
}

} // namespace ostrel
