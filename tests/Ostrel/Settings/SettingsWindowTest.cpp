#include "SettingsTestSupport.h"

#include "Ostrel/Settings/PreferencesWindowController.h"
#include "Ostrel/Settings/SegmentedPicker.h"
#include "Ostrel/Settings/SettingsSidebar.h"
#include "Ostrel/Widgets/FocusRing.h"
#include "Ostrel/Widgets/SettingsColors.h"
#include "support/Contrast.h"
#include "support/FocusStops.h"

#include <QAccessible>
#include <QGuiApplication>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QTest>

using namespace ostrel;

namespace {

class SettingsWindowTest : public test::SettingsFixture {
protected:
    // A screen the window fits on (the offscreen platform's own is 800 x 600).
    SettingsWindowTest() { useScreens({QRect(0, 0, 1920, 1080)}); }

    std::unique_ptr<PreferencesWindowController> makeWindow(AppSettings& settings) {
        return std::make_unique<PreferencesWindowController>(settings, UpdateActions{});
    }

    static QColor pixel(QWidget* widget, QPoint at) {
        return widget->grab().toImage().pixelColor(at);
    }
};

} // namespace

TEST_F(SettingsWindowTest, RemembersThePaneAcrossLaunches) {
    {
        auto settings = makeSettings();
        auto controller = makeWindow(*settings);
        EXPECT_EQ(controller->navigation().pane(), Pane::general);
        controller->show();
        QTest::mouseClick(controller->root()->sidebar()->row(Pane::files), Qt::LeftButton,
                          Qt::NoModifier, QPoint(190, 20));
        EXPECT_EQ(stored().value("preferencesPane"), "files");
        EXPECT_EQ(controller->root()->paneView()->heading()->text(), "Files");
        const QAccessibleInterface* heading =
            QAccessible::queryAccessibleInterface(controller->root()->paneView()->heading());
        EXPECT_EQ(heading->role(), QAccessible::Heading);
        EXPECT_EQ(heading->text(QAccessible::Name), "Files");
        EXPECT_TRUE(controller->root()->sidebar()->row(Pane::files)->selected());
        EXPECT_FALSE(controller->root()->sidebar()->row(Pane::general)->selected());
    }
    {
        auto settings = makeSettings();
        auto controller = makeWindow(*settings);
        EXPECT_EQ(controller->navigation().pane(), Pane::files);
        controller->show(Pane::about);
        EXPECT_EQ(stored().value("preferencesPane"), "about");
        EXPECT_EQ(controller->root()->paneView()->pane()->objectName(), "about");
    }
    {
        auto store = std::make_shared<UserDefaults>(dir.path(), QStringLiteral("defaults"));
        store->set(QStringLiteral("preferencesPane"), QStringLiteral("display"));
        AppSettings settings(store);
        auto controller = makeWindow(settings);
        EXPECT_EQ(controller->navigation().pane(), Pane::general);
    }
}

TEST_F(SettingsWindowTest, SwitchingPanesRebuildsThemAndClearsFocus) {
    auto settings = makeSettings();
    auto controller = makeWindow(*settings);
    controller->show(Pane::files);
    QWidget* before = controller->root()->paneView()->pane();
    auto* field = before->findChild<QLineEdit*>();
    ASSERT_NE(field, nullptr);
    int changes = 0;
    controller->navigation().onPaneChange = [&] { ++changes; };
    controller->navigation().setPane(Pane::files);
    EXPECT_EQ(changes, 1) << "selecting the shown pane still counts";
    EXPECT_EQ(controller->root()->paneView()->pane(), before);
    controller->navigation().setPane(Pane::general);
    controller->navigation().setPane(Pane::files);
    EXPECT_NE(controller->root()->paneView()->pane(), before);
}

TEST_F(SettingsWindowTest, KeepsItsWidthAndAtLeastItsFirstHeight) {
    {
        auto store = std::make_shared<UserDefaults>(dir.path(), QStringLiteral("defaults"));
        store->set(PreferencesWindowController::frameKey, QJsonArray{40, 30, 900, 500});
        AppSettings settings(store);
        auto controller = makeWindow(settings);
        const QRect frame = controller->window()->geometry();
        EXPECT_EQ(frame.topLeft(), QPoint(40, 30)) << "a short frame keeps its top-left corner";
        EXPECT_EQ(frame.size(), QSize(810, 660));
        EXPECT_EQ(controller->allowedHeight(500), 660);
        EXPECT_EQ(controller->allowedHeight(800), 800);
        controller->window()->resize(1000, 400);
        EXPECT_EQ(controller->window()->size(), QSize(810, 660));
    }
    {
        auto store = std::make_shared<UserDefaults>(dir.path(), QStringLiteral("defaults"));
        store->set(PreferencesWindowController::frameKey, QJsonArray{40, 30, 810, 760});
        AppSettings settings(store);
        auto controller = makeWindow(settings);
        EXPECT_EQ(controller->window()->geometry(), QRect(40, 30, 810, 760));
    }
}

