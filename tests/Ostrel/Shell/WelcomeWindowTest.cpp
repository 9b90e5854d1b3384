#include "Ostrel/Shell/MissingProjectsNotice.h"
#include "Ostrel/Shell/WelcomeWindowController.h"
#include "Ostrel/Widgets/FocusRing.h"
#include "Ostrel/Widgets/ReplaceMark.h"
#include "Ostrel/Widgets/SettingsColors.h"
#include "Ostrel/Widgets/Switch.h"
#include "OstrelCore/Display/Motion.h"
#include "support/Contrast.h"
#include "support/FocusStops.h"
#include "support/ReadableWindow.h"
#include "support/ShelfModelTestSupport.h"
#include "support/WholeFrames.h"

#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>

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
    // No tray here: the caption points at no icon.
    EXPECT_EQ(welcome.settingsCaption(), "To open Settings later, start Ostrel again.");

    welcome.show();
    EXPECT_TRUE(rig.defaults->value(WelcomeWindowController::shownKey).toBool());
    EXPECT_TRUE(welcome.window()->isVisible());
    EXPECT_EQ(welcome.window()->windowTitle(), "Welcome to Ostrel");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(welcome.window())->role(), QAccessible::Dialog);
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
    // Every line reads on its ground, and the switch, off, stands out from its row.
    EXPECT_GE(expectReadable(welcome.window(), image, "welcome"), 5);
    for (const double ratio : {1.25, 1.5, 1.75}) {
        EXPECT_GE(expectFramesWhole(welcome.window(), ratio, "welcome"), 1);
    }
    // "Done" stands about as far below the footnote as above the window's bottom edge.
    const QColor ground = image.pixelColor(2, image.height() - 2);
    const auto inked = [&](int y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y) != ground) {
                return true;
            }
        }
        return false;
    };
    int y = image.height() - 1;
    int below = 0;
    for (; y >= 0 && !inked(y); --y) {
        ++below;
    }
    while (y >= 0 && inked(y)) {
        --y; // the button
    }
    int above = 0;
    for (; y >= 0 && !inked(y); --y) {
        ++above;
    }
    EXPECT_GE(above, 20);
    EXPECT_NEAR(above, below, 6);

    // Return presses "Done", the default button, wherever the focus is.
    QTest::keyClick(welcome.loginSwitch(), Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return closed == 1; }, 2000));
    EXPECT_FALSE(rig.settings->prefs().launchAtLogin);
    EXPECT_FALSE(welcome.window()->isVisible());
    QTest::qWait(20);
    EXPECT_EQ(closed, 1);
}

// Tab reaches the switch and "Done", and each shows a ring while it holds the focus ("Done",
// the default button, looks the same focused or not in the style alone).
TEST(WelcomeWindow, EachTabStopShowsItsFocus) {
    ModelRig rig;
    WelcomeWindowController welcome(*rig.model, *rig.settings, nullptr);
    welcome.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(welcome.window()));
    const auto stops =
        test::tabStops(welcome.window(), SettingsColors::accent(false),
                       static_cast<int>(std::ceil(FocusRing::gap + FocusRing::width)));
    ASSERT_EQ(stops.size(), 2);
    EXPECT_EQ(stops[0].widget, welcome.loginSwitch());
    EXPECT_EQ(stops[1].widget, welcome.doneButton());
    for (const test::TabStop& stop : stops) {
        EXPECT_TRUE(stop.ringed) << stop.name.toStdString();
        EXPECT_FALSE(stop.inner) << stop.name.toStdString() << ": one outline, the ring's";
    }
    EXPECT_TRUE(welcome.doneButton()->isDefault()) << "still the default once Tab has passed it";
}

