#include "Ostrel/Model/MenuAction.h"
#include "support/ShelfModelTestSupport.h"

#include <QMenu>

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

QStringList titles(const QList<MenuEntry>& entries) {
    QStringList out;
    for (const MenuEntry& entry : entries) {
        out.append(entry.separator ? QStringLiteral("-") : entry.title);
    }
    return out;
}

const MenuEntry& entry(const QList<MenuEntry>& entries, const QString& title) {
    for (const MenuEntry& e : entries) {
        if (e.title == title) {
            return e;
        }
    }
    static const MenuEntry none;
    ADD_FAILURE() << "no entry " << title.toStdString();
    return none;
}

} // namespace

TEST(ShelfModelMenu, TheMoreMenuListsRecentlyHiddenItems) {
    ModelRig rig;
    rig.startWith(Snapshot());
    EXPECT_EQ(titles(rig.model->shelfMenu()),
              (QStringList{"Settings…", "-", "Delete All Items", "-", "Quit Ostrel"}));
    EXPECT_FALSE(entry(rig.model->shelfMenu(), "Delete All Items").enabled);

    rig.publish(snapshotOf({shelfItem("a")}, {shelfItem("h0")}));
    const QList<MenuEntry> one = entry(rig.model->shelfMenu(), "Recently Hidden").submenu;
    EXPECT_EQ(titles(one), (QStringList{"h0", "-", "Unhide"}));

    QList<ShelfItem> hidden;
    for (int i = 0; i < 12; ++i) {
        hidden.append(shelfItem(QStringLiteral("h%1").arg(i)));
    }
    rig.publish(snapshotOf({shelfItem("a")}, hidden));
    const QList<MenuEntry> menu = rig.model->shelfMenu();
    EXPECT_EQ(titles(menu), (QStringList{"Settings…", "Recently Hidden", "-", "Delete All Items",
                                         "-", "Quit Ostrel"}));
    const QList<MenuEntry> twelve = entry(menu, "Recently Hidden").submenu;
    ASSERT_EQ(twelve.size(), 12);
    EXPECT_EQ(twelve[9].title, "h9");
    EXPECT_TRUE(twelve[10].separator);
    EXPECT_EQ(twelve[11].title, "Unhide All 12");
    twelve[11].action();
    ASSERT_EQ(rig.sent("unhide").size(), 1u);
    EXPECT_EQ(rig.sent("unhide")[0].ids.size(), 12);

    int quits = 0;
    rig.model->commands.quit = [&] { ++quits; };
    rig.menus->choose = QStringLiteral("Quit Ostrel");
    int ended = 0;
    rig.model->onInteractionEnded = [&] { ++ended; };
    bool openDuring = false;
    rig.menus->during = [&] { openDuring = rig.model->isMenuOpen(); };
    rig.model->showShelfMenu(nullptr);
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(openDuring);
    EXPECT_FALSE(rig.model->isMenuOpen());
    EXPECT_EQ(ended, 1);

    // Nowhere to show it: nothing happens at all.
    rig.menus->showable = false;
    rig.model->showShelfMenu(nullptr);
    EXPECT_EQ(rig.menus->menus.size(), 1);
    EXPECT_EQ(ended, 1);
}

