#include "DrawerRig.h"

#include "Ostrel/Views/EdgeColumnView.h"
#include "Ostrel/Views/SessionSidebar.h"
#include "Ostrel/Views/ShelfHeader.h"
#include "Ostrel/Views/TurnGrid.h"
#include "support/GeometryPrinters.h"

#include <gtest/gtest.h>

#include <QTest>

using namespace ostrel;
using namespace ostrel::test;

namespace {

// "alpha" with one prompt of three items, "beta" with one prompt of one item.
Snapshot sessions() {
    Snapshot s;
    s.sessions = {
        Session("alpha", std::nullopt, "/work/ostrel", "main", Date(799990000), Date(799990100)),
        Session("beta", std::nullopt, "/work/site", "main", Date(799980000), Date(799980100))};
    s.prompts = {Prompt{"p1", "alpha", Date(799990100), "Draw the column"},
                 Prompt{"p2", "beta", Date(799980100), "A landing page"}};
    for (int i = 0; i < 3; ++i) {
        s.items.append(item(QStringLiteral("a-%1").arg(i), "alpha", "p1", 799990300 - i));
    }
    s.items.append(item(QStringLiteral("b-0"), "beta", "p2", 799980200));
    return s;
}

} // namespace

TEST(EdgeColumnDrawer, HeaderOnTopAndTwoColumnsBesideANarrowSidebar) {
    DrawerRig rig(ShelfLayoutKind::column);
    rig.publish(sessions());
    rig.open();
    // The side pills have no header band: the column draws its own header.
    EXPECT_EQ(rig.drawer->header(), nullptr);
    EdgeColumnView* column = rig.drawer->column();
    ASSERT_NE(column, nullptr);
    EXPECT_EQ(rig.drawer->rail(), nullptr);

    ShelfHeader* header = column->header();
    EXPECT_EQ(header->scenePos(), QPointF(104, 8));
    EXPECT_EQ(header->boundingRect().size(), QSizeF(480, 32));
    EXPECT_EQ(header->layout().switcher.left(), 22);
    EXPECT_EQ(header->layout().menuButton.right(), 480 - 12);

    SessionSplit* split = column->split();
    EXPECT_EQ(split->sidebar()->scenePos(), QPointF(104 + 14, 8 + 32 + 6));
    EXPECT_EQ(split->sidebar()->boundingRect().width(), 148);
    EXPECT_EQ(split->sidebar()->boundingRect().height(), 600 - 46 - 12);
    ASSERT_EQ(split->sidebar()->rows().size(), 2);

    TurnGrid* grid = split->grid();
    ASSERT_NE(grid, nullptr);
    const double left = 104 + 14 + 148 + 1 + 12;
    EXPECT_EQ(grid->scenePos(), QPointF(left, 46));
    // The grid fits its two columns with the drawer's side padding to spare.
    EXPECT_GE(104 + 480 - 14 - left, 2 * 141 + 8);
    ASSERT_EQ(grid->cards().size(), 3);
    QGraphicsObject* first = grid->cards().value("a-0");
    QGraphicsObject* second = grid->cards().value("a-1");
    QGraphicsObject* third = grid->cards().value("a-2");
    EXPECT_EQ(first->boundingRect().size(), QSizeF(141, 106));
    EXPECT_EQ(first->scenePos().x(), left);
    EXPECT_EQ(second->scenePos().x(), left + 141 + 8);
    EXPECT_EQ(second->scenePos().y(), first->scenePos().y());
    // Three items: a full row of two, then one card alone on the next row.
    EXPECT_EQ(third->scenePos().x(), left);
    EXPECT_GE(third->scenePos().y(), first->scenePos().y() + 106);

    const QImage picture = rig.render("column-open");
    // Each card's fill, away from its symbol and title; beside the lone card the second column
    // stays empty.
    const auto fill = [&](QGraphicsObject* c, QPointF offset = {}) {
        return picture.pixelColor(
            (c->sceneBoundingRect().topLeft() + QPointF(12, 40) + offset).toPoint());
    };
    const QColor card = fill(first);
    EXPECT_GT(qGray(card.rgb()), qGray(picture.pixel(int(first->scenePos().x()) - 4, 200)) + 8);
    EXPECT_EQ(fill(second), card);
    EXPECT_EQ(fill(third), card);
    EXPECT_NE(fill(third, QPointF(149, 0)), card);
    // The selected session's row is lighter than the empty sidebar below the rows.
    const QPointF row = split->sidebar()->rows().value("alpha")->sceneBoundingRect().center();
    EXPECT_GT(qGray(picture.pixel(int(split->sidebar()->scenePos().x()) + 4, int(row.y()))),
              qGray(picture.pixel(int(split->sidebar()->scenePos().x()) + 4, 500)));

    // Choosing the other session shows its grid in the same place.
    QTest::mouseClick(rig.view.viewport(), Qt::LeftButton, {},
                      rig.view.mapFromScene(row + QPointF(0, 50)));
    EXPECT_EQ(rig.model->selectedGroup()->id(), "beta");
    rig.clock->advance(1);
    ASSERT_NE(split->grid(), nullptr);
    EXPECT_EQ(split->grid()->sessionID(), "beta");
    EXPECT_EQ(split->grid()->scenePos(), QPointF(left, 46));
    EXPECT_TRUE(split->grid()->cards().contains("b-0"));
    rig.render("column-beta");
}

