#include "DrawerRig.h"

#include "Ostrel/Views/SessionRailView.h"
#include "Ostrel/Views/SessionSidebar.h"
#include "Ostrel/Views/ShelfHeader.h"
#include "Ostrel/Views/ThumbnailView.h"
#include "Ostrel/Views/TurnGrid.h"
#include "OstrelCore/Display/Motion.h"
#include "support/GeometryPrinters.h"

#include <gtest/gtest.h>

#include <QTest>

using namespace ostrel;
using namespace ostrel::test;

namespace {

Session session(const QString& id, const QString& cwd, double at, const QString& title = {}) {
    Session s(id, std::nullopt, cwd, QStringLiteral("main"), Date(at), Date(at + 100));
    if (!title.isEmpty()) {
        s.customTitle = title;
    }
    return s;
}

// Two sessions: "alpha" with two prompts (4 and 2 items), "beta" with one prompt of 3 items.
Snapshot twoSessions() {
    Snapshot s;
    s.sessions = {session("alpha", "/work/ostrel", 799990000, "Fix the rail layout"),
                  session("beta", "/work/site", 799980000)};
    s.prompts = {Prompt{"p1", "alpha", Date(799990100), "Draw the header"},
                 Prompt{"p2", "alpha", Date(799990200), "Now the grid of cards, please"},
                 Prompt{"p3", "beta", Date(799980100), "Screenshots of the landing page"}};
    for (int i = 0; i < 4; ++i) {
        s.items.append(item(QStringLiteral("a2-%1").arg(i), "alpha", "p2", 799990300 - i));
    }
    for (int i = 0; i < 2; ++i) {
        s.items.append(item(QStringLiteral("a1-%1").arg(i), "alpha", "p1", 799990150 - i, false));
    }
    for (int i = 0; i < 3; ++i) {
        s.items.append(item(QStringLiteral("b-%1").arg(i), "beta", "p3", 799980200 - i, false));
    }
    return s;
}

// Two ids that a small QHash keeps in one run of slots in the order they go in, either way round:
// taking the first out while walking such a table moves the second into the slot the walk has
// passed.
std::pair<QString, QString> crowdingIDs(const QString& prefix) {
    const auto order = [](const QString& a, const QString& b) {
        QHash<QString, int> table;
        table.insert(a, 0);
        table.insert(b, 0);
        return table.keys();
    };
    for (int n = 1;; ++n) {
        for (int m = 0; m < n; ++m) {
            const QString a = prefix + QString::number(m);
            const QString b = prefix + QString::number(n);
            if (order(a, b) == QStringList{a, b} && order(b, a) == QStringList{b, a}) {
                return {a, b};
            }
        }
    }
}

QPoint viewPoint(DrawerRig& rig, QPointF scenePoint) {
    return rig.view.mapFromScene(scenePoint);
}

} // namespace

TEST(RailDrawer, HeaderSidebarAndGridLandWhereTheLayoutPutsThem) {
    DrawerRig rig;
    rig.publish(twoSessions());
    rig.open();
    ShelfHeader* header = rig.drawer->header();
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(header->scenePos(), QPointF(104, 0));
    const ShelfHeaderLayout h = header->layout();
    EXPECT_EQ(h.menuButton, QRectF(680, 2, 28, 28));
    EXPECT_EQ(h.filterButton, QRectF(644, 2, 28, 28));
    EXPECT_EQ(header->unreadText(), "4 new");
    EXPECT_EQ(h.switcher.left(), 22); // the rail's inset, on any screen edge
    EXPECT_EQ(header->projectText(), "All projects");
    EXPECT_EQ(header->filterLabel(), "Filters");

    SessionRailView* rail = rig.drawer->rail();
    ASSERT_NE(rail, nullptr);
    EXPECT_EQ(rail->sidebar()->scenePos(), QPointF(104 + 14, 36));
    ASSERT_EQ(rail->sidebar()->rows().size(), 2);
    SessionRow* alpha = rail->sidebar()->rows().value("alpha");
    EXPECT_TRUE(alpha->isSelected()); // nothing chosen: the first session
    EXPECT_EQ(alpha->unread(), 4);
    EXPECT_EQ(alpha->scenePos(), QPointF(118, 38));

    TurnGrid* grid = rail->grid();
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(grid->scenePos(), QPointF(104 + 207, 36));
    ASSERT_EQ(grid->cards().size(), 4); // the next turn's cards start below the viewport
    EXPECT_EQ(grid->cards().value("a2-0")->scenePos().x(), 311);
    EXPECT_EQ(grid->cards().value("a2-1")->scenePos().x(), 311 + 168);
    EXPECT_EQ(grid->cards().value("a2-2")->scenePos().x(), 311 + 336);
    EXPECT_EQ(grid->cards().value("a2-3")->scenePos().x(), 311);
    EXPECT_EQ(grid->captions().size(), 1);
    EXPECT_EQ(grid->captions().value("p2")->scenePos(), QPointF(311, 38));

    const QImage picture = rig.render("rail-open");
    // The selected row's fill and a card's fill where they belong; the header's unread dot.
    EXPECT_GT(qGray(picture.pixel(120, 60)), qGray(picture.pixel(300, 60)));
    // A card's fill stands out from the drawer beside it.
    EXPECT_GT(qGray(picture.pixel(320, 100)), qGray(picture.pixel(308, 100)) + 8);
    const QRectF dot = h.unread->translated(104, 0);
    EXPECT_GT(qRed(picture.pixel(int(dot.left() + 3), int(dot.center().y()))), 150);
}

