// The stacks drawer in motion: decks fanning out, and turns and sessions that come and go while
// the drawer is open.
#include "StacksRig.h"

#include "Ostrel/Views/DeckView.h"
#include "Ostrel/Views/DragScroller.h"
#include "Ostrel/Views/OpacityFade.h"
#include "Ostrel/Views/SessionChip.h"
#include "Ostrel/Views/TurnStacksView.h"

#include <gtest/gtest.h>

#include <QPointer>
#include <QTest>

using namespace ostrel;
using namespace ostrel::test;

TEST(StacksDrawer, ADeckFanningOutStaysWithinItsOwnFrameAtEveryMomentOfTheSpread) {
    DrawerRig rig(ShelfLayoutKind::stacks);
    Snapshot s;
    addSession(s, "alpha", 799990000, {3, 2});
    s.prompts[0].text = "Draw every deck of the strip with its caption under the cards, please";
    s.prompts[1].text = "And the next deck of the strip, with a caption just as long as that";
    rig.publish(s);
    rig.open();
    rig.clock->advance(1);
    TurnStacksView* stacks = rig.drawer->stacks();
    DeckView* deck = stacks->decks().value("alpha0");
    DeckView* next = stacks->decks().value("alpha1");
    ASSERT_TRUE(deck && next);
    // The 14 points between the two captions, in the panel.
    const auto gap = [&] {
        const QRectF frame = stacks->frames().value("alpha0");
        const QRectF caption = deck->captionRect();
        return stacks->scroller()
            ->content()
            ->mapRectToScene(QRectF(frame.right() + 1, caption.top(), 12, caption.height()))
            .toAlignedRect();
    };
    const QImage rest = rig.render("stacks-spread-rest");
    const QRgb ground = rest.pixel(gap().center());
    QTest::mouseClick(rig.view.viewport(), Qt::LeftButton, {},
                      viewPoint(rig, deck->mapToScene(deck->stackRect().center())));
    // Moments between frames as well as on them: what is drawn is what the strip laid out.
    for (const double t : {0.01, 0.035, 0.06, 0.09, 0.15}) {
        rig.clock->advance(t - (rig.clock->now() - 1));
        const QRectF frame = stacks->frames().value("alpha0");
        EXPECT_EQ(deck->mapRectToParent(deck->captionRect()).right(), frame.right()) << t;
        EXPECT_EQ(next->pos().x(), frame.right() + 14) << t;
        const QImage picture = rig.render(QStringLiteral("stacks-spread-%1").arg(t * 1000));
        const QRect between = gap();
        int drawn = 0;
        for (int y = between.top(); y <= between.bottom(); ++y) {
            for (int x = between.left(); x <= between.right(); ++x) {
                drawn += picture.pixel(x, y) != ground ? 1 : 0;
            }
        }
        EXPECT_EQ(drawn, 0) << "drawn into the gap " << t << "s into the spread";
    }
}

