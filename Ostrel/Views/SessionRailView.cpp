#include "Ostrel/Views/SessionRailView.h"

#include "OstrelCore/Display/ShelfLayoutKind.h"

namespace ostrel {

SessionRailView::SessionRailView(const ViewContext& context, QGraphicsItem* parent)
    : SessionSplit(context, railArrangement(), parent) {}

SessionSplit::Arrangement SessionRailView::railArrangement() {
    return {RailLayout::sidebarWidth, thumb, ostrel::columns(ShelfLayoutKind::rail),
            RailLayout::padding};
}

} // namespace ostrel