TEST(RailDrawer, FoldingATurnAndSwitchingSessions) {
    DrawerRig rig;
    rig.publish(twoSessions());
    rig.open();
    TurnGrid* grid = rig.drawer->rail()->grid();
    TurnCaption* caption = grid->captions().value("p2");
    ASSERT_NE(caption, nullptr);
    EXPECT_EQ(caption->turn().items.size(), 4);

    // A click on the caption folds its turn: the cards go, the count and dot show.
    QTest::mouseClick(rig.view.viewport(), Qt::LeftButton, {},
                      viewPoint(rig, caption->mapToScene(QPointF(30, 5))));
    EXPECT_TRUE(rig.model->collapsed().contains("p2"));
    EXPECT_FALSE(grid->cards().contains("a2-0"));
    caption = grid->captions().value("p2");
    EXPECT_TRUE(caption->isFolded());
    // What comes into view glides up from where it was, on the fold's spring.
    TurnCaption* below = grid->captions().value("p1");
    const double target = 38 + caption->boundingRect().height() + 12;
    EXPECT_GT(below->scenePos().y(), target);
    rig.clock->advance(1.0);
    EXPECT_EQ(below->scenePos().y(), target);
    EXPECT_EQ(below->opacity(), 1.0);
    rig.render("rail-folded");

    // With the lower turn in view, folding the upper one glides it up to its new place.
    rig.model->toggleCollapsed("p2");
    rig.clock->advance(1.0);
    grid->scrollArea()->wheel(-120 * 5);
    below = grid->captions().value("p1");
    ASSERT_NE(below, nullptr);
    const QPointF from = below->pos();
    rig.model->toggleCollapsed("p2");
    EXPECT_EQ(below->pos(), from);
    rig.clock->advance(0.1);
    EXPECT_LT(below->pos().y(), from.y());
    rig.clock->advance(1.0);
    EXPECT_EQ(below->pos().y(), grid->layout().captionRect(1).top());
    caption = grid->captions().value("p2");
    EXPECT_EQ(TurnCaption::menu(*rig.model, caption->turn(), true).first().title, "Expand");
    EXPECT_EQ(TurnCaption::menu(*rig.model, caption->turn(), false).last().title,
              "Delete Prompt\u2019s Items");

    // Scroll the grid down, then pick the other session: its grid starts at its top while the
    // old one fades away.
    grid->scrollArea()->wheel(-120);
    SessionRow* beta = rig.drawer->rail()->sidebar()->rows().value("beta");
    QTest::mouseClick(rig.view.viewport(), Qt::LeftButton, {},
                      viewPoint(rig, beta->mapToScene(QPointF(20, 10))));
    EXPECT_EQ(rig.model->selectedSessionID(), std::optional<QString>("beta"));
    TurnGrid* next = rig.drawer->rail()->grid();
    ASSERT_NE(next, grid);
    EXPECT_EQ(next->sessionID(), "beta");
    EXPECT_EQ(next->scrollArea()->offset(), 0);
    EXPECT_TRUE(next->scrollArea()->isPinned());
    EXPECT_LT(next->opacity(), 1.0);
    EXPECT_EQ(rig.drawer->rail()->leavingGrid(), grid);
    rig.clock->advance(0.2);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(next->opacity(), 1.0);
    EXPECT_EQ(rig.drawer->rail()->leavingGrid(), nullptr);
    rig.render("rail-beta");
}

