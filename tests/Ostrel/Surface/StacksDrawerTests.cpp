#include "StacksRig.h"

#include "Ostrel/Panels/PanelController.h"
#include "Ostrel/Views/DeckView.h"
#include "Ostrel/Views/DragScroller.h"
#include "Ostrel/Views/SessionChip.h"
#include "Ostrel/Views/ShelfHeader.h"
#include "Ostrel/Views/TurnStacksView.h"
#include "OstrelCore/Display/ShelfMetrics.h"
#include "Platform/X11/FakeWindowSystem.h"
#include "support/GeometryPrinters.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QGraphicsSceneHoverEvent>
#include <QProcess>
#include <QTest>
#include <QtMath>

#include <cmath>

using namespace ostrel;
using namespace ostrel::test;

namespace {

// Whether the hairline a later session's chip leads with is drawn before it: lighter, halfway down
// the row, than the drawer between it and the chip.
bool lineDrawnBefore(const QImage& picture, const QGraphicsItem* chip) {
    const QPointF line = chip->mapToScene(QPointF(-TurnStacksView::lineLead, 50));
    const QPoint at(int(line.x()), int(line.y()));
    return qGray(picture.pixel(at)) > qGray(picture.pixel(at + QPoint(6, 0))) + 8;
}

} // namespace

TEST(StacksDrawer, AHorizontalStripOfChipsAndDecksWithAHairlineBetweenSessions) {
    DrawerRig rig(ShelfLayoutKind::stacks);
    rig.publish(twoSessions());
    rig.open();
    TurnStacksView* stacks = rig.drawer->stacks();
    ASSERT_NE(stacks, nullptr);
    DragScroller* strip = stacks->scroller();
    EXPECT_EQ(strip->scenePos(), QPointF(104 + 14, 32 + 6));
    EXPECT_EQ(strip->size(), QSizeF(880 - 28, 176 - 32 - 6 - 10));

    // Chip, then its decks, 14 apart; a closed deck of several items is 117 wide with two cards
    // built, a single item's deck lies spread at 112.
    ASSERT_EQ(stacks->chips().size(), 2);
    EXPECT_EQ(stacks->chips().value("alpha")->pos(), QPointF(2, 0));
    double x = 2 + 100 + 14;
    const QList<std::pair<QString, double>> alpha{
        {"alpha0", 112}, {"alpha1", 117}, {"alpha2", 117}};
    for (const auto& [turn, width] : alpha) {
        EXPECT_EQ(stacks->frames().value(turn), QRectF(x, 0, width, DeckView::rowHeight()))
            << turn.toStdString();
        x += width + 14;
    }
    EXPECT_EQ(stacks->decks().value("alpha2")->cards().size(), 2);
    EXPECT_EQ(stacks->decks().value("alpha0")->spread(), 1);
    ASSERT_EQ(stacks->separators().size(), 1);
    EXPECT_EQ(stacks->separators().first(), QRectF(x + 4, 0, 1, 103));
    x += 9 + 14;
    EXPECT_EQ(stacks->chips().value("beta")->pos(), QPointF(x, 0));
    x += 100 + 14;
    EXPECT_EQ(stacks->frames().value("beta0").left(), x);
    EXPECT_EQ(strip->contentLength(), x + 117 + 2);

    // On screen: the single item, and each closed deck's top card.
    const QSet<QString> shown{"alpha0-0", "alpha1-0", "alpha2-0", "beta0-0"};
    EXPECT_EQ(stacks->reported(), shown);
    rig.clock->advance(0.6);
    const QStringList seen = rig.markedSeen();
    EXPECT_EQ(QSet<QString>(seen.begin(), seen.end()), shown);

    const QImage picture = rig.render("stacks-open");
    // The top card's fill stands out from the drawer's colour, which it stands on.
    const QPointF top =
        stacks->decks().value("alpha2")->cards().value("alpha2-0")->mapToScene(QPointF(12, 40));
    EXPECT_GT(qGray(picture.pixel(top.toPoint())), qGray(ShelfStyle::drawerGround().rgb()) + 8);
    // The hairline between the sessions is lighter than the drawer behind it.
    const QPointF line = strip->content()->mapToScene(stacks->separators().first().topLeft());
    const QPoint at(int(line.x()), int(line.y()) + 50);
    EXPECT_GT(qGray(picture.pixel(at)), qGray(picture.pixel(at + QPoint(6, 0))));
}