TEST(EdgeColumnDrawer, EmptyShowsAHeaderThenTheTextAndArrivalsBringTheColumn) {
    DrawerRig rig(ShelfLayoutKind::column);
    rig.publish(Snapshot());
    rig.open();
    EXPECT_EQ(rig.drawer->column(), nullptr);
    ASSERT_NE(rig.drawer->emptyHeader(), nullptr);
    EXPECT_EQ(rig.drawer->emptyHeader()->scenePos(), QPointF(104, 8));
    ASSERT_NE(rig.drawer->empty(), nullptr);
    EXPECT_EQ(rig.drawer->empty()->scenePos().y(), 40);
    rig.render("column-empty");

    rig.publish(sessions());
    EXPECT_EQ(rig.drawer->empty(), nullptr);
    EXPECT_EQ(rig.drawer->emptyHeader(), nullptr);
    ASSERT_NE(rig.drawer->column(), nullptr);
    rig.clock->advance(1);
    EXPECT_EQ(rig.drawer->column()->opacity(), 1);

    // The seen clock counts the column's cards like the rail's.
    rig.clock->advance(0.6);
    EXPECT_TRUE(rig.markedSeen().contains("a-0"));

    // Another layout replaces the column rather than reshaping it.
    rig.drawer->setPlan(
        {DrawerRig::display, ShelfLayoutKind::rail, QSizeF(480, 600), 0, 0, 0, false});
    EXPECT_EQ(rig.drawer->column(), nullptr);
    EXPECT_NE(rig.drawer->rail(), nullptr);
}

// A long project name is cut to the sidebar's width. Wherever the cut falls beside the branch,
// the two keep the whole " · " between them: the separator moves across the middle of the line
// from row to row.
TEST(EdgeColumnDrawer, ACutProjectNameKeepsTheWholeSeparatorBeforeItsBranch) {
    DrawerRig rig(ShelfLayoutKind::column);
    Snapshot s;
    constexpr int count = 12;
    for (int i = 0; i < count; ++i) {
        const QString id = QStringLiteral("s%1").arg(i);
        Session session(id, std::nullopt, "/work/" + QString(1 + i, QLatin1Char('a')),
                        QString(count + 3 - i, QLatin1Char('b')), Date(799990000 - i),
                        Date(799990100 - i));
        session.customTitle = QStringLiteral("Landing page");
        s.sessions.append(session);
        s.prompts.append(Prompt{"p" + id, id, Date(799990100 - i), "Draw it"});
        s.items.append(item("i" + id, id, "p" + id, 799990300 - i));
    }
    rig.publish(s);
    rig.open();
    const auto rows = rig.drawer->column()->split()->sidebar()->rows();
    ASSERT_EQ(rows.size(), count);
    for (const SessionRow* row : rows) {
        const QString line = row->detailLine();
        EXPECT_TRUE(line.contains(QChar(0x2026))) << line.toStdString();
        EXPECT_EQ(line.count(QStringLiteral(" \u00b7 ")), 2) << line.toStdString();
    }
}