// Switched from light to a black and a white high-contrast palette and back while the window is
// open, its ground follows: every line reads on it, and the marks and the application icon stand
// out from it. The icon and the marks, which carry no words, are not in the accessibility tree.
TEST(WelcomeWindow, FollowsThePaletteWhileOpenAndKeepsItsIconOutOfTheTree) {
    ModelRig rig;
    WelcomeWindowController welcome(*rig.model, *rig.settings, nullptr);
    welcome.show();
    QWidget* window = welcome.window();
    QList<QWidget*> marks{welcome.stepMark()};
    for (QLabel* label : window->findChildren<QLabel*>()) {
        if (!label->pixmap().isNull() && label->size() == welcome.stepMark()->size()) {
            marks << label;
        }
    }
    ASSERT_EQ(marks.size(), 2) << "the step's and the login row's";
    const QPalette light = QApplication::palette();
    const auto restore = qScopeGuard([light] { QApplication::setPalette(light); });
    const std::pair<const char*, QPalette> palettes[] = {{"light", light},
                                                         {"black", highContrastPalette(true)},
                                                         {"white", highContrastPalette(false)},
                                                         {"light again", light}};
    for (const auto& [name, palette] : palettes) {
        QApplication::setPalette(palette);
        QApplication::processEvents();
        const QImage shot = window->grab().toImage();
        EXPECT_GE(expectReadable(window, shot, name), 5);
        for (const QWidget* mark : marks) {
            EXPECT_GE(legibility(shot, QRect(mark->mapTo(window, QPoint()), mark->size())), 3.0)
                << name;
        }
        EXPECT_GE(legibility(shot, welcome.iconRect()), 3.0) << name;
    }

    const QRect icon(window->mapToGlobal(welcome.iconRect().topLeft()), welcome.iconRect().size());
    std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
        for (int i = 0; i < node->childCount(); ++i) {
            QAccessibleInterface* child = node->child(i);
            ASSERT_NE(child, nullptr);
            const std::string seen = std::to_string(child->role()) + " \"" +
                                     child->text(QAccessible::Name).toStdString() + "\"";
            EXPECT_FALSE(child->rect().intersects(icon)) << seen;
            for (const QWidget* mark : marks) {
                EXPECT_FALSE(
                    QRect(mark->mapToGlobal(QPoint()), mark->size()).contains(child->rect()))
                    << seen;
            }
            walk(child);
        }
    };
    walk(QAccessible::queryAccessibleInterface(window));
}

// How green the step's mark is, summed over its pixels, and how wide its green part is.
std::pair<int, int> green(ReplaceMark* mark) {
    const QImage image = mark->grab().toImage().convertToFormat(QImage::Format_ARGB32);
    int sum = 0;
    int left = image.width();
    int right = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = QColor::fromRgba(image.pixel(x, y));
            const int g = c.alpha() * std::max(0, c.green() - std::max(c.red(), c.blue())) / 255;
            sum += g;
            if (g > 0) {
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
    }
    return {sum, right - left + 1};
}

TEST(WelcomeWindow, TheStepsMarkIsReplacedOnItsSpringOrCrossFadesUnderReduceMotion) {
    for (const bool reduced : {false, true}) {
        Motion::setAccessibilityHook([reduced] { return Accessibility{reduced, false}; });
        ModelRig rig;
        WelcomeWindowController welcome(*rig.model, *rig.settings, nullptr);
        welcome.show();
        ReplaceMark* mark = welcome.stepMark();
        EXPECT_EQ(green(mark).first, 0) << "a dashed ring";
        rig.model->setOpenScreen(1);
        rig.clock->advance(4.0 / 60 + 1e-6);
        const auto [midSum, midWidth] = green(mark);
        rig.clock->advance(1);
        const auto [endSum, endWidth] = green(mark);
        EXPECT_GT(midSum, 0);
        EXPECT_LT(midSum, endSum) << "the check fades in";
        if (reduced) {
            EXPECT_NEAR(midWidth, endWidth, 1) << "at its full size from the start";
        } else {
            EXPECT_LT(midWidth, endWidth - 2) << "growing in";
        }
        welcome.close();
    }
    Motion::setAccessibilityHook({});
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