TEST(RailDrawer, SelectionScrollsJustEnoughAndEscapeStepsBack) {
    DrawerRig rig;
    Snapshot s;
    s.sessions = {session("alpha", "/work/ostrel", 799990000)};
    s.prompts = {Prompt{"p1", "alpha", Date(799990100), "Many"}};
    for (int i = 0; i < 30; ++i) {
        s.items.append(item(QStringLiteral("i%1").arg(i, 2, 10, QLatin1Char('0')), "alpha", "p1",
                            799990300 - i));
    }
    rig.publish(s);
    rig.open();
    TurnGrid* grid = rig.drawer->rail()->grid();
    EXPECT_EQ(grid->cards().size(), 6); // rows 0 and 1 intersect the 272-point viewport

    rig.model->setSelectedItemID(QStringLiteral("i13")); // row 4
    EXPECT_FALSE(grid->scrollArea()->isPinned());
    const QRectF card = grid->layout().cardRect(0, 13);
    EXPECT_EQ(grid->scrollArea()->offset(), card.bottom() - 272);
    EXPECT_TRUE(grid->cards().contains("i13"));
    EXPECT_FALSE(grid->cards().contains("i00"));

    rig.model->handleKey(ShelfKey::escape);
    EXPECT_FALSE(rig.model->selectedItemID().has_value());

    // Closing re-pins: the next opening shows the first turn.
    rig.model->setOpenScreen(std::nullopt);
    EXPECT_EQ(grid->scrollArea()->offset(), 0);
}

TEST(RailDrawer, FilterMenuOpensOnPressAndReleasesTheGrab) {
    DrawerRig rig;
    rig.publish(twoSessions());
    rig.open();
    const QRectF button = rig.drawer->header()->layout().filterButton.translated(104, 0);
    QTest::mousePress(rig.view.viewport(), Qt::LeftButton, {}, viewPoint(rig, button.center()));
    ASSERT_EQ(rig.menus->menus.size(), 1); // on the press, not the release
    const QList<MenuEntry>& menu = rig.menus->menus.first();
    QStringList titles;
    for (const MenuEntry& e : menu) {
        titles << (e.separator ? QStringLiteral("-") : e.title);
    }
    EXPECT_EQ(titles, (QStringList{"Images", "Pages", "Documents", "Artifacts", "Video", "Audio",
                                   "Other", "-", "Only New", "-", "Clear Filters"}));
    EXPECT_FALSE(menu.last().enabled);
    EXPECT_EQ(rig.scene.mouseGrabberItem(), nullptr);
    QWidget* stand = rig.drawer->header()->pressWidget();
    ASSERT_NE(stand, nullptr);
    EXPECT_EQ(stand->geometry(), QRect(104 + 644, 2, 28, 28));
    QTest::mouseRelease(rig.view.viewport(), Qt::LeftButton, {}, viewPoint(rig, button.center()));

    // Choosing a kind from the menu: the chip and the filled, labelled button.
    rig.menus->choose = QStringLiteral("Images");
    QTest::mouseClick(rig.view.viewport(), Qt::LeftButton, {}, viewPoint(rig, button.center()));
    rig.model->toggleOnlyNew();
    EXPECT_EQ(rig.drawer->header()->filterLabel(), "Filters, 2 on");
    EXPECT_TRUE(rig.drawer->header()->layout().chip.has_value());
    rig.render("rail-filtered");

    // The project menu hangs from the switcher.
    const QRectF switcher = rig.drawer->header()->layout().switcher.translated(104, 0);
    QTest::mouseClick(rig.view.viewport(), Qt::LeftButton, {}, viewPoint(rig, switcher.center()));
    ASSERT_EQ(rig.menus->menus.size(), 3);
    EXPECT_EQ(rig.menus->menus.last().first().title, "All Projects");
}

TEST(RailDrawer, EmptyAndFilteredStates) {
    DrawerRig rig;
    rig.publish(Snapshot());
    rig.open();
    ASSERT_NE(rig.drawer->empty(), nullptr);
    EXPECT_EQ(rig.drawer->rail(), nullptr);
    EXPECT_EQ(rig.drawer->empty()->text(),
              "Nothing yet. Images, pages and documents Claude makes will appear here.");
    EXPECT_FALSE(rig.drawer->empty()->clearRect().has_value());
    EXPECT_LE(rig.drawer->empty()->textRect().width(), 180);
    rig.render("empty");

    rig.publish(twoSessions());
    EXPECT_EQ(rig.drawer->empty(), nullptr);
    ASSERT_NE(rig.drawer->rail(), nullptr);

    // Every filter on and nothing left.
    ShelfFilter filter;
    filter.project = QStringLiteral("ostrel");
    filter.kinds = {KindFilter::video, KindFilter::audio};
    filter.onlyNew = true;
    rig.model->applyFilter(filter);
    ASSERT_NE(rig.drawer->empty(), nullptr);
    EXPECT_EQ(rig.drawer->empty()->text(), "No items match these filters.");
    const auto clear = rig.drawer->empty()->clearRect();
    ASSERT_TRUE(clear.has_value());
    rig.clock->advance(0.4);
    rig.render("empty-filtered");
    QTest::mouseClick(rig.view.viewport(), Qt::LeftButton, {},
                      viewPoint(rig, rig.drawer->empty()->mapToScene(clear->center())));
    EXPECT_TRUE(rig.model->filter().kinds.empty());
    EXPECT_FALSE(rig.model->filter().onlyNew);
    EXPECT_EQ(rig.model->filter().project, std::optional<QString>("ostrel"));
}

