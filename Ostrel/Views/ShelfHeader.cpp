#include "Ostrel/Views/ShelfHeader.h"

#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Views/DrawerSymbols.h"
#include "Ostrel/Views/ShelfTips.h"
#include "Ostrel/Views/Symbols.h"
#include "OstrelCore/Display/ShelfMetrics.h"
#include "OstrelCore/Display/ShelfStyle.h"

#include <QFontMetricsF>
#include <QGraphicsScene>
#include <QGraphicsSceneHoverEvent>
#include <QGraphicsSceneMouseEvent>
#include <QGraphicsView>
#include <QPainter>
#include <QWidget>

#include <cmath>

namespace ostrel {

namespace {

QColor white(double opacity) {
    QColor c(Qt::white);
    c.setAlphaF(float(opacity));
    return c;
}

void paintIconButton(QPainter* painter, const QRectF& frame, const QString& symbol,
                     const std::optional<QColor>& tint, bool hovered) {
    if (hovered) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(white(0.1));
        painter->drawEllipse(QRectF(frame.center() - QPointF(12, 12), QSizeF(24, 24)));
    }
    const QColor color = tint ? *tint : white(hovered ? 0.9 : 0.55);
    // A 14-point symbol: the circle of the pictures fills about 17 points of its frame.
    Symbols::paint(*painter, symbol, frame.center(), 17, color);
}

} // namespace

ShelfHeader::ShelfHeader(const ViewContext& context, bool compact, double leading,
                         QGraphicsItem* parent)
    : QGraphicsObject(parent), context_(context), compact_(compact), leading_(leading) {
    DrawerSymbols::ensure();
    setAcceptHoverEvents(true);
    setAcceptedMouseButtons(Qt::LeftButton);
    if (ShelfModel* model = context_.model) {
        for (auto signal : {&ShelfModel::filterChanged, &ShelfModel::unreadCountChanged,
                            &ShelfModel::layoutsChanged, &ShelfModel::groupsChanged}) {
            connect(model, signal, this, [this] { update(); });
        }
    }
}

ShelfHeader::~ShelfHeader() {
    delete press_.data();
}

void ShelfHeader::setSize(QSizeF size) {
    prepareGeometryChange();
    size_ = size;
}

bool ShelfHeader::capped() const {
    if (!context_.model) {
        return true;
    }
    const auto& layouts = context_.model->layouts();
    const auto found = layouts.find(context_.display);
    return found == layouts.end() || !found->second.style().isPill();
}

QString ShelfHeader::unreadText() const {
    const qint64 count = context_.model ? context_.model->unreadCount() : 0;
    if (count < 1) {
        return {};
    }
    return compact_ ? QString::number(count) : QStringLiteral("%1 new").arg(count);
}

QString ShelfHeader::filterLabel() const {
    if (!context_.model || !context_.model->filter().isFiltering()) {
        return QStringLiteral("Filters");
    }
    return QStringLiteral("Filters, %1 on").arg(context_.model->filter().activeCount());
}

ShelfHeaderLayout ShelfHeader::layout() const {
    const QFontMetricsF header(ShelfStyle::headerFont());
    ShelfHeaderLayout::Input in;
    in.width = size_.width();
    in.height = size_.height();
    in.compact = compact_;
    in.leading = leading_;
    in.capped = capped();
    in.textHeight = std::ceil(header.height());
    if (context_.model) {
        in.projectText = header.horizontalAdvance(context_.model->projectLabel().left(4096));
        if (const auto chip = context_.model->filter().chipLabel()) {
            in.chipText = header.horizontalAdvance(*chip);
        }
        if (const QString unread = unreadText(); !unread.isEmpty()) {
            in.unreadText = header.horizontalAdvance(unread);
        }
    }
    return ShelfHeaderLayout::make(in);
}

QString ShelfHeader::projectText() const {
    if (!context_.model) {
        return {};
    }
    return TipText::line(context_.model->projectLabel(), ShelfStyle::headerFont(),
                         layout().projectTextWidth, Qt::ElideRight);
}

ShelfHeader::Control ShelfHeader::controlAt(QPointF p) const {
    const ShelfHeaderLayout l = layout();
    if (l.menuButton.contains(p)) {
        return Control::menu;
    }
    if (l.filterButton.contains(p)) {
        return Control::filter;
    }
    if (l.chip && l.chip->contains(p)) {
        return Control::chip;
    }
    if (l.switcher.contains(p)) {
        return Control::switcher;
    }
    return Control::none;
}

