#include "SettingsTestSupport.h"

#include "Ostrel/Settings/PreferencesWindowController.h"
#include "Ostrel/Settings/SegmentedPicker.h"
#include "Ostrel/Settings/SettingsSidebar.h"
#include "Ostrel/Settings/Stepper.h"
#include "Ostrel/Widgets/BorderedList.h"
#include "support/Contrast.h"
#include "support/ReadableWindow.h"
#include "support/WholeFrames.h"

#include <QComboBox>
#include <QImage>
#include <QJsonArray>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QStyleOptionSlider>
#include <QTest>
#include <QToolButton>

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

// On a black and on a white high-contrast palette whose window, base and button colours are one:
// every control's edge stands 3:1 from the ground above it, as does the chosen pane's row, the
// chosen segment 3:1 from the others, and a disabled button's edge and title 3:1 from both their
// ground and an enabled one's.
TEST_F(SettingsRenderTest, AHighContrastPaletteShowsEveryEdgeAndState) {
    writeStore({{"watchedFolders", QJsonArray{QDir::homePath()}}});
    auto settings = makeSettings();
    useScreens({QRect(0, 0, 1920, 1080)});
    UpdateActions noSource;
    noSource.hasSource = [] { return false; };
    PreferencesWindowController controller(*settings, noSource);
    controller.show();
    QWidget* window = controller.window();
    for (const bool black : {true, false}) {
        QApplication::setPalette(test::highContrastPalette(black));
        const QColor ink = black ? Qt::white : Qt::black;
        QMap<QString, int> seen;
        for (const Pane pane : allPanes) {
            controller.navigation().setPane(pane);
            QApplication::processEvents();
            test::settleLayouts();
            const QImage shot = window->grab().toImage();
            const qreal ratio = shot.devicePixelRatio();
            // The pixel that stands out most from `ground` in an area given in window points.
            const auto strongest = [&](const QRect& area, const QColor& ground) {
                const QRect pixels(area.topLeft() * ratio, area.size() * ratio);
                QColor most = ground;
                for (int y = pixels.top(); y <= pixels.bottom(); ++y) {
                    for (int x = pixels.left(); x <= pixels.right(); ++x) {
                        const QColor c = shot.pixelColor(x, y);
                        most = test::contrast(c, ground) > test::contrast(most, ground) ? c : most;
                    }
                }
                return most;
            };
            // A box's top side, three quarters along, against the ground three points above it.
            const auto measure = [&](QWidget* w, const QString& kind, QRect box = {}) {
                box = (box.isNull() ? w->rect() : box).translated(w->mapTo(window, QPoint()));
                const QPoint at(box.left() + box.width() * 3 / 4, box.top());
                const QColor ground = shot.pixelColor((at - QPoint(0, 3)) * ratio);
                const QColor edge = strongest(QRect(at - QPoint(1, 0), QSize(3, 2)), ground);
                EXPECT_GE(test::contrast(edge, ground), 3.0)
                    << (black ? "black: " : "white: ") << kind.toStdString();
                ++seen[kind];
                return edge;
            };
            SidebarRow* chosen = controller.root()->sidebar()->row(pane);
            measure(chosen, QStringLiteral("chosen pane"), chosen->highlightRect().toAlignedRect());
            for (QWidget* w : controller.root()->paneView()->findChildren<QWidget*>()) {
                if (!w->isVisibleTo(window)) {
                    continue;
                }
                if (qobject_cast<QComboBox*>(w)) {
                    measure(w, QStringLiteral("combo box"));
                } else if (qobject_cast<QLineEdit*>(w)) {
                    measure(w, QStringLiteral("field"));
                } else if (qobject_cast<QToolButton*>(w)) {
                    measure(w, QStringLiteral("folder button"));
                } else if (dynamic_cast<BorderedList*>(w)) {
                    measure(w, QStringLiteral("list"));
                } else if (dynamic_cast<Stepper*>(w)) {
                    measure(w, QStringLiteral("stepper"));
                } else if (auto* slider = qobject_cast<QSlider*>(w)) {
                    QStyleOptionSlider option;
                    option.initFrom(slider);
                    option.orientation = slider->orientation();
                    option.minimum = slider->minimum();
                    option.maximum = slider->maximum();
                    option.sliderPosition = slider->sliderPosition();
                    measure(w, QStringLiteral("groove"),
                            slider->style()->subControlRect(QStyle::CC_Slider, &option,
                                                            QStyle::SC_SliderGroove, slider));
                } else if (auto* picker = dynamic_cast<SegmentedPicker*>(w)) {
                    measure(w, QStringLiteral("segments"));
                    const auto inside = [&](int index) {
                        const QRect r = picker->segmentRect(index);
                        return shot.pixelColor(
                            picker->mapTo(window, QPoint(r.left() + 3, r.center().y())) * ratio);
                    };
                    EXPECT_GE(test::contrast(inside(picker->current()),
                                             inside(picker->current() == 0 ? 1 : 0)),
                              3.0)
                        << (black ? "black" : "white");
                } else if (auto* button = qobject_cast<QPushButton*>(w);
                           button && !button->isEnabled()) {
                    const QColor edge = measure(w, QStringLiteral("disabled"));
                    const QRect title =
                        w->rect().adjusted(8, 4, -8, -4).translated(w->mapTo(window, QPoint()));
                    const QColor text = strongest(title, test::ground(shot, title));
                    for (const QColor& mark : {edge, text}) {
                        EXPECT_GE(test::contrast(mark, ink), 3.0) << (black ? "black" : "white");
                    }
                    EXPECT_GE(test::legibility(shot, title), 3.0);
                }
            }
            const QString path = test::renderPath(rawValue(pane) + (black ? "-black" : "-white"));
            if (!path.isEmpty()) {
                EXPECT_TRUE(shot.save(path));
            }
        }
        EXPECT_EQ(seen, (QMap<QString, int>{{"chosen pane", 6},
                                            {"combo box", 2},
                                            {"field", 3},
                                            {"folder button", 2},
                                            {"list", 1},
                                            {"groove", 1},
                                            {"segments", 3},
                                            {"stepper", 2},
                                            {"disabled", 1}}));
    }
}