// A change of the desktop's contrast paints the shelf's panels afresh, the pictures their chips
// and cards keep of themselves too: they take the new colours.
TEST(StacksDrawer, AContrastChangeRepaintsTheChipsAndCardsItKeepsAsPictures) {
    DrawerRig rig(ShelfLayoutKind::stacks);
    x11::FakeWindowSystem windows;
    x11::Monitor screen;
    screen.geometry = QGuiApplication::primaryScreen()->geometry();
    screen.primary = true;
    screen.output = DrawerRig::display;
    windows.monitorList = {screen};
    windows.compositor = true;
    PanelController panels(*rig.model, *rig.settings, &windows, rig.clock);
    DrawerContent* drawer = nullptr;
    panels.setRootFactory([&](quint32) {
        drawer = new DrawerContent(rig.context, ShelfLayoutKind::stacks);
        drawer->setPlan({DrawerRig::display, ShelfLayoutKind::stacks, {880, 176}, 0, 32, 0, false});
        return drawer;
    });
    panels.refresh();
    ASSERT_TRUE(drawer);
    rig.publish(twoSessions());
    rig.open();
    rig.clock->advance(1);
    NotchPanel* panel = panels.panels().at(DrawerRig::display);
    TurnStacksView* stacks = drawer->stacks();
    const auto onScreen = [&](const QGraphicsItem* item) {
        return panel->mapFromScene(item->sceneBoundingRect()).boundingRect();
    };
    const QRect chip = onScreen(stacks->chips().value("alpha"));
    const QRect card = onScreen(stacks->decks().value("alpha2")->cards().value("alpha2-0"));
    const QImage before = panel->viewport()->grab().toImage();
    Motion::setAccessibilityHook([] { return Accessibility{false, true}; });
    panels.repaintAll();
    const QImage after = panel->viewport()->grab().toImage();
    Motion::setAccessibilityHook({});
    EXPECT_TRUE(before.copy(chip) != after.copy(chip)) << "the chip kept its old colours";
    EXPECT_TRUE(before.copy(card) != after.copy(card)) << "the card kept its old colours";
}

TEST(StacksDrawer, AClickDealsADeckOutAndAnotherFoldsItBack) {
    DrawerRig rig(ShelfLayoutKind::stacks);
    rig.publish(twoSessions());
    rig.open();
    TurnStacksView* stacks = rig.drawer->stacks();
    DeckView* deck = stacks->decks().value("alpha1");
    ASSERT_NE(deck, nullptr);
    EXPECT_FALSE(deck->isDealt());

    QTest::mouseClick(rig.view.viewport(), Qt::LeftButton, {},
                      viewPoint(rig, deck->mapToScene(deck->stackRect().center())));
    EXPECT_TRUE(deck->isFanned());
    EXPECT_TRUE(deck->isDealt());
    EXPECT_EQ(deck->cards().size(), 3);
    EXPECT_TRUE(stacks->fanned().contains("alpha1"));
    rig.clock->advance(1);
    EXPECT_EQ(deck->spread(), 1);
    EXPECT_EQ(stacks->frames().value("alpha1").width(), 3 * 120 - 8);
    // Its cards lie flat in a row, 8 apart; the next deck moved along.
    EXPECT_EQ(deck->cards().value("alpha1-2")->pos(), QPointF(240, 0));
    EXPECT_EQ(stacks->frames().value("alpha2").left(),
              stacks->frames().value("alpha1").right() + 14);
    EXPECT_TRUE(stacks->reported().contains("alpha1-2"));
    rig.render("stacks-fanned");

    // Opening another deck folds this one; its third card goes once the fold has run.
    DeckView* other = stacks->decks().value("alpha2");
    QTest::mouseClick(rig.view.viewport(), Qt::LeftButton, {},
                      viewPoint(rig, other->mapToScene(other->stackRect().center())));
    EXPECT_FALSE(deck->isFanned());
    EXPECT_EQ(deck->cards().size(), 3);
    rig.clock->advance(1);
    EXPECT_EQ(deck->spread(), 0);
    EXPECT_FALSE(deck->isDealt());
    EXPECT_EQ(deck->cards().size(), 2);
    EXPECT_EQ(stacks->frames().value("alpha1").width(), 117);
    EXPECT_FALSE(stacks->reported().contains("alpha1-2"));
}

TEST(StacksDrawer, TheSelectionScrollsIntoViewAndAnOpenedDeckGlidesForward) {
    DrawerRig rig(ShelfLayoutKind::stacks);
    Snapshot s;
    addSession(s, "long", 799990000, {5, 5, 5, 5, 5, 5, 5, 5});
    rig.publish(s);
    rig.open();
    TurnStacksView* stacks = rig.drawer->stacks();
    DragScroller* strip = stacks->scroller();
    ASSERT_GT(strip->maxOffset(), 0);
    EXPECT_EQ(strip->range(), (DragScroller::Range{0, 852}));
    EXPECT_FALSE(strip->fadesLeading());
    EXPECT_TRUE(strip->fadesTrailing());

    // Selecting the fourth item of the last deck fans it; once spread the strip jumps so the card
    // shows with 18 points to spare.
    const Turn last = rig.model->groups().first().turns.last();
    rig.model->click(last.items[3], 1);
    EXPECT_EQ(strip->scroll().offset, 0);
    rig.clock->advance(1);
    const QRectF frame = stacks->frames().value(last.id);
    const double s0 = frame.left() + 120 * 3;
    const auto range = strip->range();
    EXPECT_TRUE(range.lo <= s0 - 18 || strip->scroll().offset == strip->maxOffset());
    EXPECT_LE(s0 + 112 + 18, range.hi + 0.5);
    EXPECT_TRUE(stacks->reported().contains(last.items[3].id));
    EXPECT_TRUE(strip->fadesLeading());
    rig.render("stacks-revealed");

    // Back to the start; opening the first deck shows it whole without moving back.
    rig.model->clearSelection();
    rig.model->forwardWheel(DrawerRig::display, -10000);
    EXPECT_EQ(strip->range().lo, 0);
    const Turn first = rig.model->groups().first().turns.first();
    rig.model->clickDeck(first, first.items.first(), 1);
    rig.clock->advance(1);
    // The deck starts at 116, so the strip may go forward by 116 - 18 = 98 at most.
    EXPECT_EQ(strip->scroll().offset, 0);
    EXPECT_EQ(stacks->frames().value(first.id).right(), 116 + 592);
}