TEST_F(SettingsWindowTest, ComesUpWhereItCanBeReached) {
    // Saved on a screen that is gone: centred on the one there is.
    auto store = std::make_shared<UserDefaults>(dir.path(), QStringLiteral("defaults"));
    store->set(PreferencesWindowController::frameKey, QJsonArray{2500, 1400, 810, 700});
    AppSettings settings(store);
    auto controller = makeWindow(settings);
    controller->show();
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect frame = controller->window()->frameGeometry();
    EXPECT_GE(frame.top(), area.top());
    EXPECT_TRUE(area.contains(frame.topLeft())) << frame.x() << "," << frame.y();

    // Taller and wider than the screen: top and left edges on it. A frame partly off comes
    // wholly onto the screen.
    const QList<QRect> small{QRect(0, 0, 640, 400)};
    EXPECT_EQ(PreferencesWindowController::keptOnScreen(QRect(-85, -130, 810, 660), small),
              QPoint(0, 0));
    EXPECT_EQ(PreferencesWindowController::keptOnScreen(QRect(600, 380, 300, 300), small),
              QPoint(340, 100));
    EXPECT_EQ(PreferencesWindowController::keptOnScreen(QRect(40, 30, 300, 300), small),
              QPoint(40, 30));
}

TEST_F(SettingsWindowTest, ClosingHidesThePreviewsBeforeTheOwnerHears) {
    auto settings = makeSettings();
    auto controller = makeWindow(*settings);
    controller->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(controller->window()));
    EXPECT_TRUE(controller->navigation().visible());
    std::optional<bool> visibleAtClose;
    controller->onClose = [&] { visibleAtClose = controller->navigation().visible(); };
    controller->window()->close();
    EXPECT_EQ(visibleAtClose, false);
    controller->show();
    EXPECT_TRUE(controller->window()->isVisible()) << "the window is kept for the next show";
}

TEST_F(SettingsWindowTest, PaintsLightAndDarkFromThePalette) {
    auto settings = makeSettings();
    auto controller = makeWindow(*settings);
    controller->show();
    QWidget* root = controller->root();
    const QPoint background(root->width() - 4, root->height() - 4);
    const QPoint sidebar(100, 450);
    EXPECT_EQ(pixel(root, background), QColor(237, 237, 237));
    EXPECT_EQ(pixel(root, sidebar), QColor(226, 226, 226));
    QApplication::setPalette(darkPalette());
    QApplication::processEvents();
    EXPECT_EQ(pixel(root, background), QColor(32, 32, 32));
    EXPECT_EQ(pixel(root, sidebar), QColor(21, 21, 21));
    EXPECT_EQ(controller->root()->paneView()->heading()->palette().color(QPalette::WindowText),
              SettingsColors::primaryText(true))
        << "labels take the dark text colour without a rebuild";
}

TEST_F(SettingsWindowTest, TheSidebarHeaderStartsAtItsTopInsetWithNoTitleBarOverTheContent) {
    auto settings = makeSettings();
    auto controller = makeWindow(*settings);
    controller->show();
    QWidget* root = controller->root();
    SettingsSidebar* sidebar = controller->root()->sidebar();
    // 8 around the panel, 24 above the 36-pixel icon and 24 below it; the first row's highlight
    // in the middle of its 40-pixel band.
    const QPoint icon = sidebar->mapTo(root, sidebar->iconRect().center().toPoint());
    EXPECT_EQ(icon.y(), 8 + 24 + 18);
    EXPECT_NE(pixel(root, icon), QColor(226, 226, 226)) << "the icon is drawn there";
    EXPECT_EQ(sidebar->row(Pane::general)->mapTo(root, QPoint(0, 0)).y(), 8 + 24 + 36 + 24 + 2);
}

