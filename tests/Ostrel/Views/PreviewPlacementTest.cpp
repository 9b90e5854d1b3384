#include "Ostrel/Views/PreviewPlacement.h"

#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Display/NotchGeometry.h"
#include "OstrelCore/Display/ShelfLayoutKind.h"

#include <gtest/gtest.h>

using namespace ostrel;

namespace {

constexpr QSize wanted{900, 700};

// The open drawer of a style on a screen of `size` (logical pixels), in Qt coordinates, as the
// application hands it to the preview.
QRect drawerOn(QSize size, const QString& style, LayoutChoice choice) {
    const QRectF frame(QPointF(0, 0), QSizeF(size));
    const DisplayLayout layout =
        DisplayLayout::make(DisplayStyleChoice::fromRawValue(style).value(),
                            NotchGeometry::compute(frame, 0, std::nullopt, std::nullopt), frame);
    const QRectF d = layout.hoverRect(
        layout.drawerRect(layout.drawerSize(resolveShelfLayoutKind(layout.style(), choice)), 0));
    return QRectF(d.x(), size.height() - d.bottom(), d.width(), d.height()).toAlignedRect();
}

// A card in the drawer's first row, at its trailing end.
QRect cardIn(const QRect& drawer) {
    return QRect(drawer.right() - 180, drawer.top() + 56, 160, 120);
}

QRect grown(const QRect& r, int by) {
    return r.adjusted(-by, -by, by, by);
}

} // namespace

TEST(PreviewPlacement, WithoutADrawerThePreviewIsCentredWithinTheMargins) {
    EXPECT_EQ(PreviewPlacement::centred({1600, 1000}, {0, 0, 1440, 875}), QRect(40, 40, 1360, 795));
    EXPECT_EQ(PreviewPlacement::centred({1600, 1000}, {1440, 25, 1440, 875}),
              QRect(1480, 65, 1360, 795));
    EXPECT_EQ(PreviewPlacement::centred({600, 400}, {0, 0, 1440, 875}), QRect(420, 237, 600, 400));
    EXPECT_EQ((PreviewPlacement{wanted, {0, 0, 1920, 1080}, std::nullopt, std::nullopt}.frame()),
              QRect(510, 190, 900, 700));
}

// Every style on the screens people use (1280 x 800 is also 2560 x 1600 at twice the scale):
// the preview keeps clear of the drawer, as large as the room beside it allows.
TEST(PreviewPlacement, EveryStyleOnEveryScreenKeepsClearOfTheDrawer) {
    for (const QSize screen : {QSize(1920, 1080), QSize(1280, 800), QSize(1440, 900)}) {
        for (const QString style : {"notch", "pill-left", "pill-bottom", "pill-right"}) {
            for (const LayoutChoice choice : {LayoutChoice::rail, LayoutChoice::stacks}) {
                const QRect drawer = drawerOn(screen, style, choice);
                SCOPED_TRACE(QStringLiteral("%1x%2 %3 %4")
                                 .arg(screen.width())
                                 .arg(screen.height())
                                 .arg(style, rawValue(choice))
                                 .toStdString());
                const QRect visible(QPoint(0, 0), screen);
                const QRect frame =
                    PreviewPlacement{wanted, visible, drawer, cardIn(drawer)}.frame();
                EXPECT_TRUE(grown(visible, -PreviewPlacement::margin).contains(frame));
                EXPECT_FALSE(frame.intersects(grown(drawer, PreviewPlacement::gap)));
                EXPECT_GE(frame.width(), PreviewPlacement::minimum.width());
                EXPECT_GE(frame.height(), PreviewPlacement::minimum.height());
            }
        }
    }
    // Below the notch's drawer, as tall as the screen leaves; beside a side column, full height.
    const QRect notch = drawerOn({1280, 800}, "notch", LayoutChoice::rail);
    EXPECT_EQ((PreviewPlacement{wanted, {0, 0, 1280, 800}, notch, std::nullopt}.frame()),
              QRect(190, 336, 900, 424));
    const QRect column = drawerOn({1280, 800}, "pill-left", LayoutChoice::rail);
    EXPECT_EQ((PreviewPlacement{wanted, {0, 0, 1280, 800}, column, std::nullopt}.frame()),
              QRect(516, 50, 724, 700));
    // Where the whole preview fits beside the drawer, it keeps its size and stays near the middle.
    const QRect wide = drawerOn({1920, 1080}, "notch", LayoutChoice::rail);
    EXPECT_EQ((PreviewPlacement{wanted, {0, 0, 1920, 1080}, wide, std::nullopt}.frame()),
              QRect(510, 336, 900, 700));
}

// A screen with no room beside the drawer: the preview lies over the drawer, but never over its
// header or the selected card; a screen smaller than the preview's minimum keeps it whole.
TEST(PreviewPlacement, WithoutRoomItCoversTheDrawerButNotItsHeaderOrCardAndStaysOnScreen) {
    const QRect visible(0, 0, 1024, 600);
    const QRect drawer = drawerOn(visible.size(), "notch", LayoutChoice::rail);
    const QRect card = cardIn(drawer);
    const QRect frame = PreviewPlacement{wanted, visible, drawer, card}.frame();
    EXPECT_TRUE(frame.intersects(drawer));
    EXPECT_FALSE(frame.intersects(
        QRect(drawer.topLeft(), QSize(drawer.width(), PreviewPlacement::headerDepth))));
    EXPECT_FALSE(frame.intersects(card));
    EXPECT_TRUE(visible.contains(frame));
    EXPECT_GE(frame.height(), PreviewPlacement::minimum.height());

    for (const QRect small : {QRect(0, 0, 320, 240), QRect(0, 0, 100, 80), QRect(50, 20, 8, 6)}) {
        SCOPED_TRACE(small.width());
        const QRect over = small.adjusted(0, 0, 0, -small.height() / 3);
        const QRect placed = PreviewPlacement{wanted, small, over, over}.frame();
        EXPECT_FALSE(placed.isEmpty());
        EXPECT_TRUE(small.contains(placed));
    }
}