// Cards without a picture are filled only faintly: a deck's cards stand on the drawer's ground,
// so that the card behind peeks out beside the top card and never shows its symbol, badge or dot
// through it, at rest, while its session folds away or unfolds (the deck fades as one picture),
// or while the deck fans out.
TEST(StacksDrawer, ADecksTopCardHidesTheCardBehindAtRestWhileComingAndGoingAndWhileFanning) {
    DrawerRig rig(ShelfLayoutKind::stacks);
    Snapshot s;
    addSession(s, "alpha", 799990000, {3});
    for (ShelfItem& i : s.items) {
        i.kind = ShelfItemKind::document;
    }
    addSession(s, "beta", 799980000, {2});
    rig.publish(s);
    rig.open();
    rig.clock->advance(1);
    TurnStacksView* stacks = rig.drawer->stacks();
    QPointer<DeckView> deck = stacks->decks().value("alpha0");
    ASSERT_NE(deck, nullptr);
    // Pixels within the top card's outline that change when the cards behind it are taken away.
    const auto showingThrough = [&](const QString& name) {
        ThumbnailView* top = deck->cards().value("alpha0-0");
        const QImage with = rig.render(name);
        QList<ThumbnailView*> behind;
        for (ThumbnailView* card : deck->cards()) {
            if (card != top) {
                card->hide();
                behind.append(card);
            }
        }
        const QImage alone = rig.render(name + "-alone");
        for (ThumbnailView* card : behind) {
            card->show();
        }
        const QPainterPath outline = ThumbnailCard::outline(top->size());
        const QRect area = top->mapRectToScene(top->boundingRect()).toAlignedRect();
        int through = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                const QPointF at = top->mapFromScene(QPointF(x + 0.5, y + 0.5));
                if (outline.contains(QRectF(at - QPointF(1.5, 1.5), QSizeF(3, 3)))) {
                    through += with.pixel(x, y) != alone.pixel(x, y) ? 1 : 0;
                }
            }
        }
        return through;
    };
    EXPECT_EQ(showingThrough("stacks-deck-rest"), 0);
    for (const QString name : {"stacks-deck-folding", "stacks-deck-unfolding"}) {
        rig.model->toggleCollapsed("alpha");
        rig.clock->advance(4.0 / 60 + 1e-6);
        if (!deck) {
            deck = stacks->decks().value("alpha0");
        }
        ASSERT_TRUE(deck);
        EXPECT_GT(OpacityFade::shownOpacity(deck), 0.1) << name.toStdString();
        EXPECT_LT(OpacityFade::shownOpacity(deck), 0.9) << name.toStdString();
        EXPECT_EQ(showingThrough(name), 0) << name.toStdString();
        rig.clock->advance(1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    QTest::mouseClick(rig.view.viewport(), Qt::LeftButton, {},
                      viewPoint(rig, deck->mapToScene(deck->stackRect().center())));
    rig.clock->advance(0.06);
    EXPECT_GT(deck->spread(), 0.1);
    EXPECT_LT(deck->spread(), 0.9);
    EXPECT_EQ(showingThrough("stacks-deck-fanning"), 0);
}

// The shelf emptied while open: the strip fades out as a whole while each of its decks fades out
// as one picture. A deck is drawn at its own fade times the strip's, never brighter than the chips
// fading around it.
TEST(StacksDrawer, DecksLeavingAStripThatFadesOutFadeWithIt) {
    DrawerRig rig(ShelfLayoutKind::stacks);
    rig.publish(twoSessions());
    rig.open();
    rig.clock->advance(1);
    QPointer<TurnStacksView> stacks = rig.drawer->stacks();
    QList<QPointer<DeckView>> decks;
    for (DeckView* deck : stacks->decks()) {
        decks.append(deck);
    }
    rig.publish(Snapshot());
    rig.clock->advance(0.1);
    ASSERT_TRUE(stacks && decks.first());
    const double strip = stacks->opacity();
    EXPECT_GT(strip, 0.2);
    EXPECT_LT(strip, 0.8);
    EXPECT_GT(OpacityFade::shownOpacity(decks.first()), 0.1);
    EXPECT_LT(OpacityFade::shownOpacity(decks.first()), 0.9);
    // How far the picture lies from the one without the decks, pixel by pixel.
    const auto decksShown = [&](const QString& name) {
        const QImage with = rig.render(name);
        for (DeckView* deck : decks) {
            deck->hide();
        }
        const QImage without = rig.render(name + "-without-decks");
        for (DeckView* deck : decks) {
            deck->show();
        }
        QList<int> shown;
        for (int y = 0; y < with.height(); ++y) {
            for (int x = 0; x < with.width(); ++x) {
                shown.append(std::abs(qGray(with.pixel(x, y)) - qGray(without.pixel(x, y))));
            }
        }
        return shown;
    };
    const QList<int> faded = decksShown("stacks-emptied");
    stacks->setOpacity(1);
    const QList<int> whole = decksShown("stacks-emptied-whole-strip");
    // Where the decks stand out clearly, so that rounding weighs little.
    double part = 0;
    double all = 0;
    for (qsizetype i = 0; i < whole.size(); ++i) {
        if (whole[i] >= 24) {
            part += faded[i];
            all += whole[i];
        }
    }
    ASSERT_GT(all, 1000);
    EXPECT_NEAR(part / all, strip, 0.05);
}

// A session folding or unfolding: its decks fade and rise while the next session's chip and
// hairline glide across their place. They are cut off before the hairline, clear of it by its
// padding, so nothing is drawn across them or up against the line, along either strip, in a frame
// painted on time or one painted late, after the moment the next step of the glide was due (a
// loaded machine).
TEST(StacksDrawer, NothingIsDrawnAcrossTheDecksOfASessionFoldingOrUnfolding) {
    for (const auto kind : {ShelfLayoutKind::stacks, ShelfLayoutKind::sideStacks}) {
        DrawerRig rig(kind);
        rig.publish(twoSessions());
        rig.open();
        rig.clock->advance(1);
        TurnStacksView* stacks = rig.drawer->stacks();
        const bool down = stacks->isVertical();
        for (const bool folding : {true, false}) {
            const auto decks = [&] {
                QList<QPointer<DeckView>> all;
                for (const QString id : {"alpha0", "alpha1", "alpha2"}) {
                    all.append(stacks->decks().value(id));
                }
                return all;
            };
            QList<QPointer<DeckView>> moving = folding ? decks() : QList<QPointer<DeckView>>{};
            rig.model->toggleCollapsed("alpha");
            rig.clock->advance(3.0 / 60 + 1e-6);
            moving = folding ? moving : decks();
            for (const double late : {0.0, 0.04}) {
                rig.clock->lag(late);
                const QString name = QStringLiteral("%1-%2%3").arg(
                    down ? "side-stacks" : "stacks", folding ? "folding" : "unfolding",
                    late > 0 ? "-late" : "");
                const QImage with = rig.render(name);
                for (DeckView* deck : moving) {
                    ASSERT_NE(deck, nullptr);
                    deck->hide();
                }
                const QImage without = rig.render(name + "-without-decks");
                for (DeckView* deck : moving) {
                    deck->show();
                }
                // Along the strip and across it, in the panel's pixels.
                const auto pixel = [&](const QImage& image, int along, int across) {
                    return down ? image.pixel(across, along) : image.pixel(along, across);
                };
                const QRectF first = stacks->chips().value("alpha")->sceneBoundingRect();
                const QRectF next = stacks->chips().value("beta")->sceneBoundingRect();
                const int from = int(down ? first.bottom() : first.right()) + 2;
                const int to = int(down ? next.top() : next.left());
                const int side = int(down ? next.left() : next.top());
                const int span = int(down ? next.width() : DeckView::rowHeight());
                // The hairline as drawn: the first line after the first chip that stands out from
                // the drawer's ground, with the decks away.
                int line = to;
                for (int a = from + 1; a < to && line == to; ++a) {
                    for (int c = side; c < side + span; ++c) {
                        if (pixel(without, a, c) != pixel(without, from, c)) {
                            line = a;
                            break;
                        }
                    }
                }
                ASSERT_LT(line, to - 10) << name.toStdString();
                // Nor within the line's own padding: the decks are cut where it begins, half the
                // spacing and the padding before the line (less a pixel for the cut's own edge).
                const int clear =
                    line + 1 - int(TurnStacksView::separatorPadding + TurnStacksView::spacing / 2);
                int before = 0;
                int across = 0;
                for (int y = 0; y < with.height(); ++y) {
                    for (int x = 0; x < with.width(); ++x) {
                        (((down ? y : x) >= clear) ? across : before) +=
                            with.pixel(x, y) != without.pixel(x, y);
                    }
                }
                EXPECT_GT(before, 1000) << name.toStdString();
                EXPECT_EQ(across, 0) << name.toStdString();
            }
            rig.clock->advance(1);
        }
    }
}

TEST(StacksDrawer, ATurnArrivingIntoTheOpenDrawerFadesIn) {
    DrawerRig rig(ShelfLayoutKind::stacks);
    rig.publish(twoSessions());
    rig.open();
    TurnStacksView* stacks = rig.drawer->stacks();
    EXPECT_EQ(OpacityFade::shownOpacity(stacks->decks().value("alpha1")), 1);
    Snapshot more = twoSessions();
    addSession(more, "gamma", 799995000, {2});
    rig.publish(more);
    DeckView* arrived = stacks->decks().value("gamma0");
    ASSERT_NE(arrived, nullptr);
    EXPECT_EQ(OpacityFade::shownOpacity(arrived), 0);
    EXPECT_EQ(OpacityFade::shownOpacity(stacks->decks().value("alpha1")), 1);
    rig.clock->advance(1);
    EXPECT_EQ(OpacityFade::shownOpacity(arrived), 1);
}

TEST(StacksDrawer, ATurnArrivingDropsInWhatFollowsGlidesAlongAndAGoneOneRisesAway) {
    for (const bool reduced : {false, true}) {
        Motion::setAccessibilityHook([reduced] { return Accessibility{reduced, false}; });
        DrawerRig rig(ShelfLayoutKind::stacks);
        const Snapshot two = twoSessions();
        rig.publish(two);
        rig.open();
        rig.clock->advance(1);
        TurnStacksView* stacks = rig.drawer->stacks();
        SessionChip* beta = stacks->chips().value("beta");
        const double betaWas = beta->x();
        Snapshot more = two;
        more.prompts.append(Prompt{"alpha9", "alpha", Date(799991500), "Turn alpha9"});
        more.items.append(item("alpha9-0", "alpha", "alpha9", 799991505));
        more.items.append(item("alpha9-1", "alpha", "alpha9", 799991504));
        rig.publish(more);
        constexpr double mid = 6.0 / 60 + 1e-6;
        rig.clock->advance(mid);
        QPointer<DeckView> deck = stacks->decks().value("alpha9");
        ASSERT_TRUE(deck);
        const QPointF home = stacks->frames().value("alpha9").topLeft();
        EXPECT_GT(OpacityFade::shownOpacity(deck), 0.05);
        EXPECT_LT(OpacityFade::shownOpacity(deck), 0.95);
        if (reduced) {
            EXPECT_EQ(deck->pos(), home) << "a plain fade";
        } else {
            EXPECT_EQ(deck->x(), home.x());
            EXPECT_LT(deck->y(), home.y());
            EXPECT_GT(deck->y(), home.y() - 12);
        }
        const double betaTo = betaWas + 117 + 14;
        EXPECT_GT(beta->x(), betaWas);
        EXPECT_LT(beta->x(), betaTo);
        rig.render(reduced ? "stacks-arrival-mid-reduced" : "stacks-arrival-mid");
        rig.clock->advance(1);
        EXPECT_EQ(OpacityFade::shownOpacity(deck), 1);
        EXPECT_EQ(deck->pos(), home);
        EXPECT_EQ(beta->x(), betaTo);

        rig.publish(two);
        rig.clock->advance(mid);
        ASSERT_TRUE(deck);
        EXPECT_FALSE(stacks->decks().contains("alpha9"));
        EXPECT_LT(OpacityFade::shownOpacity(deck), 0.95);
        EXPECT_EQ(deck->y() < home.y(), !reduced) << "rising as it fades, unless reduced";
        EXPECT_LT(beta->x(), betaTo);
        rig.clock->advance(1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(deck.isNull());
        EXPECT_EQ(beta->x(), betaWas);
    }
    Motion::setAccessibilityHook({});
}

TEST(StacksDrawer, FoldingASessionLiftsItsDecksAwayTurnsItsChevronAndRapidFoldsEndWhole) {
    DrawerRig rig(ShelfLayoutKind::stacks);
    rig.publish(twoSessions());
    rig.open();
    rig.clock->advance(1);
    TurnStacksView* stacks = rig.drawer->stacks();
    SessionChip* alpha = stacks->chips().value("alpha");
    const QRect chevron = alpha->mapRectToScene(QRectF(0, 0, 12, 24)).toRect();
    const auto look = [&](const QString& name) { return rig.render(name).copy(chevron); };
    const QImage open = look("stacks-fold-open");
    QPointer<DeckView> deck = stacks->decks().value("alpha1");
    const double y = deck->y();
    rig.model->toggleCollapsed("alpha");
    rig.clock->advance(4.0 / 60 + 1e-6);
    ASSERT_TRUE(deck);
    EXPECT_LT(OpacityFade::shownOpacity(deck), 0.95);
    EXPECT_LT(deck->y(), y);
    const QImage turning = look("stacks-fold-mid");
    rig.clock->advance(1);
    EXPECT_NE(turning, open);
    EXPECT_NE(turning, look("stacks-fold-end"));

    // Unfolded, its decks drop in as arrivals do.
    rig.model->toggleCollapsed("alpha");
    rig.clock->advance(4.0 / 60 + 1e-6);
    deck = stacks->decks().value("alpha1");
    ASSERT_TRUE(deck);
    EXPECT_LT(OpacityFade::shownOpacity(deck), 0.95);
    EXPECT_LT(deck->y(), y);
    rig.render("stacks-unfold-mid");

    // Ten folds a second while its decks drop in and a new turn arrives: open again, every deck
    // and card whole and in its place.
    for (int i = 0; i < 10; ++i) {
        rig.model->toggleCollapsed("alpha");
        rig.clock->advance(0.1);
        if (i == 4) {
            Snapshot more = twoSessions();
            more.prompts.append(Prompt{"beta9", "beta", Date(799981500), "Turn beta9"});
            for (int n = 0; n < 3; ++n) {
                more.items.append(item("beta9-" + QString::number(n), "beta", "beta9", 799981505));
            }
            rig.publish(more);
        }
    }
    rig.clock->advance(1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(look("stacks-fold-again"), open);
    int decks = 0;
    for (QGraphicsItem* child : stacks->scroller()->content()->childItems()) {
        if (auto* d = dynamic_cast<DeckView*>(child)) {
            ++decks;
            EXPECT_EQ(OpacityFade::shownOpacity(d), 1);
            EXPECT_EQ(d->graphicsEffect(), nullptr) << "drawn straight again at rest";
            EXPECT_EQ(d->pos(), stacks->frames().value(d->turn().id).topLeft());
            EXPECT_EQ(d->cards().size(), std::min<qsizetype>(d->turn().items.size(), 2));
            for (ThumbnailView* card : d->cards()) {
                EXPECT_TRUE(card->isVisible());
                EXPECT_EQ(card->opacity(), 1);
                EXPECT_GE(card->pos().y(), -2);
            }
        }
    }
    EXPECT_EQ(decks, stacks->decks().size());
    EXPECT_EQ(decks, 5);
}