TEST(StacksDrawer, AFoldedSessionShowsOnlyItsChipAndHidesItsItems) {
    DrawerRig rig(ShelfLayoutKind::stacks);
    rig.publish(twoSessions());
    rig.open();
    TurnStacksView* stacks = rig.drawer->stacks();
    SessionChip* chip = stacks->chips().value("alpha");
    QTest::mouseClick(rig.view.viewport(), Qt::LeftButton, {},
                      viewPoint(rig, chip->mapToScene(chip->nameRect().center())));
    EXPECT_TRUE(rig.model->collapsed().contains("alpha"));
    EXPECT_EQ(stacks->decks().size(), 1);
    EXPECT_TRUE(stacks->chips().value("alpha")->isFolded());
    EXPECT_TRUE(stacks->chips().value("alpha")->lines().contains("9 items"));
    EXPECT_EQ(stacks->reported(), QSet<QString>{"beta0-0"});
    // The menu offers to expand it again, then to delete the session's items.
    const auto entries = SessionChip::menu(*rig.model, rig.model->groups().first(), true);
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[0].title, "Expand");
    EXPECT_TRUE(entries[1].separator);
    EXPECT_EQ(entries[2].title, "Delete Session\u2019s Items");
}

TEST(StacksDrawer, TheSideStripRunsDownUnderACompactHeader) {
    DrawerRig rig(ShelfLayoutKind::sideStacks);
    rig.publish(twoSessions());
    rig.open();
    TurnStacksView* stacks = rig.drawer->stacks();
    ASSERT_NE(stacks, nullptr);
    ASSERT_NE(stacks->header(), nullptr);
    EXPECT_EQ(stacks->header()->scenePos(), QPointF(104, 8));
    EXPECT_EQ(stacks->header()->boundingRect().width(), 204);
    EXPECT_EQ(stacks->header()->layout().switcher.left(), 14);
    DragScroller* strip = stacks->scroller();
    EXPECT_EQ(strip->scenePos(), QPointF(104 + 14, 8 + 32 + 6));
    EXPECT_EQ(strip->size(), QSizeF(176, 600 - 46 - 10));

    SessionChip* chip = stacks->chips().value("alpha");
    EXPECT_EQ(chip->pos(), QPointF(0, 2));
    EXPECT_EQ(chip->boundingRect().width(), 176);
    double y = 2 + chip->boundingRect().height() + 14;
    // A single card lies flat (128 tall); a closed deck needs 148 for its tilted back card.
    const QList<std::pair<QString, double>> alpha{
        {"alpha0", 128}, {"alpha1", 148}, {"alpha2", 148}};
    for (const auto& [turn, length] : alpha) {
        const QRectF frame = stacks->frames().value(turn);
        EXPECT_EQ(frame.top(), y) << turn.toStdString();
        EXPECT_EQ(frame.height(), length + 6 + 13) << turn.toStdString();
        EXPECT_EQ(frame.width(), 171);
        y += frame.height() + 14;
    }
    ASSERT_EQ(stacks->separators().size(), 1);
    EXPECT_EQ(stacks->separators().first(), QRectF(0, y + 4, 176, 1));
    rig.render("side-stacks-open");

    // Fanned, three cards run 3 x 136 - 8 down the strip.
    DeckView* deck = stacks->decks().value("alpha1");
    rig.model->clickDeck(deck->turn(), deck->turn().items.first(), 1);
    rig.clock->advance(1);
    EXPECT_EQ(deck->length(), 400);
    EXPECT_EQ(deck->cards().value("alpha1-2")->pos(), QPointF(0, 272));

    // A closed deck's count stands on its top card's corner, not off the card below it.
    DeckView* closed = stacks->decks().value("alpha2");
    const QRectF badge = closed->badgeRect();
    EXPECT_GE(badge.intersected(QRectF(QPointF(0, 0), closed->cardSize())).height(),
              badge.height() - 1);
}

