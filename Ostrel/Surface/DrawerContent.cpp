#include "Ostrel/Surface/DrawerContent.h"

#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Views/ClearFiltersButton.h"
#include "Ostrel/Views/OpacityFade.h"
#include "Ostrel/Views/SessionRailView.h"
#include "Ostrel/Views/ShelfHeader.h"
#include "Ostrel/Views/ShelfTips.h"
#include "Ostrel/Views/TurnStacksView.h"
#include "Ostrel/Views/UndoButton.h"
#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Display/DrawerSize.h"
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

constexpr double toastLeading = 14;
constexpr double toastTrailing = 4;
constexpr double toastSpacing = 10;
constexpr double emptyWidth = 180;
constexpr double emptySpacing = 10;
constexpr double lineExtra = 2;

double undoButtonWidth() {
    return UndoButton::size().width();
}

QColor grey(double level, double opacity = 1) {
    QColor c = QColor::fromRgbF(float(level), float(level), float(level));
    c.setAlphaF(float(opacity));
    return c;
}

// The empty state's text, wrapped within `width`, lines centred, 2 points apart.
struct EmptyText {
    std::unique_ptr<QTextLayout> layout;
    double height = 0;
    double width = 0;

    EmptyText(const QString& text, double wrap) {
        layout = std::make_unique<QTextLayout>(text, ShelfStyle::labelFont());
        QTextOption option(Qt::AlignHCenter);
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout->setTextOption(option);
        layout->beginLayout();
        for (;;) {
            QTextLine line = layout->createLine();
            if (!line.isValid()) {
                break;
            }
            line.setLineWidth(std::max(1.0, wrap));
            if (height > 0) {
                height += lineExtra;
            }
            line.setPosition(QPointF(0, height));
            height += line.height();
            width = std::max(width, line.naturalTextWidth());
        }
        layout->endLayout();
        height = std::ceil(height);
    }
};

QString emptyMessage(bool filtering) {
    return filtering
               ? QStringLiteral("No items match these filters.")
               : QStringLiteral(
                     "Nothing yet. Images, pages and documents Claude makes will appear here.");
}

} // namespace

// --- HideToast

HideToast::HideToast(const ViewContext& context, QGraphicsItem* parent)
    : QGraphicsObject(parent), context_(context),
      undo_(new UndoButton(
          [model = QPointer<ShelfModel>(context.model)] {
              if (model) {
                  model->undo();
              }
          },
          this)) {
    // Hovering the toast lights nothing below it, and a press on it stays there.
    setAcceptHoverEvents(true);
    setAcceptedMouseButtons(Qt::LeftButton);
    setZValue(1);
}

double HideToast::wantedWidth(const QString& message) {
    return std::ceil(toastLeading +
                     QFontMetricsF(ShelfStyle::headerFont()).horizontalAdvance(message) +
                     toastSpacing + undoButtonWidth() + toastTrailing);
}

void HideToast::place(QSizeF drawer, bool onTop) {
    const QString message = context_.model && context_.model->pendingUndo()
                                ? context_.model->pendingUndo()->message()
                                : QString();
    const QRectF r = DrawerContentLayout::toast(drawer, wantedWidth(message.left(4096)), onTop);
    prepareGeometryChange();
    size_ = r.size();
    setPos(r.topLeft());
    undo_->setPos(undoRect().topLeft());
    update();
}

QString HideToast::text() const {
    if (!context_.model || !context_.model->pendingUndo()) {
        return {};
    }
    const double room =
        size_.width() - toastLeading - toastSpacing - undoButtonWidth() - toastTrailing;
    return TipText::line(context_.model->pendingUndo()->message(), ShelfStyle::headerFont(),
                         std::max(0.0, room), Qt::ElideMiddle);
}

QString HideToast::accessibleName() const {
    return context_.model && context_.model->pendingUndo()
               ? context_.model->pendingUndo()->message()
               : QString();
}

QRectF HideToast::undoRect() const {
    const QSizeF button = UndoButton::size();
    return QRectF(QPointF(size_.width() - toastTrailing - button.width(),
                          (size_.height() - button.height()) / 2),
                  button);
}

bool HideToast::undoHovered() const {
    return undo_->isHovering();
}

void HideToast::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    if (size_.isEmpty()) {
        return;
    }
    painter->setRenderHint(QPainter::Antialiasing);
    const QRectF r = boundingRect();
    const double radius = r.height() / 2;
    painter->setPen(Qt::NoPen);
    painter->setBrush(grey(0.15));
    painter->drawRoundedRect(r, radius, radius);
    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen(grey(1, 0.12), 1));
    painter->drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius - 0.5, radius - 0.5);

    const QFontMetricsF metrics(ShelfStyle::headerFont());
    const double base = r.height() / 2 - metrics.height() / 2 + metrics.ascent();
    painter->setFont(ShelfStyle::headerFont());
    painter->setPen(ShelfStyle::primaryText());
    painter->drawText(QPointF(toastLeading, base), text());
}

