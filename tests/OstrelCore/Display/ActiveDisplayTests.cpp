#include "OstrelCore/Display/ActiveDisplay.h"

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::ActiveDisplay;

namespace {

const Displays twoDisplays{{1, QRectF(0, 0, 1920, 1080)}, {2, QRectF(1920, 0, 1920, 1080)}};

Window window(qint32 pid, const QRectF& bounds) {
    return Window{pid, 0, 1.0, bounds};
}

} // namespace

TEST(ActiveDisplay, PickFollowsTheFrontApplicationsFirstQualifyingWindow) {
    // Too narrow by a point: the previous display stays while it exists.
    const std::vector<Window> narrow{window(500, QRectF(2000, 10, 79, 300))};
    EXPECT_EQ(pick(narrow, 500, twoDisplays, 1), 1u);
    EXPECT_EQ(pick(narrow, 500, twoDisplays, 7), std::nullopt);
    EXPECT_EQ(pick(narrow, std::nullopt, twoDisplays, 2), 2u);

    // Spanning two displays: the larger part wins, an exact split goes to the lower id.
    EXPECT_EQ(pick({window(500, QRectF(1800, 0, 400, 400))}, 500, twoDisplays, 1), 2u);
    EXPECT_EQ(pick({window(500, QRectF(1720, 0, 400, 400))}, 500, twoDisplays, 2), 1u);

    // Other processes, other layers, invisible windows and windows off every display are passed.
    const std::vector<Window> mixed{
        window(9, QRectF(0, 0, 500, 500)), Window{500, 3, 1.0, QRectF(0, 0, 500, 500)},
        Window{500, 0, 0.0, QRectF(0, 0, 500, 500)}, window(500, QRectF(-900, -900, 500, 500)),
        window(500, QRectF(2500, 100, 300, 300))};
    EXPECT_EQ(pick(mixed, 500, twoDisplays, 1), 2u);
}

TEST(ActiveDisplay, DesktopClickPinsItsDisplayUntilTheUserReturnsToTheEditor) {
    const std::vector<Window> editorOnOne{window(500, QRectF(100, 100, 800, 600))};
    Tracker t;
    EXPECT_TRUE(t.update(editorOnOne, 500, 300, twoDisplays));
    EXPECT_EQ(t.active, 1u);

    const Hit h = hit(QPointF(2500, 500), editorOnOne, twoDisplays);
    EXPECT_EQ(h, Hit(Desktop{2}));
    t.click(h, 500, 300);
    EXPECT_EQ(t.active, 1u); // a click alone changes nothing
    EXPECT_TRUE(t.update(editorOnOne, 500, 300, twoDisplays));
    EXPECT_EQ(t.active, 2u);

    // The file manager comes forward: the pin holds and narrows to it.
    EXPECT_FALSE(t.update(editorOnOne, 300, 300, twoDisplays));
    EXPECT_EQ(t.pin->pids, QSet<qint32>({300}));
    // Back in the editor: the pin is gone and the editor's window decides.
    EXPECT_TRUE(t.update(editorOnOne, 500, 300, twoDisplays));
    EXPECT_EQ(t.active, 1u);
    EXPECT_FALSE(t.pin.has_value());
}

TEST(ActiveDisplay, ClicksOnWindowsDropThePinAndOtherClicksKeepIt) {
    const std::vector<Window> windows{window(500, QRectF(100, 100, 800, 600)),
                                      Window{77, 20, 1.0, QRectF(0, 0, 3840, 30)}};
    EXPECT_EQ(hit(QPointF(200, 200), windows, twoDisplays), Hit(OnWindow{}));
    EXPECT_EQ(hit(QPointF(2000, 10), windows, twoDisplays), Hit(Other{}));
    EXPECT_EQ(hit(QPointF(5000, 10), windows, twoDisplays), Hit(Other{}));

    Tracker t;
    t.click(Desktop{2}, 500, std::nullopt);
    t.click(Other{}, 500, std::nullopt);
    ASSERT_TRUE(t.pin.has_value());
    t.click(OnWindow{}, 500, std::nullopt);
    EXPECT_FALSE(t.pin.has_value());

    // A pinned display that went away drops the pin at the next update.
    t.click(Desktop{2}, 500, std::nullopt);
    EXPECT_TRUE(t.update(windows, 500, std::nullopt, {{1, QRectF(0, 0, 1920, 1080)}}));
    EXPECT_FALSE(t.pin.has_value());
    EXPECT_EQ(t.active, 1u);
}

TEST(ActiveDisplay, ShownKeepsABusyShelfAndOtherwiseFollowsTheActiveDisplay) {
    const QSet<quint32> ids{1, 2, 5};
    EXPECT_EQ(shown(2, 1, false, ids, 1), 2u);
    EXPECT_EQ(shown(2, 1, true, ids, 1), 1u);
    EXPECT_EQ(shown(9, 5, false, ids, 1), 5u);
    EXPECT_EQ(shown(std::nullopt, std::nullopt, false, ids, 2), 2u);
    EXPECT_EQ(shown(std::nullopt, std::nullopt, false, ids, std::nullopt), 1u);
    EXPECT_EQ(shown(1, 1, true, {}, 1), std::nullopt);
}

TEST(FullscreenCheck, AShownFullScreenWindowMarksOnlyItsDisplay) {
    using FullscreenCheck::Window;
    EXPECT_TRUE(FullscreenCheck::displays({}, twoDisplays).isEmpty());
    // Within half a point of the second display.
    EXPECT_EQ(FullscreenCheck::displays({Window{QRectF(1920.5, 0, 1919.6, 1080), true, false}},
                                        twoDisplays),
              QSet<quint32>({2}));
    // Not flagged, or flagged but hidden: nothing.
    EXPECT_TRUE(FullscreenCheck::displays({Window{QRectF(0, 0, 1920, 1080), false, false},
                                           Window{QRectF(0, 0, 1920, 1080), true, true}},
                                          twoDisplays)
                    .isEmpty());
    // A flagged window that matches no display marks the one holding most of it.
    EXPECT_EQ(
        FullscreenCheck::displays({Window{QRectF(100, 0, 1900, 1000), true, false}}, twoDisplays),
        QSet<quint32>({1}));
}
