#include "Ostrel/Views/PreviewPlacement.h"

#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Display/NotchGeometry.h"
#include "OstrelCore/Display/ShelfLayoutKind.h"

#include <gtest/gtest.h>

#include <vector>

using namespace ostrel;

namespace {

constexpr QSize wanted{900, 700};

// The depth of a drawer's header band as the preview minds it: the 32-pixel band, 8 into a bottom
// pill's drawer, which lies 10 inside the frame the preview is given.
constexpr int headerDepth = 10 + 8 + 32;

// The open drawer of a style on a screen of `size` (logical pixels), in Qt coordinates, as the
// application hands it to the preview; `visible` (Qt coordinates) is the screen less its panels.
QRect drawerOn(QSize size, const QString& style, LayoutChoice choice,
               std::optional<QRect> visible = std::nullopt) {
    const QRectF frame(QPointF(0, 0), QSizeF(size));
    const QRect v = visible.value_or(QRect(QPoint(0, 0), size));
    const QRectF flipped(v.x(), size.height() - v.y() - v.height(), v.width(), v.height());
    const DisplayLayout layout =
        DisplayLayout::make(DisplayStyleChoice::fromRawValue(style).value(),
                            NotchGeometry::compute(frame, 0, std::nullopt, std::nullopt), flipped);
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

// The header band and the cards of a drawer, as far as the preview minds them: the band at its
// top, then cards of `card` size along its first and last rows, at both ends and in the middle.
QList<QRect> cardsIn(const QRect& drawer, QSize card) {
    const QRect body = drawer.adjusted(14, headerDepth, -14, -12);
    QList<QRect> cards;
    for (const int y : {body.top(), body.bottom() + 1 - card.height()}) {
        for (const int x :
             {body.left(), body.center().x() - card.width() / 2, body.right() + 1 - card.width()}) {
            cards.append(QRect(QPoint(x, y), card).intersected(body));
        }
    }
    return cards;
}

// The smallest panel within an openbox frame.
const QSize smallest = QSize(240, 180).grownBy(QMargins(1, 23, 1, 1));

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
                EXPECT_GE(frame.width(), 400);
                EXPECT_GE(frame.height(), 300);
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
    // Beside a right column it keeps its size too, pushed from the middle up to the drawer's gap,
    // to the last pixel of its space.
    const QRect right = drawerOn({1920, 1080}, "pill-right", LayoutChoice::rail);
    const QRect beside = PreviewPlacement{wanted, {0, 0, 1920, 1080}, right, cardIn(right)}.frame();
    EXPECT_EQ(beside.size(), wanted);
    EXPECT_EQ(beside.right(), right.left() - PreviewPlacement::gap - 1);
}

// A screen with no room beside the drawer: the preview lies over the drawer, but never over its
// header or the selected card; a screen smaller than the preview's minimum keeps it whole.
TEST(PreviewPlacement, WithoutRoomItCoversTheDrawerButNotItsHeaderOrCardAndStaysOnScreen) {
    // A 1920 x 1080 laptop at twice the scale, a 32-pixel bar at the top, the bottom pill.
    const QRect visible(0, 32, 960, 508);
    const QRect drawer = drawerOn({960, 540}, "pill-bottom", LayoutChoice::rail, visible);
    const QRect card = cardIn(drawer);
    const QRect frame = PreviewPlacement{wanted, visible, drawer, card, smallest}.frame();
    // Over the drawer, just clear of its header band.
    EXPECT_EQ(frame.top(), drawer.top() + headerDepth + PreviewPlacement::gap);
    EXPECT_TRUE(frame.intersects(drawer));
    EXPECT_FALSE(frame.intersects(QRect(drawer.topLeft(), QSize(drawer.width(), headerDepth))));
    EXPECT_FALSE(frame.intersects(card));
    EXPECT_TRUE(visible.contains(frame));
    EXPECT_GE(frame.height(), smallest.height());
    EXPECT_GE(frame.width(), smallest.width());

    for (const QRect small : {QRect(0, 0, 320, 240), QRect(0, 0, 100, 80), QRect(50, 20, 8, 6)}) {
        SCOPED_TRACE(small.width());
        const QRect over = small.adjusted(0, 0, 0, -small.height() / 3);
        const QRect placed = PreviewPlacement{wanted, small, over, over}.frame();
        EXPECT_FALSE(placed.isEmpty());
        EXPECT_TRUE(small.contains(placed));
    }
}

// Screens from 800 x 600 to 5120 x 2880 at every scale, a panel on any edge, every style and
// arrangement, any card selected: the preview stays whole on the screen and shrinks to keep clear
// of the drawer where the screen holds its smallest frame beside it; when it must lie over the
// drawer it leaves the header band and the selected card in view wherever the screen holds the
// smallest frame beside those.
TEST(PreviewPlacement, OnSmallScreensItShrinksBeforeItCoversAndLeavesTheHeaderAndCardInView) {
    struct Screen {
        QSize size;
        QRect visible;
        // Whether the screen holds the smallest frame beside the header and any card.
        bool room = true;
    };
    std::vector<Screen> screens;
    for (const QSize pixels : {QSize(800, 600), QSize(1024, 600), QSize(1280, 800),
                               QSize(1920, 1080), QSize(2560, 1600), QSize(5120, 2880)}) {
        for (const double scale : {1.0, 1.25, 1.5, 2.0}) {
            const QSize size((pixels.toSizeF() / scale).toSize());
            const QRect whole(QPoint(0, 0), size);
            // 800 x 600 at 1.25 and more: a card in the middle leaves too little on either side.
            const bool room = size.width() >= 800 && size.height() >= 500;
            for (const QMargins panel : {QMargins(), QMargins(0, 32, 0, 0), QMargins(0, 0, 0, 48),
                                         QMargins(48, 0, 0, 0), QMargins(0, 0, 48, 0)}) {
                screens.push_back({size, whole.marginsRemoved(panel), room});
            }
        }
    }
    int clearOfTheDrawer = 0;
    int overTheDrawer = 0;
    for (const Screen& screen : screens) {
        for (const QString style : {"notch", "pill-left", "pill-bottom", "pill-right"}) {
            for (const LayoutChoice choice : {LayoutChoice::rail, LayoutChoice::stacks}) {
                const QRect drawer = drawerOn(screen.size, style, choice, screen.visible);
                const QSize card = choice == LayoutChoice::rail ? QSize(160, 120) : QSize(112, 84);
                for (const QRect& selected : cardsIn(drawer, card)) {
                    SCOPED_TRACE(QStringLiteral("%1x%2 visible %3,%4 %5x%6 %7 %8 card at %9,%10")
                                     .arg(screen.size.width())
                                     .arg(screen.size.height())
                                     .arg(screen.visible.x())
                                     .arg(screen.visible.y())
                                     .arg(screen.visible.width())
                                     .arg(screen.visible.height())
                                     .arg(style, rawValue(choice))
                                     .arg(selected.x())
                                     .arg(selected.y())
                                     .toStdString());
                    const QRect frame =
                        PreviewPlacement{wanted, screen.visible, drawer, selected, smallest}
                            .frame();
                    ASSERT_TRUE(screen.visible.contains(frame));
                    EXPECT_GE(frame.width(), smallest.width());
                    EXPECT_GE(frame.height(), smallest.height());
                    if (screen.room) {
                        EXPECT_FALSE(frame.intersects(
                            QRect(drawer.topLeft(), QSize(drawer.width(), headerDepth))));
                        EXPECT_FALSE(frame.intersects(selected));
                    }
                    ++(frame.intersects(drawer) ? overTheDrawer : clearOfTheDrawer);
                }
            }
        }
    }
    EXPECT_GT(overTheDrawer, 0) << "some screens leave no room beside the drawer";
    EXPECT_GT(clearOfTheDrawer, 0);
    // Where only the margins stand in the way, they go before any of the drawer is covered.
    EXPECT_EQ(
        (PreviewPlacement{wanted, {0, 0, 800, 500}, QRect(100, 0, 600, 250), std::nullopt, smallest}
             .frame()),
        QRect(0, 266, 800, 234));
    // The notch's rail drawer on 1024 x 600 leaves a strip below it.
    const QRect visible(0, 0, 1024, 600);
    const QRect drawer = drawerOn(visible.size(), "notch", LayoutChoice::rail);
    const QRect frame = PreviewPlacement{wanted, visible, drawer, cardIn(drawer), smallest}.frame();
    EXPECT_EQ(frame, QRect(62, drawer.bottom() + 1 + PreviewPlacement::gap, 900,
                           visible.bottom() + 1 - PreviewPlacement::margin -
                               (drawer.bottom() + 1 + PreviewPlacement::gap)));
    // Beside a left column on 780 x 600 the margins give way, and the preview runs to the screen's
    // right and bottom edges, to the last pixel.
    const QRect narrow(0, 0, 780, 600);
    const QRect column = drawerOn(narrow.size(), "pill-left", LayoutChoice::rail);
    EXPECT_EQ((PreviewPlacement{wanted, narrow, column, std::nullopt, smallest}.frame()),
              QRect(QPoint(column.right() + 1 + PreviewPlacement::gap, 0), narrow.bottomRight()));
}

// Where two sides of the drawer give the preview the same room and the same way to go, below
// comes before above and right before left.
TEST(PreviewPlacement, TiedSidesGoBelowBeforeAboveAndRightBeforeLeft) {
    const QRect visible(0, 0, 1000, 1000);
    // A band across the middle, as tall as the preview: as much room and way above as below.
    EXPECT_EQ(
        (PreviewPlacement{{300, 200}, visible, QRect(0, 400, 1000, 200), std::nullopt}.frame()),
        QRect(350, 616, 300, 200));
    // A column down the middle, as wide as the preview: nothing above or below.
    EXPECT_EQ(
        (PreviewPlacement{{200, 300}, visible, QRect(400, 0, 200, 1000), std::nullopt}.frame()),
        QRect(616, 350, 200, 300));
}