// Every control that Tab reaches, on every pane, shows a ring while it holds the focus (a switch
// that is on, a list, a button); the form is no stop of its own, and a click asks for no ring.
TEST_F(SettingsWindowTest, EveryTabStopOfEveryPaneShowsItsFocus) {
    auto settings = makeSettings();
    auto controller = makeWindow(*settings);
    QWidget* window = controller->window();
    const QColor accent = SettingsColors::accent(false);
    const int reach = static_cast<int>(std::ceil(FocusRing::gap + FocusRing::width));
    for (const Pane pane :
         {Pane::general, Pane::displays, Pane::shelf, Pane::files, Pane::folders, Pane::about}) {
        controller->show(pane);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
        QApplication::processEvents(); // the focus is cleared soon after a show
        const auto stops = test::tabStops(window, accent, reach);
        EXPECT_FALSE(stops.isEmpty());
        // After the sidebar, Tab goes down the pane as it reads.
        for (qsizetype i = 2; i < stops.size(); ++i) {
            const auto middle = [&](qsizetype at) {
                return stops[at].widget->mapTo(window, stops[at].widget->rect().center()).y();
            };
            EXPECT_GE(middle(i), middle(i - 1) - 2)
                << rawValue(pane).toStdString() << ": " << stops[i].name.toStdString();
        }
        for (const test::TabStop& stop : stops) {
            EXPECT_TRUE(stop.ringed)
                << rawValue(pane).toStdString() << ": " << stop.name.toStdString();
            // The ring alone: no focus drawing of the style's own within it.
            EXPECT_FALSE(stop.inner)
                << rawValue(pane).toStdString() << ": " << stop.name.toStdString();
            EXPECT_EQ(qobject_cast<QScrollArea*>(stop.widget), nullptr) << "the form is no stop";
        }
    }
    controller->show(Pane::files);
    QApplication::processEvents();
    auto* field = controller->root()->paneView()->pane()->findChild<QLineEdit*>();
    const auto blue = [&] {
        const QImage image = field->grab().toImage();
        int count = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                count += c.blue() - std::max(c.red(), c.green()) > 30;
            }
        }
        return count;
    };
    const int unfocused = blue();
    QTest::mouseClick(field, Qt::LeftButton);
    ASSERT_TRUE(field->hasFocus());
    EXPECT_EQ(window->findChild<FocusRing*>()->ring(), nullptr);
    EXPECT_GT(blue(), unfocused) << "with no ring, the style's own frame marks the field";
}

// Under a dark desktop theme with a larger font, every push button grows with its title and keeps
// a margin inside its border that grows with it.
TEST_F(SettingsWindowTest, ButtonsGrowWithALargerFontUnderADarkTheme) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(17);
    QApplication::setFont(font);
    QApplication::setPalette(darkPalette());
    writeStore({{"hotkeyModifiers", 4096}}); // "Reset" shows beside the shortcut
    auto settings = makeSettings();
    auto controller = makeWindow(*settings);
    int seen = 0;
    for (const Pane pane : allPanes) {
        controller->show(pane);
        QApplication::processEvents();
        test::settleLayouts();
        for (QPushButton* button : controller->root()->paneView()->findChildren<QPushButton*>()) {
            if (!button->isVisibleTo(controller->window())) {
                continue;
            }
            const std::string name = button->text().toStdString();
            // The title's ink: what stands out from the button's face, inside its border.
            const QImage image = button->grab().toImage();
            const int face = qGray(image.pixel(image.width() / 2, 3));
            int first = image.width();
            int last = -1;
            for (int y = 4; y < image.height() - 4; ++y) {
                for (int x = 3; x < image.width() - 3; ++x) {
                    if (std::abs(qGray(image.pixel(x, y)) - face) > 80) {
                        first = std::min(first, x);
                        last = x;
                    }
                }
            }
            ASSERT_GE(last, 0) << name;
            // More than the 12 pixels beside a 13-pixel title: the margin grew with the font.
            EXPECT_GE(first, 14) << name;
            EXPECT_GE(image.width() - 1 - last, 14) << name;
            ++seen;
        }
    }
    EXPECT_GE(seen, 5); // the shortcut, "Reset", two folders' "Change…", "Check for Updates"
}