void HideToast::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    event->setAccepted(event->button() == Qt::LeftButton);
}

// --- EmptyShelf

EmptyShelf::EmptyShelf(const ViewContext& context, QGraphicsItem* parent)
    : QGraphicsObject(parent), context_(context),
      clear_(new ClearFiltersButton(
          [model = QPointer<ShelfModel>(context.model)] {
              if (model) {
                  model->clearKinds();
              }
          },
          this)) {
    if (context_.model) {
        connect(context_.model, &ShelfModel::filterChanged, this, [this] {
            placeButton();
            update();
        });
    }
    placeButton();
}

void EmptyShelf::setSize(QSizeF size) {
    prepareGeometryChange();
    size_ = size;
    placeButton();
}

void EmptyShelf::placeButton() {
    const auto button = clearRect();
    clear_->setVisible(button.has_value());
    if (button) {
        clear_->setPos(button->topLeft());
    }
}

bool EmptyShelf::offersClear() const {
    return context_.model && context_.model->filter().isFiltering();
}

QString EmptyShelf::text() const {
    return emptyMessage(offersClear());
}

EmptyShelf::Stack EmptyShelf::stack() const {
    const double wrap = std::max(0.0, std::min(emptyWidth, size_.width() - 40));
    const EmptyText t(text(), wrap);
    double height = t.height;
    std::optional<QSizeF> button;
    if (offersClear()) {
        button = ClearFiltersButton::size();
        height += emptySpacing + button->height();
    }
    const double top = (size_.height() - height) / 2;
    Stack s;
    s.text = QRectF((size_.width() - wrap) / 2, top, wrap, t.height);
    if (button) {
        s.button = QRectF((size_.width() - button->width()) / 2, s.text.bottom() + emptySpacing,
                          button->width(), button->height());
    }
    return s;
}

QRectF EmptyShelf::textRect() const {
    return stack().text;
}

std::optional<QRectF> EmptyShelf::clearRect() const {
    return stack().button;
}

void EmptyShelf::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    painter->setRenderHint(QPainter::Antialiasing);
    const Stack s = stack();
    const EmptyText t(text(), s.text.width());
    painter->setPen(ShelfStyle::tertiaryText());
    t.layout->draw(painter, s.text.topLeft());
}

// --- DrawerContent

DrawerContent::DrawerContent(const ViewContext& context, ShelfLayoutKind kind,
                             QGraphicsItem* parent)
    : DrawerContentItem(parent), context_(context), kind_(kind),
      toast_(new HideToast(context, this)) {
    setFlag(ItemHasNoContents);
    toast_->setVisible(false);
    if (ShelfModel* model = context_.model) {
        connect(model, &ShelfModel::groupsChanged, this, &DrawerContent::sync);
        connect(model, &ShelfModel::filterChanged, this, &DrawerContent::sync);
        connect(model, &ShelfModel::pendingUndoChanged, this, &DrawerContent::sync);
    }
}

std::function<DrawerContentItem*(const DrawerContentPlan&)>
DrawerContent::factory(const ViewContext& context) {
    return [context](const DrawerContentPlan& plan) {
        ViewContext here = context;
        here.display = plan.display;
        return new DrawerContent(here, plan.kind);
    };
}

void DrawerContent::leave(QGraphicsObject* item, const Motion::Curve& curve) {
    if (!item) {
        return;
    }
    item->setEnabled(false);
    QPointer<QGraphicsObject> old = item;
    // Deleted later: a card of it may be handling the event that emptied the shelf.
    OpacityFade::of(item, context_.clock)->to(0, curve, [old] {
        if (old) {
            old->setVisible(false);
            old->deleteLater();
        }
    });
}

void DrawerContent::setPlan(const DrawerContentPlan& plan) {
    context_.display = plan.display;
    if (plan.kind != kind_) {
        // Another layout replaces this one rather than morphing into it: on the open drawer the
        // old one fades out while the new one fades in, with the model's change of layout.
        Motion::Curve curve = Motion::Curve::none();
        if (context_.isOpenHere()) {
            curve = context_.model->animation();
            if (curve.kind() == Motion::Curve::Kind::none) {
                curve = Motion::modelChange();
            }
        }
        if (body_) {
            leaving_[kind_] = body_;
        }
        leave(body_, curve);
        leave(empty_, curve);
        leave(emptyHeader_, curve);
        body_.clear();
        empty_.clear();
        emptyHeader_.clear();
        // The header's leading inset is the layout's.
        delete header_;
        header_ = nullptr;
        kind_ = plan.kind;
        crossFade_ = curve;
    }
    setFrame({QSizeF(plan.size.width(), plan.size.height() + plan.message), plan.topReserve,
              plan.bottomInset, plan.message, plan.messageOnTop});
}

double DrawerContent::messageRoom(const ShelfModel& model) {
    return model.pendingUndo() ? DrawerSize::messageRoom : 0;
}