TEST(RailDrawer, TheToastHoldsTheHideUntilUndo) {
    DrawerRig rig;
    Snapshot s = twoSessions();
    s.items[0].title = QString(300, QLatin1Char('n'));
    rig.publish(s);
    rig.open();
    rig.model->hide(rig.model->groups().first().turns.first().items.first());
    rig.reframe();
    HideToast* toast = rig.drawer->toast();
    ASSERT_TRUE(toast->isVisible());
    EXPECT_EQ(rig.drawer->frame().size, QSizeF(720, 360));
    // It rises 8 points into place as it fades in.
    EXPECT_EQ(toast->scenePos(), QPointF(104 + 200, 360 - 10 - 28 + 8));
    EXPECT_EQ(toast->opacity(), 0);
    rig.clock->advance(0.6);
    EXPECT_EQ(toast->opacity(), 1);
    EXPECT_EQ(toast->scenePos(), QPointF(104 + 200, 360 - 10 - 28));
    EXPECT_EQ(toast->boundingRect().width(), 320);
    EXPECT_TRUE(toast->text().startsWith(QStringLiteral("Hidden \u201cnn")));
    EXPECT_TRUE(toast->text().contains(QChar(0x2026))); // cut in the middle
    EXPECT_TRUE(toast->text().endsWith(QStringLiteral("nn\u201d")));
    EXPECT_FALSE(rig.drawer->rail()->grid()->cards().contains(s.items[0].id));
    rig.render("toast");

    QTest::mouseClick(rig.view.viewport(), Qt::LeftButton, {},
                      viewPoint(rig, toast->mapToScene(toast->undoRect().center())));
    EXPECT_FALSE(rig.model->pendingUndo().has_value());
    rig.reframe();
    EXPECT_TRUE(rig.drawer->rail()->grid()->cards().contains(s.items[0].id));
    rig.clock->advance(10);
    for (const auto& call : rig.log->calls) {
        EXPECT_NE(call.name, QStringLiteral("hide"));
    }
}

TEST(RailDrawer, ACardInViewHalfASecondIsSeenOnceOneScrolledAwaySoonerIsNot) {
    DrawerRig rig;
    Snapshot s;
    s.sessions = {session("alpha", "/work/ostrel", 799990000)};
    s.prompts = {Prompt{"p1", "alpha", Date(799990100), "Many"}};
    for (int i = 0; i < 12; ++i) {
        s.items.append(item(QStringLiteral("i%1").arg(i, 2, 10, QLatin1Char('0')), "alpha", "p1",
                            799990300 - i));
    }
    rig.publish(s);
    rig.open();
    TurnGrid* grid = rig.drawer->rail()->grid();
    rig.clock->advance(0.49);
    EXPECT_TRUE(rig.markedSeen().isEmpty());
    grid->scrollArea()->wheel(-120 * 6); // row 0 leaves the viewport, rows 2 and 3 come in
    EXPECT_FALSE(grid->cards().contains("i00"));
    EXPECT_TRUE(grid->cards().contains("i08"));
    rig.clock->advance(0.02);
    EXPECT_TRUE(rig.markedSeen().contains("i03"));
    EXPECT_FALSE(rig.markedSeen().contains("i08"));
    EXPECT_FALSE(rig.markedSeen().contains("i00"));
    rig.clock->advance(1.0);
    EXPECT_EQ(rig.markedSeen().count("i08"), 1);
    EXPECT_FALSE(rig.markedSeen().contains("i00"));
}

// A notch only moves the grid: it is laid out again (and its cards handed their items again) only
// when the turns, their folds or its width change.
TEST(RailDrawer, AScrollKeepsTheGridsLayout) {
    DrawerRig rig;
    Snapshot s;
    s.sessions = {session("alpha", "/work/ostrel", 799990000)};
    for (int t = 0; t < 30; ++t) {
        const QString prompt = QStringLiteral("p%1").arg(t);
        s.prompts.append(Prompt{prompt, "alpha", Date(799990100 + t), "Turn"});
        for (int i = 0; i < 4; ++i) {
            s.items.append(item(QStringLiteral("%1-%2").arg(prompt).arg(i), "alpha", prompt,
                                799990300 + t * 10 - i, false));
        }
    }
    rig.publish(s);
    rig.open();
    TurnGrid* grid = rig.drawer->rail()->grid();
    const QList<TurnGridLayout::Section> laidOut = grid->layout().sections();
    grid->scrollArea()->wheel(-120 * 3);
    grid->scrollArea()->wheel(120);
    EXPECT_TRUE(grid->layout().sections().isSharedWith(laidOut));
    rig.model->toggleCollapsed(rig.model->groups().first().turns.first().id);
    EXPECT_FALSE(grid->layout().sections().isSharedWith(laidOut));
    EXPECT_TRUE(grid->layout().sections().first().folded);
}