// The sliver of a card behind the top one is too narrow for its unread dot: not even half of one
// peeks out beside the top card, at rest or lifted; as soon as the deck spreads out of the stack,
// the card shows its whole dot, on its way and once it lies flat.
TEST(StacksDrawer, ACardBehindShowsItsDotOnlyOnceTheDeckSpreads) {
    DrawerRig rig(ShelfLayoutKind::stacks);
    rig.publish(twoSessions());
    rig.open();
    DeckView* deck = rig.drawer->stacks()->decks().value("alpha2");
    ASSERT_NE(deck, nullptr);
    // The accent's pixels in a part of the deck; the drawer and its cards are grey.
    const auto accented = [&](const QString& name, const QRectF& part) {
        return colourful(rig.render(name), deck->mapRectToScene(part).toAlignedRect());
    };
    const QRectF sliver(112.5, -4, 12, 44);
    EXPECT_EQ(accented("stacks-sliver-rest", sliver), 0);
    QGraphicsSceneHoverEvent enter(QEvent::GraphicsSceneHoverEnter);
    rig.scene.sendEvent(deck, &enter);
    rig.clock->advance(1);
    EXPECT_EQ(accented("stacks-sliver-lifted", sliver), 0);
    rig.model->clickDeck(deck->turn(), deck->turn().items.first(), 1);
    const double d = ShelfMetrics::thumbDotSize;
    const QRectF dot(112 - ShelfMetrics::thumbDotInset - d, ShelfMetrics::thumbDotInset, d, d);
    rig.clock->advance(0.05);
    ASSERT_GT(deck->spread(), 0.05);
    ASSERT_LT(deck->spread(), 0.5);
    ThumbnailView* behind = deck->cards().value("alpha2-1");
    ASSERT_NE(behind, nullptr);
    EXPECT_GT(accented("stacks-sliver-spreading", deck->mapRectFromItem(behind, dot)), 15);
    rig.clock->advance(1);
    EXPECT_GT(accented("stacks-sliver-spread", dot.translated(120, 0)), 15);
}

TEST(StacksDrawer, WheelAndDragMoveTheStripWithinItsRange) {
    DrawerRig rig(ShelfLayoutKind::stacks);
    Snapshot s;
    addSession(s, "long", 799990000, {5, 5, 5, 5, 5, 5, 5, 5});
    rig.publish(s);
    rig.open();
    DragScroller* strip = rig.drawer->stacks()->scroller();
    const double max = strip->maxOffset();

    rig.model->forwardWheel(DrawerRig::display, 100);
    EXPECT_EQ(strip->scroll().offset, 100);
    EXPECT_EQ(strip->range(), (DragScroller::Range{100, 952}));
    EXPECT_EQ(strip->content()->pos(), QPointF(-100, 0));
    rig.model->forwardWheel(DrawerRig::display, 100000);
    EXPECT_EQ(strip->scroll().offset, max);
    EXPECT_FALSE(strip->fadesTrailing());
    rig.model->forwardWheel(DrawerRig::display, -max + 40);
    EXPECT_EQ(strip->scroll().offset, 40);

    // A drag to the left across a card moves the strip on by as much; the card takes no click.
    const QPointF from = strip->mapToScene(QPointF(300, 40));
    QTest::mousePress(rig.view.viewport(), Qt::LeftButton, {}, viewPoint(rig, from));
    for (int dx = 10; dx <= 60; dx += 10) {
        QTest::mouseMove(rig.view.viewport(), viewPoint(rig, from - QPointF(dx, 0)));
    }
    EXPECT_EQ(strip->scroll().offset, 100);
    QTest::mouseRelease(rig.view.viewport(), Qt::LeftButton, {},
                        viewPoint(rig, from - QPointF(60, 0)));
    rig.clock->advance(1);
    EXPECT_GE(strip->scroll().offset, 100);
    EXPECT_LE(strip->scroll().offset, max);
    EXPECT_FALSE(rig.model->selectedItemID().has_value());
}

