// The header of the open rail drawer: its controls as items of their own, and the unread count
// rolling to a new number.
#include "DrawerRig.h"

#include "Ostrel/Views/FilterChip.h"
#include "Ostrel/Views/HeaderIconButton.h"
#include "Ostrel/Views/ProjectSwitcher.h"
#include "Ostrel/Views/ShelfHeader.h"
#include "Ostrel/Views/UnreadLabel.h"

#include <gtest/gtest.h>

#include <QPainter>
#include <QTest>

using namespace ostrel;
using namespace ostrel::test;

namespace {

ShelfItem unreadImage(const QString& id, double at) {
    ShelfItem i;
    i.id = id;
    i.kind = ShelfItemKind::image;
    i.title = id;
    i.sessionID = QStringLiteral("alpha");
    i.promptID = QStringLiteral("p1");
    i.createdAt = Date(at);
    return i;
}

Snapshot withUnread(int count) {
    Snapshot s;
    s.sessions = {Session(QStringLiteral("alpha"), std::nullopt, QStringLiteral("/work/ostrel"),
                          QStringLiteral("main"), Date(799990000), Date(799990100))};
    s.prompts = {Prompt{"p1", "alpha", Date(799990100), "Draw the header"}};
    for (int i = 0; i < count; ++i) {
        s.items.append(unreadImage(QStringLiteral("i%1").arg(i), 799990300 - i));
    }
    return s;
}

QImage crop(DrawerRig& rig, const QGraphicsItem* item) {
    return rig.render(QStringLiteral("header")).copy(item->sceneBoundingRect().toAlignedRect());
}

} // namespace

TEST(ShelfHeader, EachControlIsAnItemThatLightsUnderThePointerAlone) {
    DrawerRig rig;
    rig.publish(withUnread(3));
    rig.open();
    rig.model->toggleKind(KindFilter::images);
    ShelfHeader* header = rig.drawer->header();
    ASSERT_NE(header, nullptr);
    ASSERT_TRUE(header->chip()->isVisible());
    EXPECT_EQ(header->chip()->label(), "Images");

    struct Control {
        QGraphicsObject* item;
        std::function<bool()> hovering;
    };
    const QList<Control> controls{
        {header->switcher(), [&] { return header->switcher()->isHovering(); }},
        {header->chip(), [&] { return header->chip()->isHovering(); }},
        {header->filterButton(), [&] { return header->filterButton()->isHovering(); }},
        {header->menuButton(), [&] { return header->menuButton()->isHovering(); }}};
    for (const Control& over : controls) {
        const QImage before = crop(rig, over.item);
        QTest::mouseMove(rig.view.viewport(),
                         rig.view.mapFromScene(over.item->sceneBoundingRect().center()));
        for (const Control& c : controls) {
            EXPECT_EQ(c.hovering(), c.item == over.item) << c.item->metaObject()->className();
        }
        EXPECT_NE(crop(rig, over.item), before) << over.item->metaObject()->className();
    }
    QTest::mouseMove(rig.view.viewport(), QPoint(5, 300));
    EXPECT_FALSE(header->menuButton()->isHovering());

    // A click on the chip clears the kinds; the chip goes, the filter button empties.
    QTest::mouseClick(rig.view.viewport(), Qt::LeftButton, {},
                      rig.view.mapFromScene(header->chip()->sceneBoundingRect().center()));
    EXPECT_FALSE(rig.model->filter().isFiltering());
    EXPECT_FALSE(header->chip()->isVisible());
    EXPECT_EQ(header->filterButton()->label(), "Filters");
}

TEST(ShelfHeader, TheUnreadCountRollsToTheNewNumberOnlyWhereTheShelfIsOpen) {
    DrawerRig rig;
    rig.publish(withUnread(4));
    rig.open();
    UnreadLabel* label = rig.drawer->header()->unread();
    EXPECT_EQ(label->text(), "4 new");
    EXPECT_EQ(label->roll(), 1);
    // Looked at in one place: while it rolls the label claims more than at rest.
    const QRect place = label->sceneBoundingRect().toAlignedRect();
    const auto seen = [&] { return rig.render(QStringLiteral("header")).copy(place); };
    const QImage four = seen();

    rig.publish(withUnread(5));
    EXPECT_EQ(label->text(), "5 new");
    EXPECT_EQ(label->accessibleName(), "5 new");
    EXPECT_EQ(seen(), four); // the roll starts at the old number
    rig.clock->advance(0.08);
    const double mid = label->roll();
    EXPECT_GT(mid, 0.1);
    EXPECT_LT(mid, 0.9);
    const QImage rolling = seen();
    rig.clock->advance(1.0);
    EXPECT_EQ(label->roll(), 1);
    const QImage five = seen();
    EXPECT_NE(rolling, four);
    EXPECT_NE(rolling, five);
    EXPECT_NE(four, five);

    // Closed, the number changes at once.
    rig.model->setOpenScreen(std::nullopt);
    rig.publish(withUnread(6));
    EXPECT_EQ(label->text(), "6 new");
    EXPECT_EQ(label->roll(), 1);
}

