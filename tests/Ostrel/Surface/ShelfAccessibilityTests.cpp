// What assistive technology is offered of an open drawer holding thousands of items: only what is
// in view, labelled and ordered, with actions that run once the request is answered, and nothing
// left behind by items that go.
#include "DrawerRig.h"

#include "Ostrel/Surface/ShelfPanelAccessible.h"
#include "Ostrel/Views/AccessibleTree.h"
#include "Ostrel/Views/SessionSidebar.h"

#include <gtest/gtest.h>

#include <QAccessibleActionInterface>
#include <QCoreApplication>

using namespace ostrel;
using namespace ostrel::test;

namespace {

// 5,000 unread items in 2,000 turns of 40 sessions.
Snapshot crowd() {
    Snapshot s;
    for (int session = 0; session < 40; ++session) {
        const QString sid = QStringLiteral("s%1").arg(session);
        s.sessions.append(Session(sid, std::nullopt, QStringLiteral("/work/p%1").arg(session),
                                  QStringLiteral("main"), Date(799900000 - session * 1000),
                                  Date(799900100 - session * 1000)));
        for (int turn = 0; turn < 50; ++turn) {
            const QString pid = sid + QStringLiteral("-t%1").arg(turn);
            s.prompts.append(Prompt{pid, sid, Date(799900000 - session * 1000 + turn),
                                    QStringLiteral("Prompt %1").arg(turn)});
            for (int i = 0; i < (turn % 2 ? 3 : 2); ++i) {
                ShelfItem item;
                item.id = pid + QStringLiteral("-%1").arg(i);
                item.kind = ShelfItemKind::pdf;
                item.title = item.id;
                item.sessionID = sid;
                item.promptID = pid;
                item.createdAt = Date(799900000 - session * 1000 + turn + i * 0.01);
                s.items.append(item);
            }
        }
    }
    return s;
}

QStringList names(const QList<QGraphicsObject*>& items) {
    QStringList out;
    for (QGraphicsObject* item : items) {
        out << QAccessible::queryAccessibleInterface(item)->text(QAccessible::Name);
    }
    return out;
}

} // namespace

TEST(ShelfAccessibility, ThousandsOfItemsListWhatIsInViewAndGoneItemsLeaveNoInterface) {
    ShelfPanelAccessible::install();
    DrawerRig rig;
    rig.publish(crowd());
    rig.open();
    AccessibleTree* tree = AccessibleTree::of(&rig.view);
    EXPECT_LT(tree->items().size(), 60);

    // The header first, its controls from the leading end; then the session list.
    const QList<QGraphicsObject*> roots = tree->children(nullptr);
    ASSERT_GE(roots.size(), 3);
    EXPECT_EQ(roots[0], rig.drawer->header());
    EXPECT_EQ(names(tree->children(roots[0])),
              (QStringList{"Project: All projects", "5000 new", "Filters", "Ostrel menu"}));
    auto* sidebar = qobject_cast<SessionSidebar*>(roots[1]);
    ASSERT_NE(sidebar, nullptr);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(sidebar)->text(QAccessible::Name), "Sessions");
    const QList<QGraphicsObject*> rows = tree->children(sidebar);
    ASSERT_GE(rows.size(), 2);
    EXPECT_LT(rows.size(), 20);
    QAccessibleInterface* first = QAccessible::queryAccessibleInterface(rows[0]);
    EXPECT_EQ(first->role(), QAccessible::ListItem);
    EXPECT_TRUE(first->state().selected);
    EXPECT_TRUE(first->text(QAccessible::Name).startsWith(QStringLiteral("p0, 125, ")));
    EXPECT_EQ(first->parent()->object(), sidebar);
    // Turn captions of the selected session follow, each with its count and what a press does.
    QAccessibleInterface* caption = QAccessible::queryAccessibleInterface(roots[2]);
    EXPECT_EQ(caption->text(QAccessible::Name), "Prompt 49, 3 items");
    EXPECT_EQ(caption->text(QAccessible::Value), "Expanded");
    EXPECT_EQ(caption->text(QAccessible::Description), "Collapses the section");

    // A press from assistive technology runs once the request has been answered.
    QAccessibleInterface* second = QAccessible::queryAccessibleInterface(rows[1]);
    second->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(rig.model->selectedSessionID(), std::nullopt);
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.model->selectedSessionID(), std::optional<QString>("s1"));

    // Everything goes while a client holds a row: its interface goes with it.
    const QAccessible::Id held = QAccessible::uniqueId(second);
    rig.publish(Snapshot());
    rig.clock->advance(1.0);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    EXPECT_EQ(QAccessible::accessibleInterface(held), nullptr);
    EXPECT_EQ(
        names(tree->children(nullptr)),
        (QStringList{QString(), "Nothing yet. Images, pages and documents Claude makes will appear "
                                "here."}));
}