TEST(StacksDrawer, ALiftedDeckPeeksFurtherUnlessFannedOrFrozen) {
    DrawerRig rig(ShelfLayoutKind::stacks);
    rig.publish(twoSessions());
    rig.open();
    TurnStacksView* stacks = rig.drawer->stacks();
    DeckView* deck = stacks->decks().value("alpha2");
    QGraphicsObject* back = deck->cards().value("alpha2-1");
    ASSERT_NE(back, nullptr);
    // How far the back card's bottom-trailing corner drops: the tilt about its bottom-leading one.
    const auto drop = [&] { return back->transform().map(QPointF(112, 84)).y() - 84; };
    EXPECT_EQ(back->pos(), QPointF(5, -2));
    EXPECT_EQ(back->transform().map(QPointF(0, 84)), QPointF(0, 84));
    EXPECT_NEAR(drop(), 112 * std::sin(qDegreesToRadians(2.5)), 1e-9);
    EXPECT_EQ(deck->accessibleLabel(), "5 items, 5 new");

    QGraphicsSceneHoverEvent enter(QEvent::GraphicsSceneHoverEnter);
    QGraphicsSceneHoverEvent leave(QEvent::GraphicsSceneHoverLeave);
    rig.scene.sendEvent(deck, &enter);
    EXPECT_TRUE(deck->isLifted());
    rig.clock->advance(1);
    EXPECT_EQ(back->pos(), QPointF(8, -2));
    EXPECT_NEAR(drop(), 112 * std::sin(qDegreesToRadians(4.0)), 1e-9);
    rig.render("stacks-lifted");
    // Lifted, a long caption takes a second line, cut at its end.
    Turn wordy = deck->turn();
    wordy.prompt->text = "Draw every deck of the strip with its caption under the cards";
    deck->setTurn(wordy);
    const QStringList two = deck->captionLines(117);
    ASSERT_EQ(two.size(), 2);
    EXPECT_TRUE(two[0].startsWith("Draw"));
    EXPECT_TRUE(two[1].endsWith(QChar(0x2026)));
    rig.scene.sendEvent(deck, &leave);
    EXPECT_FALSE(deck->isLifted());
    EXPECT_EQ(deck->captionLines(117).size(), 1);
    rig.clock->advance(1);
    EXPECT_EQ(back->pos(), QPointF(5, -2));

    // While the strip scrolls, hover highlights freeze: the deck stays down.
    rig.model->scrolled();
    ASSERT_TRUE(rig.model->hoverFrozen());
    rig.scene.sendEvent(deck, &enter);
    EXPECT_FALSE(deck->isLifted());
    rig.scene.sendEvent(deck, &leave);

    // A fanned deck is not lifted either.
    DeckView* one = stacks->decks().value("alpha0");
    rig.scene.sendEvent(one, &enter);
    EXPECT_FALSE(one->isLifted());
}

// A resting deck drawn by its panel at the desktop's scale: its top card covers the device pixels
// of its place, so that the card behind shows only where it is turned out beside it (5 points
// along, 2 up, tilted 2.5 degrees, and cut at the strip's top), alike at every scale. Decks at an
// even and an odd point along, as a fractional scale lays them on a pixel or between two. Drawn in
// a process of its own at each scale: the scale is the whole application's.
TEST(StacksDrawer, ADecksCardsCoverThePixelsOfTheirPlacesAtEveryScale) {
    if (!qEnvironmentVariableIsSet("OSTREL_TEST_DECK_AT_SCALE")) {
        for (const char* scale : {"1", "1.25", "1.5", "1.75", "2"}) {
            QProcess child;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("OSTREL_TEST_DECK_AT_SCALE"), QStringLiteral("1"));
            env.insert(QStringLiteral("QT_SCALE_FACTOR"), QString::fromLatin1(scale));
            child.setProcessEnvironment(env);
            child.setProcessChannelMode(QProcess::MergedChannels);
            child.start(QCoreApplication::applicationFilePath(),
                        {QStringLiteral("--gtest_filter=StacksDrawer."
                                        "ADecksCardsCoverThePixelsOfTheirPlacesAtEveryScale")});
            ASSERT_TRUE(child.waitForFinished(60000));
            const QByteArray output = child.readAll();
            EXPECT_TRUE(child.exitCode() == 0 && output.contains("[  PASSED  ] 1 test"))
                << "at " << scale << ":\n"
                << output.toStdString();
        }
        return;
    }
    DrawerRig rig(ShelfLayoutKind::stacks);
    rig.log->thumbsFolder = rig.dir.file("thumbs");
    QDir().mkpath(rig.log->thumbsFolder);
    Snapshot s;
    addSession(s, "alpha", 799990000, {3, 3});
    // Dark top cards on light ones behind.
    for (const ShelfItem& i : s.items) {
        QImage picture(320, 240, QImage::Format_RGB32);
        picture.fill(i.id.endsWith("-0") ? QColor(40, 40, 160) : QColor(240, 240, 240));
        ASSERT_TRUE(picture.save(rig.log->thumbsFolder + "/" + i.id + ".jpg"));
    }
    rig.publish(s);
    rig.open();
    TurnStacksView* stacks = rig.drawer->stacks();
    const auto pictured = [&] {
        for (const DeckView* deck : stacks->decks()) {
            for (const ThumbnailView* card : deck->cards()) {
                if (!card->image()) {
                    return false;
                }
            }
        }
        return stacks->decks().size() == 2;
    };
    ASSERT_TRUE(waitUntil([&] {
        rig.clock->advance(0.1);
        return pictured();
    }));
    rig.clock->advance(1);
    const double ratio = rig.view.devicePixelRatioF();
    const QImage shot = rig.view.viewport()->grab().toImage();
    const auto onScreen = [&](const QGraphicsItem* item, QPointF p) {
        return rig.view.viewportTransform().map(item->mapToScene(p)) * ratio;
    };
    const auto light = [&](int x, int y) { return qGray(shot.pixel(x, y)) > 160; };
    const auto dark = [&](int x, int y) {
        const QColor c = shot.pixelColor(x, y);
        return c.blue() > 100 && c.red() < 120;
    };
    for (const QString id : {"alpha0", "alpha1"}) {
        SCOPED_TRACE(id.toStdString());
        const DeckView* deck = stacks->decks().value(id);
        const ThumbnailView* top = deck->cards().value(id + "-0");
        const ThumbnailView* back = deck->cards().value(id + "-1");
        const QRectF place(onScreen(top, {0, 0}), onScreen(top, {112, 84}));
        // Along the top card's top edge: the card from its first row, nothing light above it.
        const int first = int(std::ceil(place.top() - 1e-6));
        int above = 0;
        int missing = 0;
        for (int x = int(place.left() + 16 * ratio); x < int(place.right() - 16 * ratio); ++x) {
            above += light(x, first - 1) ? 1 : 0;
            missing += qGray(shot.pixel(x, first)) <= 40 ? 1 : 0;
        }
        EXPECT_EQ(above, 0) << "row " << first - 1;
        EXPECT_EQ(missing, 0) << "row " << first;
        // Across the card and the sliver beside it, 40 points down.
        const int y = int((place.top() + 40 * ratio));
        int x = int(place.center().x());
        while (dark(x, y)) {
            ++x;
        }
        const QPointF a = onScreen(back, {112, 0});
        const QPointF b = onScreen(back, {112, 84});
        const double edge = a.x() + (b.x() - a.x()) * (y + 0.5 - a.y()) / (b.y() - a.y());
        int end = x;
        while (light(end, y)) {
            ++end;
        }
        EXPECT_LT(std::abs(x - place.right()), 1.0);
        EXPECT_LT(std::abs(end - edge), 1.0);
    }
}

