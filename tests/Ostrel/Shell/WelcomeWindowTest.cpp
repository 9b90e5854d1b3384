#include "Ostrel/Shell/MissingProjectsNotice.h"
#include "Ostrel/Shell/WelcomeWindowController.h"
#include "Ostrel/Widgets/Switch.h"
#include "support/ShelfModelTestSupport.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPushButton>
#include <QTest>

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

TEST(WelcomePlace, NamesTheEdgeOfTheChosenStyle) {
    EXPECT_EQ(WelcomeWindowController::place(DisplayStyleChoice::pill(PillSide::bottom), false),
              "the pill on the bottom edge");
    EXPECT_EQ(WelcomeWindowController::place(DisplayStyleChoice::pill(PillSide::left), true),
              "the pill on the left edge");
    EXPECT_EQ(WelcomeWindowController::place(DisplayStyleChoice::notch(), false),
              "the top of the screen");
    EXPECT_EQ(WelcomeWindowController::place(DisplayStyleChoice::notch(), true), "the notch");
}

TEST(WelcomeWindow, TicksTheStepFollowsTheSwitchAndClosesOnce) {
    ModelRig rig;
    WelcomeWindowController welcome(*rig.model, *rig.settings, nullptr);
    int closed = 0;
    welcome.onClose = [&] { ++closed; };
    EXPECT_EQ(welcome.stepTitle(), "Move your pointer to the top of the screen");
    rig.settings->binding(&Preferences::displayStyle)
        .set(DisplayStyleChoice::pill(PillSide::right));
    EXPECT_EQ(welcome.stepTitle(), "Move your pointer to the pill on the right edge");

    welcome.show();
    EXPECT_TRUE(rig.defaults->value(WelcomeWindowController::shownKey).toBool());
    EXPECT_TRUE(welcome.window()->isVisible());
    EXPECT_EQ(welcome.window()->windowTitle(), "Welcome to Ostrel");
    EXPECT_TRUE(welcome.doneButton()->isDefault());

    // Opening the shelf ticks the step; closing it again keeps the tick.
    EXPECT_FALSE(welcome.triedShelf());
    rig.model->setOpenScreen(1);
    EXPECT_TRUE(welcome.triedShelf());
    rig.model->setOpenScreen(std::nullopt);
    EXPECT_TRUE(welcome.triedShelf());

    // The switch and the stored preference are one.
    welcome.loginSwitch()->click();
    EXPECT_TRUE(rig.settings->prefs().launchAtLogin);
    rig.settings->binding(&Preferences::launchAtLogin).set(false);
    EXPECT_FALSE(welcome.loginSwitch()->isChecked());

    welcome.window()->grab().save(QDir::temp().filePath("ostrel-welcome.png"));
    const QImage image = welcome.window()->grab().toImage();
    EXPECT_EQ(image.width(), 480 * qRound(image.devicePixelRatio()));
    EXPECT_GT(image.height(), 300);

    welcome.doneButton()->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return closed == 1; }, 2000));
    EXPECT_FALSE(welcome.window()->isVisible());
    QTest::qWait(20);
    EXPECT_EQ(closed, 1);
}

TEST(MissingProjects, FoldersPaneOnceAndOnlyWhenNothingIsThere) {
    TempDir dir;
    UserDefaults defaults(dir.path(), "defaults");
    const QString projects = dir.file("claude/projects");

    EXPECT_FALSE(MissingProjectsNotice::claim(defaults, dir.path()));
    EXPECT_FALSE(defaults.contains(MissingProjectsNotice::shownKey));

    EXPECT_TRUE(MissingProjectsNotice::claim(defaults, projects));
    EXPECT_FALSE(MissingProjectsNotice::claim(defaults, projects));
    // Stored, so a later launch leaves it too.
    UserDefaults reread(dir.path(), "defaults");
    EXPECT_FALSE(MissingProjectsNotice::claim(reread, projects));

    TempDir other;
    UserDefaults fresh(other.path(), "defaults");
    QDir().mkpath(other.file("claude"));
    ASSERT_TRUE(QFile::link(other.file("gone"), other.file("claude/projects")));
    EXPECT_FALSE(MissingProjectsNotice::claim(fresh, other.file("claude/projects")));
}

} // namespace
