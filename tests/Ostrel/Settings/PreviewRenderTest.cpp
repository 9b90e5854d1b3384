#include "Ostrel/Settings/DisplayStylePreview.h"
#include "Ostrel/Settings/LayoutPreview.h"
#include "Ostrel/Settings/SignalPreview.h"
#include "PreviewSupport.h"

#include <QImage>

#include <gtest/gtest.h>

namespace ostrel::test {
namespace {

// 1440 × 900 with a 30-point top bar and a 60-point panel at the bottom: exactly 160 × 100 when
// shown whole.
PreviewDisplay display(const DisplayStyleChoice& choice,
                       const std::optional<QRectF>& notch = std::nullopt) {
    return PreviewDisplay::make(choice, QRectF(0, 0, 1440, 900), QRectF(0, 60, 1440, 810), notch,
                                DockSide::bottom);
}

// The colour at a preview point (renders have two pixels a point).
QColor pixel(const QImage& image, QPointF p) {
    return image.pixelColor(static_cast<int>(p.x() * 2), static_cast<int>(p.y() * 2));
}

int brightness(const QColor& c) {
    return (c.red() + c.green() + c.blue()) / 3;
}

using PreviewRenderTest = PreviewFixture;

TEST_F(PreviewRenderTest, MiniScreenDrawsWallpaperTopBarPanelAndRoundedFrame) {
    setPreviewsPlaying(host.get(), false);
    auto* preview = adopt(new DisplayStylePreview(display(DisplayStyleChoice::notch()), {}));
    const QImage image = preview->render();
    keep(preview, QStringLiteral("screen-still"));

    const QColor wallpaper = pixel(image, {10, 50});
    EXPECT_GT(wallpaper.blue(), wallpaper.red());
    EXPECT_GT(brightness(wallpaper), 35);
    EXPECT_LT(brightness(wallpaper), 100);
    // Top bar over the wallpaper's top, the panel over its bottom.
    EXPECT_GT(brightness(pixel(image, {10, 1.5})), brightness(pixel(image, {10, 6})) + 10);
    EXPECT_GT(brightness(pixel(image, {80, 98})), brightness(pixel(image, {8, 98})) + 20);
    // Rounded corners leave the frame's very corner empty.
    EXPECT_LT(pixel(image, {0.2, 0.2}).alpha(), 128);
    // The still frame is the open drawer: black under its empty session list.
    const DisplayLayout& layout = preview->display().layout;
    const QRectF open =
        preview->space().map(layout.drawerRect(layout.drawerSize(ShelfLayoutKind::rail), 0));
    EXPECT_LT(brightness(pixel(image, {open.left() + 4, open.bottom() - 4})), 10);
}

TEST_F(PreviewRenderTest, HousingIsDrawnBlackOnlyWhenTheShelfIsAPill) {
    const QRectF housing(620, 870, 200, 30);
    setPreviewsPlaying(host.get(), false);
    auto* pill =
        adopt(new SignalPreview(display(DisplayStyleChoice::pill(PillSide::bottom), housing), {}));
    auto* housed = adopt(
        new DisplayStylePreview(display(DisplayStyleChoice::pill(PillSide::bottom), housing), {}));
    // In the style preview the whole screen shows: the housing is at the top centre.
    EXPECT_LT(brightness(pixel(housed->render(), {80, 1})), 10);
    EXPECT_TRUE(pill->display().notch.has_value());
    // The notch style draws it as the shelf: closed and black.
    auto* signal = adopt(new SignalPreview(display(DisplayStyleChoice::notch(), housing), {}));
    const QRectF notch = signal->space().map(housing);
    EXPECT_LT(brightness(pixel(signal->render(), notch.center())), 10);
}

TEST_F(PreviewRenderTest, GlowTintsTheScreenBelowTheNotchWhileLit) {
    auto* preview = adopt(new SignalPreview(PreviewDisplay::standard(), {}));
    const QRectF notch = preview->space().map(*PreviewDisplay::standard().notch);
    const QPointF below(notch.center().x(), notch.bottom() + 6);
    at(preview, 0.5);
    const QColor unlit = pixel(preview->render(), below);
    EXPECT_GT(unlit.blue(), unlit.red());
    at(preview, 1.36);
    keep(preview, QStringLiteral("signal-lit"));
    const QColor lit = pixel(preview->render(), below);
    EXPECT_GT(lit.red(), lit.blue() + 30);
}

TEST_F(PreviewRenderTest, CountBadgeShowsWhiteDigitsRightOfTheNotchOnlyForTheCount) {
    setPreviewsPlaying(host.get(), false);
    SignalPreview::Inputs count;
    count.signal = ArrivalSignal::count;
    const auto brightest = [](PreviewView* preview, const QRectF& area) {
        const QImage image = preview->render();
        int best = 0;
        for (double y = area.top(); y < area.bottom(); y += 0.5) {
            for (double x = area.left(); x < area.right(); x += 0.5) {
                best = std::max(best, brightness(pixel(image, {x, y})));
            }
        }
        return best;
    };
    auto* counting = adopt(new SignalPreview(PreviewDisplay::standard(), count));
    keep(counting, QStringLiteral("signal-count"));
    const QRectF notch = counting->space().map(*PreviewDisplay::standard().notch);
    const QRectF badge(notch.right() - 2, notch.top(), 24 * 0.6 + 2, notch.height());
    EXPECT_GT(brightest(counting, badge), 180);
    auto* glowing = adopt(new SignalPreview(PreviewDisplay::standard(), {}));
    EXPECT_LT(brightest(glowing, badge), 120);
}

TEST_F(PreviewRenderTest, SelectionMovesTheRowHighlight) {
    auto* preview = adopt(new LayoutPreview(PreviewDisplay::standard(), LayoutChoice::rail));
    const QPointF row1 = LayoutPreview::pointerTarget(preview->display(), ShelfLayoutKind::rail,
                                                      preview->space(), true) -
                         QPointF(3, 0);
    const QPointF row0 = LayoutPreview::pointerTarget(preview->display(), ShelfLayoutKind::rail,
                                                      preview->space(), false) -
                         QPointF(3, 0);
    at(preview, 0.5);
    QImage image = preview->render();
    EXPECT_GT(brightness(pixel(image, row0)), brightness(pixel(image, row1)) + 8);
    at(preview, 2.0);
    keep(preview, QStringLiteral("layout-second-row"));
    image = preview->render();
    EXPECT_GT(brightness(pixel(image, row1)), brightness(pixel(image, row0)) + 8);
}

TEST_F(PreviewRenderTest, OpeningDrawerGrowsFromThePill) {
    auto* preview =
        adopt(new DisplayStylePreview(display(DisplayStyleChoice::pill(PillSide::left)), {}));
    const QRectF open = preview->space().map(preview->display().layout.drawerRect(
        preview->display().layout.drawerSize(ShelfLayoutKind::column), 0));
    const QPointF inside(open.left() + 4, open.bottom() - 4);
    at(preview, 0.5);
    EXPECT_GT(brightness(pixel(preview->render(), inside)), 35);
    at(preview, 3.0);
    keep(preview, QStringLiteral("style-left-open"));
    EXPECT_LT(brightness(pixel(preview->render(), inside)), 10);
}

} // namespace
} // namespace ostrel::test
