#include "Ostrel/Surface/ShelfView.h"

#include "OstrelCore/Display/Motion.h"
#include "support/ShelfModelTestSupport.h"

#include <gtest/gtest.h>

#include <memory>

using namespace ostrel;
using namespace ostrel::test;

namespace {

DisplayLayout pill() {
    return DisplayLayout(DisplayStyle::pill(PillSide::left), QRectF(0, 0, 1920, 1080),
                         QRectF(0, 0, 1920, 1050), std::nullopt);
}

} // namespace

TEST(ShelfViewModel, FollowsTheModelsValuesForItsDisplay) {
    ModelRig rig;
    ShelfModel& model = *rig.model;
    std::unique_ptr<ShelfView> view(ShelfView::create(model, 3));
    EXPECT_FALSE(view->inputs().layout.has_value());
    EXPECT_TRUE(view->boundingRect().isEmpty());

    model.setLayouts({{3, pill()}, {4, pill()}});
    ASSERT_TRUE(view->inputs().layout.has_value());
    EXPECT_FALSE(view->boundingRect().isEmpty());

    model.setFullscreen({4});
    EXPECT_FALSE(view->inputs().fullscreen);
    model.setFullscreen({3});
    EXPECT_TRUE(view->inputs().fullscreen);

    model.setPeekHovered(3);
    EXPECT_EQ(view->inputs().peekHovered, 3u);
    // The panel sinks and rises on the curve the style change announces with the flag.
    model.setStyleSunk(true, Motion::styleLeave());
    EXPECT_TRUE(view->inputs().styleSunk);
    EXPECT_EQ(view->inputs().sunkCurve, Motion::styleLeave());
    EXPECT_LT(view->motion().sunk, 0.5);
    model.setStyleSunk(false);
    EXPECT_EQ(view->motion().sunk, 0);
    model.setStyleSunk(true);
    EXPECT_EQ(view->motion().sunk, 1);

    model.setOpenScreen(3);
    EXPECT_EQ(view->inputs().openScreen, 3u);
    EXPECT_EQ(view->accessibleLabel(), "Ostrel shelf");
}

TEST(ShelfViewModel, ATapOnThePeekCardAsksTheShellToOpenThatDisplay) {
    ModelRig rig;
    std::optional<quint32> opened;
    rig.model->onPeekTapped = [&](quint32 display) { opened = display; };
    std::unique_ptr<ShelfView> view(ShelfView::create(*rig.model, 5));
    view->cardTapped();
    EXPECT_EQ(opened, 5u);
    // A view that outlives its model does nothing.
    rig.model.reset();
    view->cardTapped();
    view->cardDragged({0, 50}, {0, 50}, true);
}