TEST(RailDrawer, CardsShowTheirTitleTipsAndRowsTheirs) {
    DrawerRig rig;
    TipLayer layer(rig.tips, DrawerRig::display, rig.clock);
    rig.scene.addItem(&layer);
    layer.setBounds(QRectF(104 + 8, 8, 720 - 16, 320 - 16));

    Snapshot s = twoSessions();
    s.items[1].title = QStringLiteral("A long title that cannot fit on the card at all.png");
    s.sessions[0].customTitle = QStringLiteral("A session name far too long for the sidebar row");
    rig.publish(s);
    rig.open();
    rig.model->tips().canShow = [&](quint32 display) { return display == DrawerRig::display; };
    TurnGrid* grid = rig.drawer->rail()->grid();

    // Rest on the long card title: its tip shows the whole title.
    QGraphicsObject* card = grid->cards().value(s.items[1].id);
    ASSERT_NE(card, nullptr);
    const QPointF title = card->mapToScene(QPointF(40, 110));
    rig.tips->pointerMoved(
        rig.view.viewport()->mapToGlobal(rig.view.mapFromScene(title)).toPointF(), true);
    rig.clock->advance(0.5);
    ASSERT_TRUE(rig.tips->shown().has_value());
    EXPECT_EQ(rig.tips->shown()->tip.title, s.items[1].title);
    rig.clock->advance(0.2);
    rig.render("rail-cards-tip");

    // The sidebar's long name: its tip carries the context and time as its detail.
    SessionRow* row = rig.drawer->rail()->sidebar()->rows().value("alpha");
    EXPECT_TRUE(row->nameCut());
    const QPointF name = row->mapToScene(QPointF(30, 8));
    rig.tips->pointerMoved(rig.view.viewport()->mapToGlobal(rig.view.mapFromScene(name)).toPointF(),
                           true);
    rig.clock->advance(0.3);
    ASSERT_TRUE(rig.tips->shown().has_value());
    EXPECT_EQ(rig.tips->shown()->tip.title, s.sessions[0].customTitle);
    EXPECT_TRUE(rig.tips->shown()->tip.detail->startsWith("ostrel \u00b7 main \u00b7 "));
    rig.clock->advance(0.2);
    rig.render("rail-row-tip");
    rig.scene.removeItem(&layer);
}

TEST(RailDrawer, HostileTextsAndAHugeTurnStayBoundedAndDrawTheirFirstLine) {
    DrawerRig rig;
    Snapshot s;
    const QString huge = QString(10000, QLatin1Char('a')) + "\nsecond line";
    Session first = session("huge", "/work/x", 799990000, QStringLiteral("Line one\nline two"));
    first.customTitle.reset();
    first.agentName = huge;
    s.sessions = {first, session("rtl", "/work/\u05e2\u05d1\u05e8\u05d9\u05ea", 799980000,
                                 QStringLiteral("\u05e9\u05dc\u05d5\u05dd \U0001F680 emoji"))};
    s.prompts = {Prompt{"p1", "huge", Date(799990100), huge},
                 Prompt{"p2", "rtl", Date(799980100),
                        QStringLiteral("\u0645\u0631\u062d\u0628\u0627 \U0001F600")}};
    for (int i = 0; i < 5000; ++i) {
        s.items.append(item(QStringLiteral("h%1").arg(i, 4, 10, QLatin1Char('0')), "huge", "p1",
                            799990300 - i));
    }
    s.items.append(item("r0", "rtl", "p2", 799980200));
    rig.publish(s);
    rig.open();

    TurnGrid* grid = rig.drawer->rail()->grid();
    EXPECT_LE(grid->cards().size(), 9);
    TurnCaption* caption = grid->captions().value("p1");
    ASSERT_NE(caption, nullptr);
    EXPECT_TRUE(caption->textCut());
    SessionRow* row = rig.drawer->rail()->sidebar()->rows().value("huge");
    ASSERT_NE(row, nullptr);
    EXPECT_TRUE(row->nameCut());
    // Line breaks joined into one name by the session's rules; still cut short with an ellipsis.
    // The cut caption runs to the edge: no stub of its hairline after the ellipsis.
    const QImage texts = rig.render("hostile-texts");
    const QRectF line = caption->sceneBoundingRect();
    int marked = 0;
    for (int x = int(line.left() + caption->buttonRect().right()) + 2; x < int(line.right()); ++x) {
        for (int y = int(line.center().y()) - 2; y <= int(line.center().y()) + 2; ++y) {
            marked += texts.pixel(x, y) != texts.pixel(int(line.right()) - 1, int(line.top()));
        }
    }
    EXPECT_EQ(marked, 0);

    grid->scrollArea()->wheel(-120 * 100000); // to the end of 1,667 rows
    EXPECT_EQ(grid->scrollArea()->offset(), grid->scrollArea()->extent().maxOffset());
    EXPECT_TRUE(grid->cards().contains("h4999"));
    EXPECT_LE(grid->cards().size(), 9);

    rig.model->setSelectedSessionID(QStringLiteral("rtl"));
    rig.clock->advance(0.3);
    rig.render("hostile-rtl");
    EXPECT_TRUE(rig.drawer->rail()->grid()->cards().contains("r0"));

    // Deleting a session's items from its row's menu holds every item for undo.
    const auto entries = SessionRow::menu(*rig.model, rig.model->groups().first());
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries.first().title, "Delete Session\u2019s Items");
    entries.first().action();
    ASSERT_TRUE(rig.model->pendingUndo().has_value());
    EXPECT_EQ(rig.model->pendingUndo()->excluded().size(), 5000);
}

