#include "Ostrel/Views/ShelfTips.h"
#include "OstrelCore/Display/ShelfStyle.h"

#include "support/GeometryPrinters.h"

#include <gtest/gtest.h>

#include <QGraphicsRectItem>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QImage>
#include <QPainter>

#include <cmath>

using namespace ostrel;

namespace {

// A panel of 400 x 200 at (100, 50) with labels registered as tip anchors.
struct TipsFixture : ::testing::Test {
    std::shared_ptr<ManualMainClock> clock = std::make_shared<ManualMainClock>();
    std::unique_ptr<ShelfTips> tips;
    QGraphicsScene scene{0, 0, 400, 200};
    QGraphicsView view{&scene};
    std::vector<std::shared_ptr<TipAnchor>> anchors;
    bool open = true;

    void SetUp() override { start(1.0); }

    void start(double scale) {
        tips = std::make_unique<ShelfTips>(clock, scale);
        tips->canShow = [this](quint32 display) { return open && display == 7; };
        view.setFrameStyle(0);
        view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.setGeometry(100, 50, 400, 200);
        view.show();
    }

    // A label at `rect` (scene coordinates) whose text is cut unless `fits`.
    std::shared_ptr<TipAnchor> label(QRectF rect, const QString& title, bool cut = true) {
        auto* item = scene.addRect(rect);
        auto anchor = std::make_shared<TipAnchor>(item);
        anchor->rect = rect; // the item's bounds would include its pen
        anchor->tip = ShelfTip{title, std::nullopt, ShelfTip::defaultFont()};
        auto fit = std::make_shared<TipFit>();
        fit->cut = cut;
        anchor->fits = {fit};
        anchor->textAt = {8, 5};
        anchor->display = 7;
        tips->add(anchor);
        anchors.push_back(anchor);
        return anchor;
    }

    // Scene point to the global point the pointer reports.
    QPointF global(QPointF scenePoint) const {
        return view.viewport()->mapToGlobal(view.mapFromScene(scenePoint)).toPointF();
    }

    QString shownTitle() const { return tips->shown() ? tips->shown()->tip.title : QString(); }
};

} // namespace

TEST_F(TipsFixture, ARestOfHalfASecondShowsTheTipThenQuickerWhileWarm) {
    label({10, 10, 100, 20}, "first");
    label({10, 60, 100, 20}, "second");
    tips->pointerMoved(global({20, 15}), true);
    clock->advance(0.49);
    EXPECT_EQ(shownTitle(), "");
    clock->advance(0.02);
    EXPECT_EQ(shownTitle(), "first");
    EXPECT_EQ(tips->shown()->textOrigin, QPointF(18, 15));

    // Moving within the label keeps it; leaving it hides it, and the next shows after 0.24 s.
    tips->pointerMoved(global({60, 20}), true);
    EXPECT_EQ(shownTitle(), "first");
    tips->pointerMoved(global({20, 65}), true);
    EXPECT_EQ(shownTitle(), "");
    clock->advance(0.23);
    EXPECT_EQ(shownTitle(), "");
    clock->advance(0.02);
    EXPECT_EQ(shownTitle(), "second");

    // Closing the drawer clears everything: a full rest is needed again.
    tips->reset();
    EXPECT_EQ(shownTitle(), "");
    tips->pointerMoved(global({20, 15}), true);
    clock->advance(0.3);
    EXPECT_EQ(shownTitle(), "");
    clock->advance(0.21);
    EXPECT_EQ(shownTitle(), "first");
}

TEST_F(TipsFixture, TheMotionScaleStretchesEveryDelay) {
    start(2.0);
    label({10, 10, 100, 20}, "first");
    label({10, 60, 100, 20}, "second");
    tips->pointerMoved(global({20, 15}), true);
    clock->advance(0.99);
    EXPECT_EQ(shownTitle(), "");
    clock->advance(0.02);
    EXPECT_EQ(shownTitle(), "first");
    tips->pointerMoved(global({300, 150}), true); // off every label: warm for 1.52 s
    clock->advance(1.0);
    tips->pointerMoved(global({20, 65}), true);
    clock->advance(0.47);
    EXPECT_EQ(shownTitle(), "");
    clock->advance(0.02);
    EXPECT_EQ(shownTitle(), "second");
}