void ShelfHeader::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    if (!context_.model) {
        return;
    }
    painter->setRenderHint(QPainter::Antialiasing);
    const ShelfHeaderLayout l = layout();
    const QFontMetricsF header(ShelfStyle::headerFont());
    const double midY = size_.height() / 2;
    const double base = midY - header.height() / 2 + header.ascent();

    // The project switcher.
    painter->setFont(ShelfStyle::headerFont());
    painter->setPen(white(hovered_ == Control::switcher ? 0.9 : 0.75));
    painter->drawText(QPointF(l.switcher.left(), base), projectText());
    if (l.switcher.width() > 0) {
        Symbols::paint(*painter, QStringLiteral("chevron.down"),
                       QPointF(l.switcher.right() - ShelfHeaderLayout::chevronWidth / 2, midY), 8,
                       ShelfStyle::secondaryText());
    }

    if (l.chip) {
        const bool hot = hovered_ == Control::chip;
        painter->setPen(Qt::NoPen);
        painter->setBrush(ShelfStyle::chipStroke(hot));
        painter->drawRoundedRect(*l.chip, ShelfStyle::chipCorner, ShelfStyle::chipCorner);
        painter->setPen(ShelfStyle::chipFill());
        painter->drawText(QPointF(l.chip->left() + ShelfHeaderLayout::chipPadding, base),
                          *context_.model->filter().chipLabel());
        Symbols::paint(*painter, QStringLiteral("xmark"),
                       QPointF(l.chip->right() - ShelfHeaderLayout::chipPadding -
                                   ShelfHeaderLayout::xmarkWidth / 2,
                               midY),
                       7, white(hot ? 0.9 : 0.55));
    }

    if (l.unread) {
        painter->setPen(Qt::NoPen);
        painter->setBrush(ShelfStyle::accent());
        const double d = ShelfHeaderLayout::unreadDot;
        painter->drawEllipse(QRectF(l.unread->left(), midY - d / 2, d, d));
        painter->setPen(white(0.75));
        painter->drawText(QPointF(l.unread->left() + d + ShelfMetrics::smallSpacing, base),
                          unreadText());
    }

    const bool filtering = context_.model->filter().isFiltering();
    paintIconButton(painter, l.filterButton,
                    filtering ? QStringLiteral("line.3.horizontal.decrease.circle.fill")
                              : QStringLiteral("line.3.horizontal.decrease.circle"),
                    filtering ? std::optional<QColor>(ShelfStyle::accent()) : std::nullopt,
                    hovered_ == Control::filter);
    paintIconButton(painter, l.menuButton, QStringLiteral("ellipsis.circle"), std::nullopt,
                    hovered_ == Control::menu);
}

void ShelfHeader::hoverMoveEvent(QGraphicsSceneHoverEvent* event) {
    const Control over = controlAt(event->pos());
    if (over != hovered_) {
        hovered_ = over;
        update();
    }
}

void ShelfHeader::hoverLeaveEvent(QGraphicsSceneHoverEvent*) {
    hovered_ = Control::none;
    update();
}

void ShelfHeader::openMenu(Control control, QWidget* viewport) {
    if (!context_.model || control == Control::none || control == Control::chip) {
        return;
    }
    const ShelfHeaderLayout l = layout();
    const QRectF rect = control == Control::menu     ? l.menuButton
                        : control == Control::filter ? l.filterButton
                                                     : l.switcher;
    QWidget* stand = nullptr;
    if (viewport) {
        auto* view = qobject_cast<QGraphicsView*>(viewport->parentWidget());
        QRect at = mapRectToScene(rect).toAlignedRect();
        if (view) {
            at = view->viewportTransform().mapRect(mapRectToScene(rect)).toAlignedRect();
        }
        if (!press_ || press_->parentWidget() != viewport) {
            delete press_.data();
            press_ = new QWidget(viewport);
            press_->setAttribute(Qt::WA_TransparentForMouseEvents);
            press_->setObjectName(QStringLiteral("MenuPress"));
        }
        press_->setGeometry(at);
        stand = press_;
    }
    QPointer<ShelfHeader> self(this);
    switch (control) {
    case Control::switcher:
        context_.model->showProjectMenu(stand);
        break;
    case Control::filter:
        context_.model->showKindMenu(stand);
        break;
    case Control::menu:
        context_.model->showShelfMenu(stand);
        break;
    default:
        break;
    }
    if (!self) {
        return;
    }
    // The menu took the release: give up the press's implicit grab, or the scene would keep
    // sending the pointer to this header.
    if (scene() && scene()->mouseGrabberItem() == this) {
        ungrabMouse();
    }
    pressed_ = Control::none;
    hovered_ = Control::none;
    update();
}

void ShelfHeader::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    const Control control = controlAt(event->pos());
    if (event->button() != Qt::LeftButton || control == Control::none) {
        event->ignore();
        return;
    }
    event->accept();
    pressed_ = control;
    if (control != Control::chip) {
        openMenu(control, event->widget());
    }
}

void ShelfHeader::mouseReleaseEvent(QGraphicsSceneMouseEvent* event) {
    const Control pressed = std::exchange(pressed_, Control::none);
    if (pressed == Control::chip && controlAt(event->pos()) == Control::chip && context_.model) {
        context_.model->clearKinds();
    }
}

} // namespace ostrel