// Whatever the label paints, at rest or rolling, at any scale, lies within what it claims (the
// view repaints no more than that: ink beyond it stays behind or is cut by a neighbour's
// repaint), and that stays clear of the chip and the filter button beside it. At every frame the
// dot keeps clear of the number drawn beside it, the outgoing one of a narrower count too.
TEST(ShelfHeader, TheUnreadLabelPaintsOnlyWhereItClaimsAndClearOfItsNeighbours) {
    DrawerRig rig;
    rig.publish(withUnread(13));
    rig.open();
    rig.model->toggleKind(KindFilter::images);
    ShelfHeader* header = rig.drawer->header();
    UnreadLabel* label = header->unread();
    const double margin = 30;
    // The label painted alone with room around what it claims, which lies at `inside`.
    const auto painted = [&](double ratio, QRect& inside) {
        const QRectF claimed = label->boundingRect();
        QImage image(((claimed.size() + QSizeF(2 * margin, 2 * margin)) * ratio).toSize(),
                     QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        painter.translate(margin - claimed.left(), margin - claimed.top());
        label->paint(&painter, nullptr, nullptr);
        painter.end();
        inside = QRectF(QPointF(margin, margin) * ratio, claimed.size() * ratio).toAlignedRect();
        return image;
    };
    const auto escaped = [&](double ratio) {
        QRect inside;
        const QImage image = painted(ratio, inside);
        int out = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                out += !inside.contains(x, y) && qAlpha(image.pixel(x, y)) > 0;
            }
        }
        return out;
    };
    // The clear ground, in points, between the accent dot and the nearest ink of the white text
    // that shows (an eighth of full strength or more).
    const auto clearance = [&](double ratio) {
        QRect inside;
        const QImage image = painted(ratio, inside);
        const auto accent = [](QRgb p) { return qRed(p) - qBlue(p) > qAlpha(p) / 3; };
        int dot = -1;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                if (qAlpha(image.pixel(x, y)) > 0 && accent(image.pixel(x, y))) {
                    dot = std::max(dot, x);
                }
            }
        }
        int ink = image.width();
        for (int y = 0; y < image.height(); ++y) {
            for (int x = dot + 1; x < ink; ++x) {
                if (qAlpha(image.pixel(x, y)) >= 32 && !accent(image.pixel(x, y))) {
                    ink = x;
                }
            }
        }
        return (ink - dot - 1) / ratio;
    };
    for (const auto& [from, to] :
         std::vector<std::pair<int, int>>{{13, 8}, {9, 10}, {99, 100}, {10, 9}, {100, 99}}) {
        rig.publish(withUnread(from));
        rig.clock->advance(1);
        rig.publish(withUnread(to));
        for (int step = 0; step < 12; ++step) {
            ASSERT_TRUE(header->chip()->isVisible());
            const QRectF at = label->sceneBoundingRect();
            EXPECT_GE(at.left(), header->chip()->sceneBoundingRect().right()) << to;
            EXPECT_LE(at.right(), header->filterButton()->sceneBoundingRect().left()) << to;
            for (const double ratio : {1.0, 1.25, 1.5, 1.75, 2.0}) {
                EXPECT_EQ(escaped(ratio), 0)
                    << from << " to " << to << " step " << step << " at " << ratio;
                EXPECT_GT(clearance(ratio), 1.5)
                    << from << " to " << to << " step " << step << " at " << ratio;
            }
            rig.clock->advance(0.04);
        }
        rig.clock->advance(1);
        EXPECT_EQ(label->roll(), 1);
        EXPECT_EQ(escaped(2), 0) << to << " at rest";
        // The controls followed the count's width to where the new number puts them.
        EXPECT_EQ(label->pos(), header->layout().unread->topLeft()) << to << " at rest";
    }
}