TEST_F(TipsFixture, TheSmallestEligibleAnchorWinsAndFittingTextsOfferNone) {
    label({0, 0, 300, 150}, "card");
    label({10, 100, 120, 20}, "caption");
    label({200, 10, 50, 20}, "fits", false);
    auto always = label({200, 60, 50, 20}, "no fits");
    always->fits.clear();

    tips->pointerMoved(global({20, 105}), true);
    clock->advance(0.5);
    EXPECT_EQ(shownTitle(), "caption");

    tips->reset();
    tips->pointerMoved(global({210, 15}), true);
    clock->advance(0.6);
    EXPECT_EQ(shownTitle(), "card"); // the fitting label is no candidate; the card beneath is

    tips->reset();
    tips->pointerMoved(global({210, 65}), true);
    clock->advance(0.6);
    EXPECT_EQ(shownTitle(), "no fits");
}

TEST_F(TipsFixture, APressHidesTheTipUntilThePointerLeavesTheLabel) {
    label({10, 10, 100, 20}, "first");
    label({10, 60, 100, 20}, "second");
    tips->pointerMoved(global({20, 15}), true);
    clock->advance(0.5);
    ASSERT_EQ(shownTitle(), "first");
    tips->refreshAnchor();
    EXPECT_EQ(shownTitle(), "");
    tips->pointerMoved(global({22, 15}), true);
    clock->advance(1.0);
    EXPECT_EQ(shownTitle(), "");

    tips->pointerMoved(global({20, 65}), true);
    clock->advance(0.5);
    EXPECT_EQ(shownTitle(), "second");

    // A press before the tip appears keeps it from appearing on that label; a second press
    // without a move changes nothing.
    tips->reset();
    tips->pointerMoved(global({20, 15}), true);
    clock->advance(0.2);
    tips->refreshAnchor();
    tips->refreshAnchor();
    clock->advance(1.0);
    EXPECT_EQ(shownTitle(), "");
    EXPECT_EQ(tips->timer().current(), anchors[0]->id());
}

TEST_F(TipsFixture, NoTipWhileTheShelfMayNotShowOneAndNoneForAGoneLabel) {
    auto first = label({10, 10, 100, 20}, "first");
    tips->pointerMoved(global({20, 15}), true);
    clock->advance(0.5);
    ASSERT_EQ(shownTitle(), "first");
    open = false; // a header menu opened
    tips->publish();
    EXPECT_EQ(shownTitle(), "");
    clock->advance(1.0);
    EXPECT_EQ(shownTitle(), "");

    open = true;
    tips->reset();
    tips->pointerMoved(global({20, 15}), true);
    clock->advance(0.5);
    ASSERT_EQ(shownTitle(), "first");
    tips->forget(first.get());
    EXPECT_EQ(shownTitle(), "");
    EXPECT_EQ(tips->anchorCount(), 0);
}

TEST(TipFit, CutExactlyWhenTheTextNeedsAnotherLine) {
    const QFont font = ShelfStyle::labelFont();
    const QString word = QStringLiteral("Screenshot");
    const double wide = QFontMetricsF(font).horizontalAdvance(word) + 1;
    TipFit fit;
    fit.measure(word, font, wide);
    EXPECT_FALSE(fit.cut);
    fit.measure(word, font, wide - 4); // the panel narrowed
    EXPECT_TRUE(fit.cut);
    fit.measure(word + " " + word, font, wide, 2);
    EXPECT_FALSE(fit.cut);
    fit.measure(word + " " + word + " " + word, font, wide, 2);
    EXPECT_TRUE(fit.cut);
    fit.measure("short\nsecond line", font, 400);
    EXPECT_TRUE(fit.cut);
    fit.measure(QString(10000, QLatin1Char('x')), font, 400, 1);
    EXPECT_TRUE(fit.cut);

    EXPECT_EQ(TipText::line("first\nsecond", font, 400, Qt::ElideRight), "first\u2026");
    EXPECT_EQ(TipText::line("plain", font, 400, Qt::ElideRight), "plain");
}