void DrawerContent::setFrame(const Frame& frame) {
    prepareGeometryChange();
    frame_ = frame;
    layout_ = DrawerContentLayout::make(
        {frame.size, frame.band, frame.bandTop, frame.message, frame.messageOnTop});
    if (layout_.header) {
        if (!header_) {
            header_ = new ShelfHeader(context_, false, ShelfMetrics::edgeInset(kind_), this);
        }
        header_->setPos(layout_.header->topLeft());
        header_->setSize(layout_.header->size());
    } else if (header_) {
        delete header_;
        header_ = nullptr;
    }
    sync();
}

QGraphicsObject* DrawerContent::makeBody() {
    switch (kind_) {
    case ShelfLayoutKind::rail:
        return new SessionRailView(context_, this);
    case ShelfLayoutKind::column:
        return new EdgeColumnView(context_, this);
    case ShelfLayoutKind::stacks:
        return new TurnStacksView(context_, false, this);
    case ShelfLayoutKind::sideStacks:
        return new TurnStacksView(context_, true, this);
    }
    return nullptr;
}

void DrawerContent::sync() {
    const bool empty = !context_.model || context_.model->groups().isEmpty();
    const QRectF content = layout_.content;
    // Changes between empty and not animate only on the display whose drawer is open.
    const Motion::Curve curve = Motion::rowChange(context_.isOpenHere());

    const Motion::Curve entering = crossFade_.value_or(curve);
    crossFade_.reset();

    if (empty) {
        if (body_) {
            leaving_[kind_] = body_;
            leave(body_, curve);
            body_.clear();
        }
        double top = content.top();
        if (frame_.band == 0) {
            if (!emptyHeader_) {
                emptyHeader_ = new ShelfHeader(context_, kind_ == ShelfLayoutKind::sideStacks,
                                               ShelfMetrics::edgeInset(kind_), this);
                emptyHeader_->setOpacity(entering.kind() == Motion::Curve::Kind::none ? 1 : 0);
                OpacityFade::of(emptyHeader_, context_.clock)->to(1, entering);
            }
            emptyHeader_->setPos(content.left(), top + ShelfMetrics::columnPadding);
            emptyHeader_->setSize(QSizeF(content.width(), DisplayLayout::topBand));
            top += ShelfMetrics::columnPadding + DisplayLayout::topBand;
        } else if (emptyHeader_) {
            delete emptyHeader_.data();
        }
        if (!empty_) {
            empty_ = new EmptyShelf(context_, this);
            empty_->setOpacity(entering.kind() == Motion::Curve::Kind::none ? 1 : 0);
            OpacityFade::of(empty_, context_.clock)->to(1, entering);
        }
        empty_->setPos(content.left(), top);
        empty_->setSize(QSizeF(content.width(), std::max(0.0, content.bottom() - top)));
        empty_->update();
    } else {
        if (empty_) {
            delete empty_.data();
        }
        if (emptyHeader_) {
            delete emptyHeader_.data();
        }
        if (!body_) {
            // A layout still fading out comes back from where it is.
            if (auto found = leaving_.find(kind_);
                found != leaving_.end() && found->second && found->second->isVisible()) {
                body_ = found->second;
                body_->setEnabled(true);
                leaving_.erase(found);
            } else {
                body_ = makeBody();
                if (body_) {
                    body_->setOpacity(entering.kind() == Motion::Curve::Kind::none ? 1 : 0);
                }
            }
            if (body_) {
                OpacityFade::of(body_, context_.clock)->to(1, entering);
            }
        }
        if (body_) {
            body_->setPos(content.topLeft());
            if (auto* rail = qobject_cast<SessionRailView*>(body_)) {
                rail->setSize(content.size());
            } else if (auto* column = qobject_cast<EdgeColumnView*>(body_)) {
                column->setSize(content.size());
            } else if (auto* stacks = qobject_cast<TurnStacksView*>(body_)) {
                stacks->setSize(content.size());
            }
        }
    }

    const bool pending = context_.model && context_.model->pendingUndo().has_value();
    const Motion::Curve toastCurve =
        context_.model && context_.isOpenHere() ? Motion::standard() : Motion::Curve::none();
    OpacityFade* fade = OpacityFade::of(toast_, context_.clock);
    if (pending) {
        toast_->place(frame_.size, frame_.messageOnTop);
        // It slides in from the side of the drawer's edge it sits at, and out the same way.
        fade->setSlide(toast_->pos(), Motion::slide(frame_.messageOnTop).offsetY);
        if (!toast_->isVisible()) {
            toast_->setOpacity(toastCurve.kind() == Motion::Curve::Kind::none ? 1 : 0);
            toast_->setVisible(true);
        }
        fade->to(1, toastCurve);
    } else if (toast_->isVisible()) {
        QPointer<HideToast> toast = toast_;
        fade->to(0, toastCurve, [toast] {
            if (toast && toast->opacity() == 0) {
                toast->setVisible(false);
            }
        });
    }
}

} // namespace ostrel