TEST(StacksDrawer, AChipNamesItsSessionAndCountsWhatIsNew) {
    DrawerRig rig(ShelfLayoutKind::stacks);
    Snapshot s;
    addSession(s, "alpha", 799990000, {1, 3});
    s.sessions[0].customTitle = "Stacks";
    s.items[1].seenAt = Date(800000000);
    rig.publish(s);
    rig.open();
    SessionChip* chip = rig.drawer->stacks()->chips().value("alpha");
    ASSERT_NE(chip, nullptr);
    // Named: the folder and branch as context; three of four items still new.
    EXPECT_EQ(chip->lines(), (QStringList{"Stacks", "alpha \u00b7 main", "03:26", "3 new"}));
    EXPECT_EQ(chip->boundingRect().width(), 100);

    rig.model->toggleCollapsed("alpha");
    chip = rig.drawer->stacks()->chips().value("alpha");
    EXPECT_EQ(chip->lines().value(1), "4 items");
    EXPECT_TRUE(rig.drawer->stacks()->decks().isEmpty());
    const auto entries = SessionChip::menu(*rig.model, rig.model->groups().first(), false);
    EXPECT_EQ(entries.first().title, "Collapse");

    // Cut to the chip's width, the context keeps the whole " · " between folder and branch
    // wherever the cut falls.
    rig.model->toggleCollapsed("alpha");
    for (int i = 0; i < 14; ++i) {
        s.sessions[0].cwd = "/work/" + QString(1 + i, QLatin1Char('a'));
        s.sessions[0].branch = QString(18 - i, QLatin1Char('b'));
        rig.publish(s);
        const QString context = rig.drawer->stacks()->chips().value("alpha")->lines().value(1);
        EXPECT_TRUE(context.contains(QChar(0x2026))) << context.toStdString();
        EXPECT_EQ(context.count(QStringLiteral(" \u00b7 ")), 1) << context.toStdString();
    }
}

TEST(StacksDrawer, SeenItemsLeaveNoNewLineAndASingleItemReadsSo) {
    DrawerRig rig(ShelfLayoutKind::stacks);
    Snapshot s;
    addSession(s, "alpha", 799990000, {1, 5});
    for (auto& i : s.items) {
        i.seenAt = Date(800000000);
    }
    rig.publish(s);
    rig.model->toggleCollapsed("alpha");
    rig.open();
    SessionChip* chip = rig.drawer->stacks()->chips().value("alpha");
    EXPECT_EQ(chip->lines(), (QStringList{"alpha", "6 items", "main", "03:26"}));
    rig.model->toggleCollapsed("alpha");
    EXPECT_EQ(rig.drawer->stacks()->decks().value("alpha1")->accessibleLabel(), "5 items");

    Snapshot one;
    addSession(one, "alpha", 799990000, {1});
    one.items[0].seenAt = Date(800000000);
    rig.publish(one);
    rig.model->toggleCollapsed("alpha");
    EXPECT_EQ(rig.drawer->stacks()->chips().value("alpha")->lines().value(1), "1 item");
}