TEST_F(TipsFixture, TheLayerPlacesTheTipOnTheLabelsTextWithinItsBounds) {
    TipLayer layer(tips.get(), 7, clock);
    scene.addItem(&layer);
    layer.setBounds(QRectF(8, 8, 384, 184));
    label({10, 20, 100, 20}, QString(200, QLatin1Char('w')));
    label({350, 150, 40, 20}, "near the corner");
    auto other = label({10, 100, 100, 20}, "another display");

    tips->pointerMoved(global({20, 25}), true);
    clock->advance(0.5);
    auto frame = layer.tipFrame();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->topLeft(), QPointF(18 - 9, 25 - 6)); // text on text
    EXPECT_LE(frame->width(), 260);                       // wrapped within the widest tip
    EXPECT_GT(frame->width(), 230);
    EXPECT_GT(frame->height(), 40);
    clock->advance(0.2);
    EXPECT_EQ(layer.opacityNow(), 1.0);

    tips->pointerMoved(global({360, 155}), true);
    clock->advance(0.3);
    frame = layer.tipFrame();
    ASSERT_TRUE(frame.has_value());
    EXPECT_EQ(frame->right(), 392); // pushed left to stay inside

    layer.setBounds(QRectF(8, 8, 384, 184), QRectF(300, 140, 100, 40));
    frame = layer.tipFrame();
    EXPECT_EQ(frame->top(), 192 - frame->height()); // moved below the avoided area, then clamped

    other->display = 9;
    TipLayer elsewhere(tips.get(), 9, clock);
    EXPECT_FALSE(elsewhere.tipFrame().has_value());
    scene.removeItem(&layer);
}

// Over a white card the tip's shadow is one soft blur, black at 0.6, 9 points wide and 6 points
// down, at every pixel ratio: below the tip it darkens as much as a Gaussian edge of that
// shadow would, and fades out pixel by pixel without bands.
TEST_F(TipsFixture, TheTipCastsOneSoftShadowAtEveryScale) {
    TipLayer layer(tips.get(), 7, clock);
    scene.addItem(&layer);
    layer.setBounds(QRectF(8, 8, 384, 184));
    label({10, 20, 100, 20}, "a label far too long for its place");
    tips->pointerMoved(global({20, 25}), true);
    clock->advance(1);
    const auto frame = layer.tipFrame();
    ASSERT_TRUE(frame.has_value());
    ASSERT_EQ(layer.opacityNow(), 1.0);
    for (const double ratio : {1.0, 1.5, 2.0}) {
        QImage picture((QSizeF(400, 200) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        picture.setDevicePixelRatio(ratio);
        picture.fill(Qt::white);
        QPainter painter(&picture);
        scene.render(&painter, QRectF(0, 0, 400, 200), QRectF(0, 0, 400, 200));
        painter.end();
        const int x = int(frame->center().x() * ratio);
        const int from = int(std::ceil((frame->bottom() + 1) * ratio));
        const auto alpha = [&](int y) { return 1 - qRed(picture.pixel(x, y)) / 255.0; };
        // The shadow's edge lies 6 points below the tip's; a blur of 9 points spreads it as a
        // Gaussian of 4.5.
        const auto edge = [&](int y) {
            const double below = (y + 0.5) / ratio - (frame->bottom() + 6);
            return 0.6 * 0.5 * std::erfc(below / (4.5 * std::sqrt(2.0)));
        };
        EXPECT_NEAR(alpha(from), edge(from), 0.04) << ratio;
        int y = from;
        int bands = 0;
        for (; alpha(y) > 0.03 && y + 1 < picture.height(); ++y) {
            bands += alpha(y + 1) >= alpha(y) ? 1 : 0;
        }
        EXPECT_EQ(bands, 0) << ratio;
        EXPECT_LE(y - from, int(std::ceil(20 * ratio))) << ratio;
    }
    scene.removeItem(&layer);
}