TEST(ShelfModelMenu, ProjectAndKindMenusFilterAndClearTheSelectedSession) {
    ModelRig rig;
    ShelfItem pdf = shelfItem("p", "R&D");
    pdf.kind = ShelfItemKind::pdf;
    rig.startWith(snapshotOf({shelfItem("a", "s1"), shelfItem("b", "s1"), pdf}));
    EXPECT_EQ(rig.model->projectLabel(), "All projects");
    const QList<MenuEntry> projects = rig.model->projectMenu();
    EXPECT_EQ(titles(projects), (QStringList{"All Projects", "-", "s1", "R&D"}));
    EXPECT_TRUE(projects[0].checked);
    EXPECT_EQ(projects[3].count, 1);

    rig.model->setSelectedSessionID(QStringLiteral("s1"));
    projects[3].action();
    EXPECT_EQ(rig.model->projectLabel(), "R&D");
    EXPECT_FALSE(rig.model->selectedSessionID().has_value());
    EXPECT_EQ(rig.model->groups().size(), 1);
    QSignalSpy groups(rig.model.get(), &ShelfModel::groupsChanged);
    QSignalSpy filter(rig.model.get(), &ShelfModel::filterChanged);
    rig.model->projectMenu()[3].action(); // the checked project again
    EXPECT_EQ(groups.count() + filter.count(), 0);

    // Kinds count within the chosen project; a kind without items shows 0.
    QList<MenuEntry> kinds = rig.model->kindMenu();
    EXPECT_EQ(entry(kinds, title(KindFilter::documents)).count, 1);
    EXPECT_EQ(entry(kinds, title(KindFilter::images)).count, 0);
    EXPECT_FALSE(entry(kinds, "Clear Filters").enabled); // the project does not count
    entry(kinds, title(KindFilter::images)).action();
    kinds = rig.model->kindMenu();
    EXPECT_TRUE(entry(kinds, title(KindFilter::images)).checked);
    ASSERT_TRUE(entry(kinds, "Clear Filters").enabled);
    entry(kinds, "Clear Filters").action();
    EXPECT_TRUE(rig.model->filter().kinds.empty());
    EXPECT_EQ(rig.model->filter().project, QStringLiteral("R&D"));
}

TEST(ShelfModelMenu, RealMenusShowTitlesAsWrittenAndActionsLiveWithTheirItems) {
    QMenu menu;
    int ran = 0;
    MenuEntry project = MenuEntry::item(QStringLiteral("R&D"), [&] { ++ran; });
    project.count = 3;
    project.checked = true;
    MenuAction::fill(menu, {project, MenuEntry::divider(), MenuEntry::disabled("Clear Filters"),
                            MenuEntry::parent("Recently Hidden", {MenuEntry::item("x", [] {})})});
    const QList<QAction*> actions = menu.actions();
    ASSERT_EQ(actions.size(), 4);
    EXPECT_EQ(actions[0]->text(), "R&&D\t3");
    EXPECT_TRUE(actions[0]->isChecked());
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_FALSE(actions[2]->isEnabled());
    ASSERT_NE(actions[3]->menu(), nullptr);
    actions[0]->trigger();
    EXPECT_EQ(ran, 1);
}

TEST(ShelfModelMenu, ACountFollowsItsTitleAfterTwoSpacesInAPalerShade) {
    ModelRig rig;
    rig.startWith(snapshotOf({shelfItem("a"), shelfItem("b")}, {}));
    QMenu menu;
    MenuAction::fill(menu, rig.model->kindMenu());
    menu.adjustSize();
    const QImage picture = menu.grab().toImage();
    QAction* images = menu.actions().first();
    ASSERT_TRUE(images->text().startsWith("Images\t"));
    // Columns of the entry that hold ink, and the darkest ink of each, inside the menu's frame.
    const QRect row = menu.actionGeometry(images).adjusted(2, 0, -2, 0);
    const int ground = qGray(picture.pixel(row.left() + 2, row.center().y()));
    QList<std::pair<int, int>> ink;
    for (int x = row.left(); x <= row.right(); ++x) {
        int darkest = 255;
        for (int y = row.top() + 2; y < row.bottom() - 2; ++y) {
            darkest = std::min(darkest, qGray(picture.pixel(x, y)));
        }
        if (darkest < ground - 40) {
            ink.append({x, darkest});
        }
    }
    ASSERT_FALSE(ink.isEmpty());
    // The widest gap between inked columns lies between the title and the count.
    qsizetype split = 1;
    for (qsizetype i = 1; i < ink.size(); ++i) {
        if (ink[i].first - ink[i - 1].first > ink[split].first - ink[split - 1].first) {
            split = i;
        }
    }
    const int gap = ink[split].first - ink[split - 1].first - 1;
    const QFontMetrics metrics(menu.font());
    EXPECT_GE(gap, metrics.horizontalAdvance("  ") - 2);
    EXPECT_LE(gap, metrics.horizontalAdvance("   "));
    int title = 255;
    int count = 255;
    for (qsizetype i = 0; i < ink.size(); ++i) {
        (i < split ? title : count) = std::min(i < split ? title : count, ink[i].second);
    }
    EXPECT_GT(count, title + 40) << "the count is paler than its title";
}
