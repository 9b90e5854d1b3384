#include "support/ShelfModelTestSupport.h"

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

std::map<quint32, DisplayLayout> layoutsFor(std::initializer_list<quint32> displays) {
    std::map<quint32, DisplayLayout> layouts;
    for (const quint32 display : displays) {
        layouts.emplace(display, DisplayLayout(DisplayStyle::notch(), QRectF(0, 0, 1440, 900),
                                               std::nullopt, std::nullopt));
    }
    return layouts;
}

} // namespace

TEST(ShelfModelPointer, ReopeningQuicklyKeepsTheSelectionLaterItIsTidied) {
    ModelRig rig;
    rig.startWith(snapshotOf({shelfItem("a"), shelfItem("b")}));
    rig.model->setOpenScreen(1);
    rig.model->setSelectedItemID(QStringLiteral("a"));
    rig.publish(snapshotOf({shelfItem("a", "s1", true), shelfItem("b")})); // a seen while open
    rig.model->setOpenScreen(std::nullopt);
    rig.clock->advance(0.05);
    rig.model->setOpenScreen(1);
    rig.clock->advance(1);
    EXPECT_EQ(rig.model->selectedItemID(), QStringLiteral("a"));

    rig.model->setOpenScreen(std::nullopt);
    rig.clock->advance(0.2);
    EXPECT_FALSE(rig.model->selectedItemID().has_value());
    EXPECT_TRUE(rig.model->dotIDs().isEmpty());
    EXPECT_EQ(rig.model->unreadCount(), 1);
    rig.model->setOpenScreen(1);
    EXPECT_EQ(rig.model->dotIDs(), QSet<QString>{"b"});
}

TEST(ShelfModelPointer, OnlyNewContentIsRebuiltAfterTheClose) {
    ModelRig rig;
    rig.startWith(snapshotOf({shelfItem("a"), shelfItem("b")}));
    rig.model->setOpenScreen(1);
    rig.model->toggleOnlyNew();
    rig.publish(snapshotOf({shelfItem("a", "s1", true), shelfItem("b")}));
    EXPECT_EQ(rig.model->groups().front().items().size(), 2);
    rig.model->setOpenScreen(std::nullopt);
    rig.clock->advance(0.11);
    EXPECT_EQ(rig.model->groups().front().items().size(), 1);
}

TEST(ShelfModelPointer, WheelsGoToTheOpenDisplaysOneReceiver) {
    ModelRig rig;
    rig.startWith(snapshotOf({shelfItem("a")}));
    rig.model->setLayouts(layoutsFor({1, 2}));
    QList<StripScroll::Input> one, two;
    const QUuid first = rig.model->addWheelReceiver(1, [&](auto input) { one.append(input); });
    rig.model->addWheelReceiver(2, [&](auto input) { two.append(input); });

    EXPECT_FALSE(rig.model->scrollWheel(WheelSample::lines(0, 1), 1)); // closed
    rig.model->setOpenScreen(1);
    EXPECT_FALSE(rig.model->scrollWheel(WheelSample::lines(0, 1), 2));
    EXPECT_TRUE(rig.model->scrollWheel(WheelSample::lines(0, 1), 1));
    ASSERT_EQ(one.size(), 1);
    EXPECT_EQ(one[0], StripScroll::Input::line(-24));
    EXPECT_TRUE(rig.model->hoverFrozen());
    rig.model->pointerMoved(QPointF(11, 10));
    EXPECT_FALSE(rig.model->hoverFrozen());

    // A trackpad: touches, lifted, momentum, momentum ended; resting fingers press without
    // freezing the highlight.
    WheelSample touch{QPointF(0, 5), true, WheelSample::Phase::changed};
    WheelSample lift{QPointF(), true, WheelSample::Phase::ended};
    WheelSample glide{QPointF(0, 3), true, WheelSample::Phase::none, WheelSample::Momentum::active,
                      7.5};
    WheelSample stop{QPointF(), true, WheelSample::Phase::none, WheelSample::Momentum::ended};
    for (const auto& sample : {touch, lift, glide, stop}) {
        rig.model->scrollWheel(sample, 1);
    }
    EXPECT_EQ(one.mid(1), (QList<StripScroll::Input>{StripScroll::Input::touch(-5),
                                                     StripScroll::Input::lifted(),
                                                     StripScroll::Input::momentum(-3, 7.5),
                                                     StripScroll::Input::momentumEnded()}));
    rig.model->pointerMoved(QPointF(50, 50));
    rig.model->scrollWheel({QPointF(), true, WheelSample::Phase::mayBegin}, 1);
    EXPECT_EQ(one.back(), StripScroll::Input::press());
    EXPECT_FALSE(rig.model->hoverFrozen());

    // A strip that goes after its successor registered leaves the successor in place.
    rig.model->addWheelReceiver(1, [&](auto input) { two.append(input); });
    rig.model->removeWheelReceiver(first, 1);
    EXPECT_TRUE(rig.model->scrollWheel(WheelSample::lines(0, -1), 1));
    EXPECT_EQ(two.back(), StripScroll::Input::line(24));

    // A display that loses its layout loses its receiver.
    rig.model->setLayouts(layoutsFor({2}));
    EXPECT_FALSE(rig.model->scrollWheel(WheelSample::lines(0, 1), 1));
    EXPECT_EQ(rig.model->wheels().count(2), 1u);
}