// Every segment's title, the chosen one's above all, reads at 4.5:1 on its own ground under every
// palette a desktop gives, a dark one tinted as Breeze Dark is among them, at scales 1 and 2.
TEST_F(SettingsWindowTest, SegmentTitlesReadOnEveryPalette) {
    auto settings = makeSettings();
    auto controller = makeWindow(*settings);
    controller->show(Pane::shelf);
    QWidget* window = controller->window();
    const std::pair<const char*, QPalette> palettes[] = {
        {"light", lightPalette()},
        {"dark", darkPalette()},
        {"Breeze Dark", test::breezeDarkPalette()},
        {"black", test::highContrastPalette(true)},
        {"white", test::highContrastPalette(false)}};
    for (const auto& [name, palette] : palettes) {
        QApplication::setPalette(palette);
        QApplication::processEvents();
        for (const int ratio : {1, 2}) {
            QImage shot(window->size() * ratio, QImage::Format_RGB32);
            shot.setDevicePixelRatio(ratio);
            window->render(&shot);
            int seen = 0;
            for (QWidget* widget : window->findChildren<QWidget*>()) {
                const auto* picker = dynamic_cast<const SegmentedPicker*>(widget);
                if (picker == nullptr) {
                    continue;
                }
                for (int i = 0; i < picker->titles().size(); ++i) {
                    const QRect r = picker->segmentRect(i).adjusted(3, 2, -3, -2);
                    const QRect area(picker->mapTo(window, r.topLeft()) * ratio, r.size() * ratio);
                    EXPECT_GE(test::legibility(shot, area), 4.5)
                        << name << " at " << ratio << ": " << picker->titles()[i].toStdString();
                    ++seen;
                }
            }
            EXPECT_EQ(seen, 4);
            const QString path =
                test::renderPath(QStringLiteral("shelf-%1-x%2").arg(name).arg(ratio));
            if (!path.isEmpty()) {
                EXPECT_TRUE(shot.save(path));
            }
        }
    }
}

// Under a black or a white high-contrast desktop palette every push button keeps an edge that
// stands at least 3:1 from the row around it.
TEST_F(SettingsWindowTest, ButtonsKeepAnEdgeUnderAHighContrastPalette) {
    auto settings = makeSettings();
    auto controller = makeWindow(*settings);
    QWidget* window = controller->window();
    for (const bool black : {true, false}) {
        QApplication::setPalette(test::highContrastPalette(black));
        int seen = 0;
        for (const Pane pane : allPanes) {
            controller->show(pane);
            QApplication::processEvents();
            test::settleLayouts();
            const QImage shot = window->grab().toImage();
            for (QPushButton* button :
                 controller->root()->paneView()->findChildren<QPushButton*>()) {
                if (!button->isVisibleTo(window)) {
                    continue;
                }
                const qreal ratio = shot.devicePixelRatio();
                const QPoint left = button->mapTo(window, QPoint(0, button->height() / 2)) * ratio;
                const QColor row = shot.pixelColor(left - QPoint(qRound(3 * ratio), 0));
                double edge = 1;
                for (int x = 0; x <= qCeil(ratio); ++x) {
                    edge =
                        std::max(edge, test::contrast(row, shot.pixelColor(left + QPoint(x, 0))));
                }
                EXPECT_GE(edge, 3.0)
                    << (black ? "black: " : "white: ") << button->text().toStdString();
                ++seen;
            }
        }
        EXPECT_GE(seen, 4);
    }
}

// Screens shorter or narrower than the window (1920 x 1080 at twice the scale with a bar at the
// top, 1024 x 600, 800 x 600 at several scales, a panel on a side): the window lies wholly on
// the screen, and on every pane each control Tab reaches shows whole when it has the focus, as
// does the About row when the keyboard selects it.
TEST_F(SettingsWindowTest, OnAScreenSmallerThanTheWindowEveryControlCanBeReached) {
    auto settings = makeSettings();
    const QColor accent = SettingsColors::accent(false);
    const int reach = static_cast<int>(std::ceil(FocusRing::gap + FocusRing::width));
    for (const QRect area : {QRect(0, 32, 960, 508), QRect(0, 0, 1024, 600), QRect(0, 0, 800, 600),
                             QRect(48, 0, 752, 600), QRect(0, 0, 640, 480), QRect(0, 0, 533, 400),
                             QRect(0, 0, 400, 300)}) {
        SCOPED_TRACE(QStringLiteral("%1,%2 %3x%4")
                         .arg(area.x())
                         .arg(area.y())
                         .arg(area.width())
                         .arg(area.height())
                         .toStdString());
        useScreens({area});
        auto controller = makeWindow(*settings);
        QWidget* window = controller->window();
        for (const Pane pane : allPanes) {
            SCOPED_TRACE(rawValue(pane).toStdString());
            controller->show(pane);
            ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
            QApplication::processEvents();
            test::settleLayouts();
            EXPECT_TRUE(area.contains(window->frameGeometry()));
            for (const test::TabStop& stop : test::tabStops(window, accent, reach)) {
                EXPECT_TRUE(stop.whole) << stop.name.toStdString();
                EXPECT_TRUE(stop.ringed) << stop.name.toStdString();
            }
        }
        // The keyboard's way to About: Tab to the sidebar, End.
        controller->show(Pane::general);
        QApplication::processEvents();
        QTest::keyClick(window, Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), controller->root()->sidebar()->row(Pane::general));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
        EXPECT_EQ(controller->navigation().pane(), Pane::about);
        EXPECT_TRUE(test::shownWhole(controller->root()->sidebar()->row(Pane::about)));
        controller->window()->close();
    }
}