TEST(StacksDrawer, ACardPulledDownOutOfTheStripIsDraggedOut) {
    DrawerRig rig(ShelfLayoutKind::stacks);
    rig.publish(twoSessions());
    rig.open();
    TurnStacksView* stacks = rig.drawer->stacks();
    DeckView* deck = stacks->decks().value("alpha1");
    QGraphicsObject* top = deck->cards().value("alpha1-0");
    const ShelfItem grabbed = deck->turn().items.first();
    // The card under the pointer, as a real card reports it on hover.
    rig.model->setHoveredItem(grabbed);
    const QPointF from = top->mapToScene(top->boundingRect().center());
    QTest::mousePress(rig.view.viewport(), Qt::LeftButton, {}, viewPoint(rig, from));
    // Sideways first: the strip scrolls (there is nothing to scroll, it stays), nothing lifts.
    QTest::mouseMove(rig.view.viewport(), viewPoint(rig, from + QPointF(6, 2)));
    auto& drags = static_cast<FakeDragOut&>(rig.model->dragOut());
    EXPECT_TRUE(drags.started.isEmpty());
    // Out past the strip's bottom edge and its margin: the card goes with the pointer.
    QTest::mouseMove(rig.view.viewport(), viewPoint(rig, from + QPointF(6, 120)));
    EXPECT_EQ(drags.started, QStringList{grabbed.id});
    EXPECT_TRUE(rig.model->isDraggingOut());
    QTest::mouseRelease(rig.view.viewport(), Qt::LeftButton, {},
                        viewPoint(rig, from + QPointF(6, 120)));
    drags.end();

    // A drag that starts across a horizontal strip, downwards, lifts at once.
    rig.model->setHoveredItem(grabbed);
    QTest::mousePress(rig.view.viewport(), Qt::LeftButton, {}, viewPoint(rig, from));
    QTest::mouseMove(rig.view.viewport(), viewPoint(rig, from + QPointF(1, 10)));
    EXPECT_EQ(drags.started.size(), 2);
    QTest::mouseRelease(rig.view.viewport(), Qt::LeftButton, {},
                        viewPoint(rig, from + QPointF(1, 10)));
}

TEST(StacksDrawer, OnlyDecksNearTheViewExistAndTheSelectionBuildsItsOwn) {
    DrawerRig rig(ShelfLayoutKind::stacks);
    Snapshot s;
    QList<int> sizes;
    for (int t = 0; t < 400; ++t) {
        sizes.append(2 + t % 2);
    }
    addSession(s, "alpha", 799990000, sizes);
    addSession(s, "beta", 799980000, sizes.mid(0, 100));
    rig.publish(s);
    rig.open();
    TurnStacksView* stacks = rig.drawer->stacks();
    DragScroller* strip = stacks->scroller();
    // Every deck has its place; only the view and half a view either side (two views of decks at
    // most 131 points apart) are built.
    EXPECT_EQ(stacks->frames().size(), 500);
    const auto builtCards = [&] {
        qsizetype n = 0;
        for (DeckView* deck : stacks->decks()) {
            n += deck->cards().size();
        }
        return n;
    };
    EXPECT_LE(stacks->decks().size(), 14);
    EXPECT_LE(builtCards(), 28);

    // A deck scrolled away before it was seen long enough leaves its items unread.
    rig.clock->advance(0.3);
    rig.model->forwardWheel(DrawerRig::display, 2000);
    rig.clock->advance(1);
    EXPECT_FALSE(rig.markedSeen().contains("alpha0-0"));
    EXPECT_FALSE(stacks->decks().contains("alpha0"));
    EXPECT_LE(stacks->decks().size(), 14);

    // The next session's chip, built as the strip brings it into view, comes with its hairline.
    ASSERT_FALSE(stacks->chips().contains("beta"));
    const double chipAt = stacks->frames().value("alpha399").right() + 23;
    rig.model->forwardWheel(DrawerRig::display, chipAt - 400 - strip->scroll().offset);
    ASSERT_TRUE(stacks->chips().contains("beta"));
    EXPECT_TRUE(
        lineDrawnBefore(rig.render("stacks-chip-scrolled-in"), stacks->chips().value("beta")));

    // Selecting, as the keys do, an item far along: its deck fans, the strip goes there, and the
    // deck and its card are built, on screen and counted as seen.
    const Turn far = rig.model->groups().last().turns.last();
    rig.model->setSelectedItemID(far.items.last().id);
    rig.clock->advance(1);
    DeckView* deck = stacks->decks().value(far.id);
    ASSERT_NE(deck, nullptr);
    EXPECT_EQ(deck->spread(), 1);
    ThumbnailView* card = deck->cards().value(far.items.last().id);
    ASSERT_NE(card, nullptr);
    EXPECT_TRUE(card->options().selected);
    const QRectF frame = stacks->frames().value(far.id);
    EXPECT_LE(frame.right() - strip->range().hi, 18.5);
    EXPECT_TRUE(rig.markedSeen().contains(far.items.last().id));
    EXPECT_LE(stacks->decks().size(), 14);
    EXPECT_LE(builtCards(), 31);
    rig.render("stacks-far-selection");
}

