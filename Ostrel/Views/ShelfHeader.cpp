#include "Ostrel/Views/ShelfHeader.h"

#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Views/FilterChip.h"
#include "Ostrel/Views/HeaderIconButton.h"
#include "Ostrel/Views/MenuPress.h"
#include "Ostrel/Views/ProjectSwitcher.h"
#include "Ostrel/Views/UnreadLabel.h"
#include "OstrelCore/Display/Motion.h"
#include "OstrelCore/Display/ShelfStyle.h"

#include <QFontMetricsF>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace ostrel {

ShelfHeader::ShelfHeader(const ViewContext& context, bool compact, double leading,
                         QGraphicsItem* parent)
    : QGraphicsObject(parent), context_(context), compact_(compact), leading_(leading),
      switcher_(new ProjectSwitcher(context, this)),
      chip_(new FilterChip(
          QString(),
          [model = QPointer<ShelfModel>(context.model)] {
              if (model) {
                  model->clearKinds();
              }
          },
          this)),
      unread_(new UnreadLabel(compact, context.clock, this)),
      filter_(new FilterButton(context, this)), menu_(new HeaderMenu(context, this)) {
    setFlag(ItemHasNoContents);
    setAcceptedMouseButtons(Qt::NoButton);
    if (ShelfModel* model = context_.model) {
        unread_->setCount(model->unreadCount(), Motion::Curve::none());
        for (auto signal : {&ShelfModel::filterChanged, &ShelfModel::unreadCountChanged,
                            &ShelfModel::layoutsChanged, &ShelfModel::groupsChanged}) {
            connect(model, signal, this, &ShelfHeader::sync);
        }
    }
    connect(unread_, &UnreadLabel::textWidthChanged, this, &ShelfHeader::place);
    sync();
}

void ShelfHeader::setSize(QSizeF size) {
    prepareGeometryChange();
    size_ = size;
    sync();
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
    return unread_->text();
}

QString ShelfHeader::filterLabel() const {
    return filter_->label();
}

QString ShelfHeader::projectText() const {
    return switcher_->text();
}

QWidget* ShelfHeader::pressWidget() const {
    for (MenuPress* press : {switcher_->press(), filter_->press(), menu_->press()}) {
        if (press->pressView()) {
            return press->pressView();
        }
    }
    return nullptr;
}

void ShelfHeader::orderAccessibleChildren(QList<QGraphicsObject*>& children) const {
    std::stable_sort(children.begin(), children.end(),
                     [](const QGraphicsObject* a, const QGraphicsObject* b) {
                         return a->sceneBoundingRect().left() < b->sceneBoundingRect().left();
                     });
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
        if (!unreadText().isEmpty()) {
            // What the count takes now: a number of another width rolling in moves the controls
            // before it along.
            in.unreadText = unread_->textWidth();
        }
    }
    return ShelfHeaderLayout::make(in);
}

void ShelfHeader::sync() {
    if (context_.model) {
        // The count rolls to its new number only where the shelf is open.
        unread_->setCount(context_.model->unreadCount(), Motion::rowChange(context_.isOpenHere()));
    }
    place();
}

void ShelfHeader::place() {
    const ShelfHeaderLayout l = layout();
    switcher_->setPos(l.switcher.topLeft());
    switcher_->setFrame(l.switcher.size(), l.projectTextWidth);

    const auto chipLabel = context_.model ? context_.model->filter().chipLabel() : std::nullopt;
    // Hidden rather than deleted: a click on the chip clears the filters from inside its own
    // release.
    chip_->setVisible(chipLabel && l.chip);
    if (chipLabel && l.chip) {
        chip_->setLabel(*chipLabel);
        chip_->setPos(l.chip->topLeft());
        chip_->setSize(l.chip->size());
    }

    unread_->setVisible(l.unread.has_value());
    if (l.unread) {
        unread_->setPos(l.unread->topLeft());
        unread_->setSize(l.unread->size());
    }
    filter_->refresh();
    filter_->setPos(l.filterButton.topLeft());
    menu_->setPos(l.menuButton.topLeft());
}

} // namespace ostrel