TEST(ShelfModelPointer, DragsOutOneAtATimeAndCancelThePress) {
    ModelRig rig;
    rig.startWith(snapshotOf({shelfItem("a"), shelfItem("b")}));
    int ended = 0;
    rig.model->onInteractionEnded = [&] { ++ended; };
    rig.model->pressBegan();
    rig.model->beginDragOut(shelfItem("a"));
    rig.model->beginDragOut(shelfItem("b"));
    EXPECT_EQ(rig.dragOut->started, QStringList{"a"});
    EXPECT_TRUE(rig.dragOut->lastIcon.isNull()); // no cached thumbnail: no icon, still a drag
    EXPECT_TRUE(rig.model->isBusy());
    rig.model->click(shelfItem("a"), 1); // the press became a drag: no click
    EXPECT_FALSE(rig.model->selectedItemID().has_value());
    rig.dragOut->end();
    EXPECT_FALSE(rig.model->isDraggingOut());
    EXPECT_EQ(ended, 1);
}

TEST(ShelfModelPointer, TheDrawerStaysBuiltWhileBusyAndCoolsAfterwards) {
    ModelRig rig;
    rig.startWith(snapshotOf({shelfItem("a")}));
    rig.model->setOpenScreen(1);
    EXPECT_TRUE(rig.model->drawerBuilt());
    rig.model->setOpenScreen(std::nullopt);
    rig.menus->during = [&] { rig.clock->advance(31); };
    rig.model->showShelfMenu(nullptr);
    EXPECT_TRUE(rig.model->drawerBuilt());
    rig.menus->during = nullptr;
    rig.clock->advance(31);
    EXPECT_FALSE(rig.model->drawerBuilt());
}

TEST(ShelfModelPointer, TipsShowOnlyOnTheOpenIdleDisplay) {
    ModelRig rig;
    rig.startWith(snapshotOf({shelfItem("a")}));
    EXPECT_FALSE(rig.tips->canShow(1));
    rig.model->setOpenScreen(1);
    EXPECT_TRUE(rig.tips->canShow(1));
    EXPECT_FALSE(rig.tips->canShow(2));
    bool duringMenu = true;
    rig.menus->during = [&] { duringMenu = rig.tips->canShow(1); };
    rig.model->showKindMenu(nullptr);
    EXPECT_FALSE(duringMenu);
    EXPECT_TRUE(rig.tips->canShow(1));
}
