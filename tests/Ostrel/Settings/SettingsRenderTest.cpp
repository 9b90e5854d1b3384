#include "SettingsTestSupport.h"

#include "Ostrel/Settings/PreferencesWindowController.h"

#include <QImage>
#include <QJsonArray>

using namespace ostrel;

namespace {

class SettingsRenderTest : public test::SettingsFixture {
protected:
    ~SettingsRenderTest() override { PreferencesWindowController::setScreenAreas(nullptr); }
};

} // namespace

// Every pane in both appearances, saved as PNGs for a look when OSTREL_RENDER_DIR is set.
TEST_F(SettingsRenderTest, RendersEveryPaneInBothAppearances) {
    writeStore({{"watchedFolders", QJsonArray{QDir::homePath(), "/nonexistent/folder"}},
                {"hotkeyModifiers", 4096}});
    auto settings = makeSettings();
    settings->setDisplays(
        {DisplayInfo{"a", "DELL U2720Q", QRectF(0, 0, 2560, 1440), PixelSize{3840, 2160}}});
    PreferencesWindowController::setScreenAreas([] { return QList{QRect(0, 0, 1920, 1080)}; });
    PreferencesWindowController controller(*settings, UpdateActions{});
    controller.show();
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? darkPalette() : lightPalette());
        for (const Pane pane : allPanes) {
            controller.navigation().setPane(pane);
            QApplication::processEvents();
            const QImage image = controller.window()->grab().toImage();
            ASSERT_EQ(image.size() / image.devicePixelRatio(), QSize(810, 660));
            const QString path = test::renderPath(rawValue(pane) + (dark ? "-dark" : "-light"));
            if (!path.isEmpty()) {
                EXPECT_TRUE(image.save(path));
            }
        }
    }
}