// The sidebar is a stop for Tab, with its ring around the selected row; the arrows move to the
// next or previous pane and Home and End to the first and last, keeping the keyboard in the
// sidebar; to a screen reader the sidebar is a list whose focused item is the selected pane.
TEST_F(SettingsWindowTest, TheKeyboardChangesPanesFromTheSidebar) {
    auto settings = makeSettings();
    auto controller = makeWindow(*settings);
    QWidget* window = controller->window();
    SettingsSidebar* sidebar = controller->root()->sidebar();
    controller->show(Pane::shelf);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window));
    QApplication::processEvents();
    window->activateWindow();
    QApplication::setActiveWindow(window);

    const auto stops =
        test::tabStops(window, SettingsColors::accent(false),
                       static_cast<int>(std::ceil(FocusRing::gap + FocusRing::width)));
    const auto sidebarStops =
        std::count_if(stops.begin(), stops.end(),
                      [&](const test::TabStop& s) { return s.widget->parent() == sidebar; });
    EXPECT_EQ(sidebarStops, 1);
    const auto shelfRow = std::find_if(stops.begin(), stops.end(), [&](const test::TabStop& s) {
        return s.widget == sidebar->row(Pane::shelf);
    });
    ASSERT_NE(shelfRow, stops.end()) << "Tab reaches the selected pane's row";
    EXPECT_TRUE(shelfRow->ringed);

    while (QApplication::focusWidget() != sidebar->row(Pane::shelf)) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    QApplication::processEvents(); // the focus is cleared soon after a pane changes
    EXPECT_EQ(controller->navigation().pane(), Pane::files);
    EXPECT_EQ(controller->root()->paneView()->heading()->text(), "Files");
    ASSERT_EQ(QApplication::focusWidget(), sidebar->row(Pane::files));
    EXPECT_EQ(window->findChild<FocusRing*>()->target(), sidebar->row(Pane::files));
    QAccessibleInterface* files = QAccessible::queryAccessibleInterface(sidebar->row(Pane::files));
    ASSERT_NE(files, nullptr);
    EXPECT_EQ(files->role(), QAccessible::ListItem);
    EXPECT_EQ(files->text(QAccessible::Name), "Files");
    EXPECT_TRUE(files->state().selected);
    EXPECT_TRUE(files->state().focused);
    EXPECT_EQ(files->parent()->role(), QAccessible::List);
    EXPECT_FALSE(
        QAccessible::queryAccessibleInterface(sidebar->row(Pane::shelf))->state().selected);

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    EXPECT_EQ(controller->navigation().pane(), Pane::displays);
    // The keypad's arrows (Num Lock off) move as the others do.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down, Qt::KeypadModifier);
    EXPECT_EQ(controller->navigation().pane(), Pane::shelf);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up, Qt::KeypadModifier);
    EXPECT_EQ(controller->navigation().pane(), Pane::displays);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_End);
    EXPECT_EQ(controller->navigation().pane(), Pane::about);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_EQ(controller->navigation().pane(), Pane::about) << "the last stays the last";
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Home);
    QApplication::processEvents();
    EXPECT_EQ(controller->navigation().pane(), Pane::general);
    EXPECT_EQ(QApplication::focusWidget(), sidebar->row(Pane::general));
    EXPECT_EQ(stored().value("preferencesPane"), "general");
}