TEST(StacksDrawer, TheCaptionAndTheTopCardOfferTheirTips) {
    DrawerRig rig(ShelfLayoutKind::stacks);
    Snapshot s;
    addSession(s, "alpha", 799990000, {3});
    s.prompts[0].text = "Draw every deck of the strip with its caption under the cards, please";
    s.items[0].title = "the-top-card.png";
    rig.publish(s);
    rig.open();
    TipLayer* layer = showTips(rig);
    DeckView* deck = rig.drawer->stacks()->decks().value("alpha0");
    ASSERT_NE(deck, nullptr);

    // The cut caption: resting on it shows the whole prompt.
    EXPECT_TRUE(deck->captionCut());
    rest(rig, deck->mapToScene(deck->captionRect().center()), 0.6);
    ASSERT_TRUE(rig.tips->shown().has_value());
    EXPECT_EQ(rig.tips->shown()->tip.title, s.prompts[0].text);

    // The top card's title, shown by its tip though the card draws no title.
    rest(rig, deck->cards().value("alpha0-0")->mapToScene(QPointF(40, 40)), 0.6);
    ASSERT_TRUE(rig.tips->shown().has_value());
    EXPECT_EQ(rig.tips->shown()->tip.title, "the-top-card.png");
    // Clear of the count in the card's corner.
    rig.clock->advance(0.2);
    ASSERT_TRUE(layer->tipFrame().has_value());
    EXPECT_FALSE(layer->tipFrame()->intersects(deck->mapRectToScene(deck->badgeRect())));
    rig.render("stacks-top-card-tip");
    rig.tips->pointerMoved(QPointF(-1000, -1000), false);
    rig.clock->advance(1);

    // Lifted, the caption draws its second line below the first.
    QGraphicsSceneHoverEvent enter(QEvent::GraphicsSceneHoverEnter);
    rig.scene.sendEvent(deck, &enter);
    rig.clock->advance(1);
    const QImage picture = rig.render("stacks-caption-lifted");
    const QRectF second = deck->mapRectToScene(deck->captionRect()).adjusted(0, 14, 0, 0);
    int lit = 0;
    for (int x = int(second.left()); x < int(second.right()); ++x) {
        for (int y = int(second.top()); y < int(second.bottom()); ++y) {
            lit += qGray(picture.pixel(x, y)) > 100 ? 1 : 0;
        }
    }
    EXPECT_GT(lit, 20);
}

// A press on a deck hides the tip over it at once: the tip starts fading with the press and is
// gone within the tip's fade, before the cards fanning out under it have travelled far; the drawer
// closing meanwhile leaves nothing of it behind.
TEST(StacksDrawer, APressOnADeckHidesItsTipAtOnce) {
    DrawerRig rig(ShelfLayoutKind::stacks);
    Snapshot s;
    addSession(s, "alpha", 799990000, {3});
    s.items[0].title = "the-top-card-of-the-deck.png";
    rig.publish(s);
    rig.open();
    TipLayer* layer = showTips(rig);
    DeckView* deck = rig.drawer->stacks()->decks().value("alpha0");
    ASSERT_NE(deck, nullptr);
    const QPointF on = deck->cards().value("alpha0-0")->mapToScene(QPointF(40, 40));
    rest(rig, on, 0.7);
    ASSERT_TRUE(layer->tipFrame().has_value());
    rig.render("stacks-tip-before-press");

    // What a press in the panel does: the tips hear of it first, then the deck takes the click.
    rig.tips->refreshAnchor();
    QTest::mouseClick(rig.view.viewport(), Qt::LeftButton, {}, viewPoint(rig, on));
    ASSERT_TRUE(deck->isFanned());
    const double fade = Motion::tipFade().duration();
    rig.clock->advance(Motion::frame);
    EXPECT_TRUE(layer->tipFrame().has_value());
    EXPECT_LT(layer->opacityNow(), 0.9) << "fading from the first frame";
    rig.render("stacks-tip-after-press");
    rig.model->setOpenScreen(std::nullopt);
    rig.clock->advance(fade - Motion::frame);
    EXPECT_FALSE(layer->tipFrame().has_value());
    const QImage closed = rig.render("stacks-tip-closed");
    layer->hide();
    EXPECT_TRUE(closed == rig.render("stacks-tip-closed-without-tips")) << "a tip left behind";
}

TEST(StacksDrawer, AFannedDeckOfThousandsBuildsAndCountsOnlyTheCardsInView) {
    DrawerRig rig(ShelfLayoutKind::stacks);
    Snapshot s;
    addSession(s, "huge", 799990000, {5000});
    rig.publish(s);
    rig.open();
    const Turn turn = rig.model->groups().first().turns.first();
    // Selected far along the row, as the keys would: the deck fans and the strip goes there.
    rig.model->setSelectedItemID(turn.items[4000].id);
    rig.clock->advance(1);
    DeckView* deck = rig.drawer->stacks()->decks().value(turn.id);
    ASSERT_NE(deck, nullptr);
    EXPECT_EQ(deck->spread(), 1);
    EXPECT_TRUE(deck->cards().contains(turn.items[4000].id));
    EXPECT_LE(deck->cards().size(), 20);
    rig.clock->advance(1);
    const QStringList seen = rig.markedSeen();
    EXPECT_TRUE(seen.contains(turn.items[4000].id));
    EXPECT_FALSE(seen.contains(turn.items[0].id));
    EXPECT_LE(seen.size(), 10);
}
