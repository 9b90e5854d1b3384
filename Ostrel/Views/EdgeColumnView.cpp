#include "Ostrel/Views/EdgeColumnView.h"

#include "Ostrel/Views/ShelfHeader.h"
#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Display/ShelfLayoutKind.h"
#include "OstrelCore/Display/ShelfMetrics.h"

#include <algorithm>

namespace ostrel {

EdgeColumnView::Layout EdgeColumnView::Layout::make(QSizeF size) {
    const double top = ShelfMetrics::columnPadding;
    const double side = ShelfMetrics::drawerPadding;
    Layout out;
    // The header spans the drawer's full width, across the side padding the split keeps.
    out.header = QRectF(0, top, size.width(), DisplayLayout::topBand);
    const double splitTop = out.header.bottom() + spacing;
    out.split = QRectF(side, splitTop, std::max(0.0, size.width() - 2 * side),
                       std::max(0.0, size.height() - ShelfMetrics::contentPadding - splitTop));
    return out;
}

EdgeColumnView::EdgeColumnView(const ViewContext& context, QGraphicsItem* parent)
    : QGraphicsObject(parent), header_(new ShelfHeader(context, false, headerLeading, this)),
      split_(new SessionSplit(context, splitArrangement(), this)) {
    setFlag(ItemHasNoContents);
}

SessionSplit::Arrangement EdgeColumnView::splitArrangement() {
    return {sidebarWidth, thumb, columns(ShelfLayoutKind::column), QMarginsF()};
}

void EdgeColumnView::setSize(QSizeF size) {
    prepareGeometryChange();
    size_ = size;
    const Layout layout = Layout::make(size);
    header_->setPos(layout.header.topLeft());
    header_->setSize(layout.header.size());
    split_->setPos(layout.split.topLeft());
    split_->setSize(layout.split.size());
}

} // namespace ostrel
