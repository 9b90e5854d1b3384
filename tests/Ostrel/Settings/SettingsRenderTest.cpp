#include "SettingsTestSupport.h"

#include "Ostrel/Settings/PreferencesWindowController.h"
#include "Ostrel/Settings/SettingsSidebar.h"
#include "support/ReadableWindow.h"
#include "support/WholeFrames.h"

#include <QImage>
#include <QJsonArray>
#include <QTest>

using namespace ostrel;

namespace {

class SettingsRenderTest : public test::SettingsFixture {};

} // namespace

// Every pane in both appearances, saved as PNGs for a look when OSTREL_RENDER_DIR is set; every
// text reads on its ground (4.5:1), every switch that is off stands out from its row (3:1), and
// every framed box is whole at fractional scales.
TEST_F(SettingsRenderTest, RendersEveryPaneInBothAppearances) {
    writeStore({{"watchedFolders", QJsonArray{QDir::homePath(), "/nonexistent/folder"}},
                {"hotkeyModifiers", 4096}});
    auto settings = makeSettings();
    settings->setDisplays(
        {DisplayInfo{"a", "DELL U2720Q", QRectF(0, 0, 2560, 1440), PixelSize{3840, 2160}}});
    useScreens({QRect(0, 0, 1920, 1080)});
    PreferencesWindowController controller(*settings, UpdateActions{});
    controller.show();
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkPalette() : lightPalette());
        for (const Pane pane : allPanes) {
            controller.navigation().setPane(pane);
            QApplication::processEvents();
            const QImage image = controller.window()->grab().toImage();
            ASSERT_EQ(image.size() / image.devicePixelRatio(), QSize(810, 660));
            const std::string where = (rawValue(pane) + (dark ? " dark" : " light")).toStdString();
            EXPECT_GT(test::expectReadable(controller.window(), image, where), 2);
            // The version line under the application's name, in the sidebar's header.
            const SettingsSidebar* sidebar = controller.root()->sidebar();
            const QRect icon = sidebar->iconRect().toAlignedRect();
            const QRect version(sidebar->mapTo(controller.window(),
                                               QPoint(icon.right() + 4, icon.center().y() + 3)),
                                QSize(sidebar->width() - icon.right() - 12, 13));
            EXPECT_GE(test::legibility(image, version), 4.5) << where;
            for (const double ratio : {1.25, 1.5, 1.75}) {
                EXPECT_GE(test::expectFramesWhole(controller.window(), ratio, where), 1) << where;
            }
            const QString path = test::renderPath(rawValue(pane) + (dark ? "-dark" : "-light"));
            if (!path.isEmpty()) {
                EXPECT_TRUE(image.save(path));
            }
        }
    }
}

// Every pane on screens smaller than the window, saved for a look: the window as large as the
// screen leaves, the pane or the whole content scrolling.
TEST_F(SettingsRenderTest, RendersEveryPaneOnSmallScreens) {
    auto settings = makeSettings();
    for (const QRect area :
         {QRect(0, 32, 960, 508), QRect(0, 0, 400, 300), QRect(32, 0, 608, 480)}) {
        useScreens({area});
        PreferencesWindowController controller(*settings, UpdateActions{});
        controller.show();
        // Fitted again once the window's frame is known.
        EXPECT_TRUE(QTest::qWaitFor([&] {
            return area.contains(controller.window()->frameGeometry()) &&
                   controller.window()->frameGeometry() != controller.window()->geometry();
        }));
        for (const Pane pane : allPanes) {
            controller.navigation().setPane(pane);
            QApplication::processEvents();
            test::settleLayouts();
            const QImage image = controller.window()->grab().toImage();
            // As tall as the screen, window frame included; as wide as the screen or the panes.
            const QRect frame = controller.window()->frameGeometry();
            const int sides = frame.width() - controller.window()->width();
            EXPECT_TRUE(area.contains(frame));
            EXPECT_EQ(frame.height(), area.height());
            EXPECT_EQ(image.width() / image.devicePixelRatio(),
                      std::min(810, area.width() - sides));
            const QString path = test::renderPath(QStringLiteral("%1-%2x%3")
                                                      .arg(rawValue(pane))
                                                      .arg(area.width())
                                                      .arg(area.height()));
            if (!path.isEmpty()) {
                EXPECT_TRUE(image.save(path));
            }
        }
    }
}