TEST(RailDrawer, AnotherLayoutKindCrossFadesAndTheOldOneComesBackFromWhereItIs) {
    DrawerRig rig;
    rig.publish(twoSessions());
    rig.open();
    rig.clock->advance(1);
    // A point of the rail's first card that no deck of the stacks covers.
    const QPoint onCard(460, 150);
    const int ground = qGray(QColor(12, 12, 14).rgb());
    const QColor card = rig.render("kind-rail").pixelColor(onCard);
    ASSERT_GT(qGray(card.rgb()), ground + 8);
    // The model changes the layout in its change animation; the shelf view passes the plan on.
    QObject::connect(rig.model.get(), &ShelfModel::layoutChoiceChanged, rig.drawer, [&] {
        const bool stacks = rig.model->layoutChoice() == LayoutChoice::stacks;
        rig.drawer->setPlan({DrawerRig::display,
                             stacks ? ShelfLayoutKind::stacks : ShelfLayoutKind::rail,
                             stacks ? QSizeF(880, 176) : QSizeF(720, 320), 0, 32, 0, false});
    });
    const auto choose = [&](LayoutChoice layout) {
        Preferences prefs = rig.settings->prefs();
        prefs.layout = layout;
        rig.model->applyPreferences(prefs, std::nullopt);
    };
    QPointer<SessionRailView> rail = rig.drawer->rail();
    choose(LayoutChoice::stacks);
    rig.clock->advance(5.0 / 60 + 1e-6);
    QPointer<TurnStacksView> stacks = rig.drawer->stacks();
    ASSERT_TRUE(rail && stacks);
    EXPECT_EQ(rig.drawer->rail(), nullptr);
    const double out = rail->opacity();
    EXPECT_GT(out, 0.1);
    EXPECT_LT(out, 0.9);
    EXPECT_NEAR(stacks->opacity(), 1 - out, 0.01);
    const QColor mid = rig.render("kind-crossing").pixelColor(onCard);
    EXPECT_NEAR(double(qGray(mid.rgb()) - ground) / (qGray(card.rgb()) - ground), out, 0.25)
        << "the rail's card, half faded";

    // Chosen again before it has gone, the same rail turns back from where it was.
    choose(LayoutChoice::rail);
    EXPECT_EQ(rig.drawer->rail(), rail.data());
    rig.clock->advance(1.0 / 60 + 1e-6);
    EXPECT_GT(rail->opacity(), out);
    rig.clock->advance(1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(rail->opacity(), 1);
    EXPECT_TRUE(stacks.isNull());
    EXPECT_EQ(rig.render("kind-back").pixelColor(onCard), card);

    // Switched away and back while a new turn drops in: every card ends whole in its place.
    Snapshot three = twoSessions();
    three.prompts.append(Prompt{"p4", "alpha", Date(799990400), "One more"});
    three.items.append(item("a4-0", "alpha", "p4", 799990500));
    rig.publish(three);
    rig.clock->advance(2.0 / 60 + 1e-6);
    choose(LayoutChoice::stacks);
    rig.clock->advance(2.0 / 60 + 1e-6);
    choose(LayoutChoice::rail);
    rig.clock->advance(1);
    TurnGrid* grid = rail->grid();
    ASSERT_TRUE(grid->cards().contains("a4-0"));
    for (auto it = grid->cards().cbegin(); it != grid->cards().cend(); ++it) {
        EXPECT_EQ(it.value()->opacity(), 1) << it.key().toStdString();
    }
    EXPECT_EQ(grid->cards().value("a4-0")->pos(), grid->layout().cardRect(0, 0).topLeft());
}

TEST(RailDrawer, ATurnArrivingDropsInTheTurnsBelowGlideAndAGoneOneRisesAway) {
    for (const bool reduced : {false, true}) {
        Motion::setAccessibilityHook([reduced] { return Accessibility{reduced, false}; });
        DrawerRig rig;
        const Snapshot two = twoSessions();
        rig.publish(two);
        rig.open();
        rig.clock->advance(1);
        TurnGrid* grid = rig.drawer->rail()->grid();
        TurnCaption* p2 = grid->captions().value("p2");
        const double p2Was = p2->y();
        Snapshot three = two;
        three.prompts.append(Prompt{"p4", "alpha", Date(799990400), "One more"});
        three.items.append(item("a4-0", "alpha", "p4", 799990500));
        rig.publish(three);
        // Six frames in, a tenth of a second.
        constexpr double mid = 6.0 / 60 + 1e-6;
        rig.clock->advance(mid);
        QPointer<QGraphicsObject> card = grid->cards().value("a4-0");
        ASSERT_TRUE(card);
        const QPointF home = grid->layout().cardRect(0, 0).topLeft();
        EXPECT_GT(card->opacity(), 0.05);
        EXPECT_LT(card->opacity(), 0.95);
        if (reduced) {
            EXPECT_EQ(card->pos(), home) << "a plain fade";
        } else {
            EXPECT_LT(card->y(), home.y());
            EXPECT_GT(card->y(), home.y() - 12);
        }
        EXPECT_GT(p2->y(), p2Was);
        EXPECT_LT(p2->y(), grid->layout().captionRect(1).top());
        const QPoint spot = rig.at(QPointF(207, 36) + home + QPointF(20, 60)).toPoint();
        const QColor landing = rig.render("arrival-mid").pixelColor(spot);
        rig.clock->advance(1);
        EXPECT_EQ(card->opacity(), 1);
        EXPECT_EQ(card->pos(), home);
        EXPECT_EQ(p2->y(), grid->layout().captionRect(1).top());
        EXPECT_NE(rig.render("arrival-end").pixelColor(spot), landing);

        // Gone again: it rises as it fades, and the turns below glide back up.
        rig.publish(two);
        rig.clock->advance(mid);
        ASSERT_TRUE(card);
        EXPECT_FALSE(grid->cards().contains("a4-0"));
        EXPECT_LT(card->opacity(), 0.95);
        EXPECT_EQ(card->y() < home.y(), !reduced);
        rig.clock->advance(1);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(card.isNull());
        EXPECT_EQ(p2->y(), p2Was);
    }
    Motion::setAccessibilityHook({});
}

TEST(RailDrawer, FoldingFadesTheCardsTurnsTheChevronAndRapidTogglesLeaveEveryCardWhole) {
    DrawerRig rig;
    // While p2 is folded the grid holds p1's two cards, and unfolding walks that table as it
    // takes from it: ids that crowd each other there make every run meet the hard case.
    Snapshot shelf = twoSessions();
    const auto [first, second] = crowdingIDs("a1-");
    for (ShelfItem& i : shelf.items) {
        if (i.id == "a1-0") {
            i.id = first;
        } else if (i.id == "a1-1") {
            i.id = second;
        }
    }
    rig.publish(shelf);
    rig.open();
    rig.clock->advance(1);
    TurnGrid* grid = rig.drawer->rail()->grid();
    TurnCaption* caption = grid->captions().value("p2");
    QPointer<QGraphicsObject> card = grid->cards().value("a2-0");
    // The chevron, and the place the count takes beyond the prompt while folded.
    const QRect chevron =
        caption->mapRectToScene(QRectF(0, 0, 12, caption->boundingRect().height())).toRect();
    const auto look = [&](const QString& name) { return rig.render(name).copy(chevron); };
    const QImage open = look("fold-open");
    rig.model->toggleCollapsed("p2");
    const QRectF count = caption->mapRectToScene(caption->buttonRect()).adjusted(0, 0, 0, 0);
    const QRect countArea = QRectF(count.right() - 14, count.top(), 14, count.height()).toRect();
    rig.clock->advance(4.0 / 60 + 1e-6);
    ASSERT_TRUE(card);
    EXPECT_FALSE(grid->cards().contains("a2-0"));
    EXPECT_GT(card->opacity(), 0.05);
    EXPECT_LT(card->opacity(), 0.95);
    const QImage turning = look("fold-mid");
    const QImage countMid = rig.render("fold-mid").copy(countArea);
    rig.clock->advance(1);
    const QImage folded = look("fold-end");
    EXPECT_NE(turning, open);
    EXPECT_NE(turning, folded);
    EXPECT_NE(open, folded);
    EXPECT_NE(countMid, rig.render("fold-end").copy(countArea)) << "the count fades in";
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(card.isNull());

    // Eleven folds and unfolds in a second: it ends open with every card whole and in place.
    for (int i = 0; i < 11; ++i) {
        rig.model->toggleCollapsed("p2");
        rig.clock->advance(0.1);
    }
    rig.clock->advance(1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(look("fold-again"), open);
    int shown = 0;
    for (QGraphicsItem* child : grid->scrollArea()->content()->childItems()) {
        if (auto* c = dynamic_cast<ThumbnailView*>(child)) {
            ++shown;
            EXPECT_EQ(c->opacity(), 1);
        }
    }
    EXPECT_EQ(shown, grid->cards().size());
    EXPECT_EQ(grid->cards().value("a2-3")->pos(), grid->layout().cardRect(0, 3).topLeft());
}

TEST(RailDrawer, UnfoldingATurnThatPushesTwoCaptionsOutOfViewLeavesNoCaptionBehind) {
    DrawerRig rig;
    Snapshot s;
    s.sessions = {session("alpha", "/work/ostrel", 799990000)};
    // The unfolding walks the grid's table of captions as it takes the two older turns' from it.
    const auto [older, oldest] = crowdingIDs("p-");
    s.prompts = {Prompt{"top", "alpha", Date(799990300), "Many cards"},
                 Prompt{older, "alpha", Date(799990200), "One card"},
                 Prompt{oldest, "alpha", Date(799990100), "One more"}};
    for (int i = 0; i < 9; ++i) {
        s.items.append(item(QStringLiteral("t-%1").arg(i), "alpha", "top", 799990400 - i));
    }
    s.items.append(item("o-0", "alpha", older, 799990250));
    s.items.append(item("o-1", "alpha", oldest, 799990150));
    rig.publish(s);
    rig.open();
    rig.clock->advance(1);
    TurnGrid* grid = rig.drawer->rail()->grid();
    rig.model->toggleCollapsed("top");
    rig.clock->advance(1);
    ASSERT_EQ(grid->captions().size(), 3);
    rig.model->toggleCollapsed("top");
    rig.clock->advance(1);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    int shown = 0;
    for (QGraphicsItem* child : grid->scrollArea()->content()->childItems()) {
        shown += dynamic_cast<TurnCaption*>(child) != nullptr;
    }
    EXPECT_EQ(shown, grid->captions().size());
    EXPECT_EQ(grid->captions().keys(), QStringList{"top"});
}

// A caption takes its dot from the turn's count kept by the model, which follows each item: the
// dot goes when the turn's last unread item is seen and comes back when a new one arrives.
TEST(RailDrawer, ACaptionsDotFollowsTheLastUnreadItemOfItsTurn) {
    DrawerRig rig;
    Snapshot shelf = twoSessions();
    for (ShelfItem& i : shelf.items) {
        if (i.promptID == "p2" && i.id != "a2-3") {
            i.seenAt = Date(799990400);
        }
    }
    rig.publish(shelf);
    const auto caption = [&] { return rig.drawer->rail()->grid()->captions().value("p2"); };
    ASSERT_NE(caption(), nullptr);
    EXPECT_TRUE(caption()->hasDot());

    shelf.items[3].seenAt = Date(799990500); // a2-3
    rig.publish(shelf);
    EXPECT_FALSE(caption()->hasDot());

    shelf.items.prepend(item("a2-new", "alpha", "p2", 799990600));
    rig.publish(shelf);
    EXPECT_TRUE(caption()->hasDot());
    EXPECT_EQ(caption()->turn().items.size(), 5);
}

// A folded turn whose items were seen while the shelf was open keeps their dot until the shelf has
// closed and tidied up; then only the dot changes, not the turn, and the caption drops it.
TEST(RailDrawer, AFoldedCaptionRedrawsWhenOnlyItsDotGoes) {
    DrawerRig rig;
    Snapshot shelf = twoSessions();
    rig.publish(shelf);
    rig.open();
    rig.model->toggleCollapsed("p2");
    rig.clock->advance(1.0);
    const auto caption = [&] { return rig.drawer->rail()->grid()->captions().value("p2"); };
    ASSERT_NE(caption(), nullptr);
    const auto accented = [&](const QString& name) {
        const QImage picture = rig.render(name);
        const QRect area = caption()->mapRectToScene(caption()->buttonRect()).toAlignedRect();
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y) {
            for (int x = area.left(); x <= area.right(); ++x) {
                const QColor c(picture.pixel(x, y));
                n += c.red() > 150 && c.red() - c.blue() > 70 ? 1 : 0;
            }
        }
        return n;
    };
    EXPECT_GT(accented("rail-folded-dot"), 5);

    for (ShelfItem& i : shelf.items) {
        i.seenAt = Date(799990400);
    }
    rig.publish(shelf); // seen while open: the dots stay for now
    EXPECT_GT(accented("rail-folded-dot-seen"), 5);
    const Turn before = caption()->turn();
    rig.model->setOpenScreen(std::nullopt);
    rig.clock->advance(1.0);
    EXPECT_EQ(caption()->turn(), before);
    EXPECT_FALSE(caption()->hasDot());
    EXPECT_EQ(accented("rail-folded-no-dot"), 0);
}
