// The panels, hover and key rules against a fake window system, headless.
#include "Ostrel/Model/AppSettings.h"
#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Panels/DisplayDirectory.h"
#include "Ostrel/Panels/HoverDetector.h"
#include "Ostrel/Panels/PanelController.h"
#include "Ostrel/Panels/ShelfKeyEvent.h"
#include "OstrelCore/Display/Motion.h"
#include "Platform/X11/FakeWindowSystem.h"
#include "support/FakeShelfEngine.h"
#include "support/ShellFakes.h"
#include "support/TempDir.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

namespace {

constexpr quint32 output = 60;

// A model over a fake engine, panels and hover over a fake window system, on a hand-moved clock.
struct Rig {
    TempDir dir;
    std::shared_ptr<UserDefaults> defaults;
    std::unique_ptr<AppSettings> settings;
    std::shared_ptr<FakeShelfEngine::Log> log = std::make_shared<FakeShelfEngine::Log>();
    std::shared_ptr<ManualMainClock> clock = std::make_shared<ManualMainClock>();
    x11::FakeWindowSystem windows;
    std::unique_ptr<ShelfModel> model;
    std::unique_ptr<PanelController> panels;
    std::unique_ptr<HoverDetector> hover;

    explicit Rig(const Preferences& prefs = Preferences()) {
        defaults = std::make_shared<UserDefaults>(dir.path(), QStringLiteral("defaults"));
        prefs.save(*defaults);
        settings = std::make_unique<AppSettings>(defaults);
        ShelfModel::Services services;
        services.makeEngine = FakeShelfEngine::factory(log);
        services.clock = clock;
        services.motionScale = 1.0;
        services.environment = [this] {
            Environment env;
            env.insert(QStringLiteral("OSTREL_SUPPORT_DIR"), dir.file("support"));
            return env;
        };
        services.preview = std::make_unique<FakePreview>();
        services.tips = std::make_unique<FakeTips>();
        services.dragOut = std::make_unique<FakeDragOut>();
        services.menus = std::make_unique<FakeMenuRunner>();
        model = std::make_unique<ShelfModel>(*settings, std::move(services));

        QScreen* screen = QGuiApplication::primaryScreen();
        x11::Monitor m;
        m.name = screen->name();
        m.geometry = screen->geometry();
        m.primary = true;
        m.output = output;
        m.currentMode = screen->geometry().size();
        windows.monitorList = {m};
        windows.compositor = true;
        windows.active = 500;
        windows.activePid = 4242;

        panels = std::make_unique<PanelController>(*model, *settings, &windows, clock);
        panels->refresh();
        hover = std::make_unique<HoverDetector>(*panels, *model, *settings, &windows, clock);
        hover->start();
    }

    QRect screen() const { return QGuiApplication::primaryScreen()->geometry(); }
    const DisplayLayout& layout() const { return model->layouts().at(output); }
    // A point of the shelf's coordinates as the window system reports it.
    QPoint pixel(const QPointF& p) const {
        return QPoint(static_cast<int>(p.x()), static_cast<int>(screen().height() - p.y()));
    }
    void pointTo(const QPoint& px, bool overOwn = false) {
        windows.movePointer(px, overOwn ? 1 : 0, overOwn);
    }
    // Rests the pointer on the hot zone until the shelf opens.
    void openByHover() {
        const QRectF zone = layout().hotZone(0);
        pointTo(pixel(QPointF(zone.center().x(), zone.y() + 1)));
        clock->advance(1.0);
    }
    QPoint insideDrawer() const { return pixel(panels->openDrawerRect(layout()).center()); }
};

} // namespace

TEST(PanelController, LaysOutOnePanelPerScreenKeyedByItsOutput) {
    Rig rig;
    ASSERT_EQ(rig.model->layouts().size(), 1u);
    EXPECT_TRUE(rig.model->layouts().count(output));
    ASSERT_EQ(rig.panels->panels().size(), 1u);
    NotchPanel* panel = rig.panels->panels().at(output);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->geometry(),
              QRectF(rig.layout().panelFrame().x(),
                     rig.screen().height() - rig.layout().panelFrame().y() -
                         rig.layout().panelFrame().height(),
                     rig.layout().panelFrame().width(), rig.layout().panelFrame().height())
                  .toAlignedRect());
    ASSERT_EQ(rig.settings->displays().size(), 1);
    EXPECT_EQ(rig.settings->displays().first().resolution,
              (PixelSize{rig.screen().width(), rig.screen().height()}));
    // Kept above other windows, and taking the pointer only over its hot zone while closed.
    EXPECT_EQ(rig.windows.keptAbove,
              QList<x11::WindowId>{static_cast<x11::WindowId>(panel->winId())});
    EXPECT_EQ(rig.windows.inputShapes.value(static_cast<x11::WindowId>(panel->winId())).size(), 1);

    // Without RandR every screen still gets a number, from its name.
    rig.windows.monitorList.clear();
    rig.panels->refresh();
    EXPECT_TRUE(rig.model->layouts().count(
        DisplayDirectory::hashName(QGuiApplication::primaryScreen()->name())));
    EXPECT_EQ(rig.panels->panels().size(), 1u);
}

TEST(PanelController, StyleChangeLeavesThenAppliesOnlyTheNewestRequest) {
    Preferences prefs;
    prefs.displayStyle = DisplayStyleChoice::pill(PillSide::bottom);
    Rig rig(prefs);
    std::vector<std::pair<bool, Motion::Curve>> sinks;
    QObject::connect(rig.model.get(), &ShelfModel::styleSunkChanged,
                     [&] { sinks.emplace_back(rig.model->styleSunk(), rig.model->animation()); });
    // A pill shows at rest, so it leaves before the new style comes.
    rig.panels->applyStyle(DisplayStyleChoice::notch());
    EXPECT_TRUE(rig.model->styleSunk());
    EXPECT_EQ(rig.layout().style().pillSide(), PillSide::bottom);
    rig.clock->advance(0.2);
    // A second request while the old shape leaves: only the newest arrives.
    rig.panels->applyStyle(DisplayStyleChoice::pill(PillSide::right));
    rig.clock->advance(0.13);
    EXPECT_EQ(rig.layout().style().pillSide(), PillSide::bottom);
    rig.clock->advance(0.02); // 0.34 s after the first request
    EXPECT_EQ(rig.layout().style().pillSide(), PillSide::right);
    EXPECT_TRUE(rig.model->styleSunk());
    rig.clock->advance(0.02);
    EXPECT_FALSE(rig.model->styleSunk());
    EXPECT_EQ(rig.model->appliedStyle(), DisplayStyleChoice::pill(PillSide::right));
    // It sank on the leaving ease-in and rose on the pulse spring.
    const std::vector<std::pair<bool, Motion::Curve>> curves{{true, Motion::styleLeave()},
                                                             {false, Motion::pulse()}};
    EXPECT_EQ(sinks, curves);
}

TEST(HoverDetector, OpensAfterTheDwellAndOnlyAClickOutsideOurWindowsCloses) {
    Rig rig;
    const QRectF zone = rig.layout().hotZone(0);
    rig.pointTo(rig.pixel(QPointF(zone.center().x(), zone.y() + 1)));
    rig.clock->advance(0.15);
    EXPECT_FALSE(rig.model->openScreen().has_value());
    rig.clock->advance(0.1);
    EXPECT_EQ(rig.model->openScreen(), output);

    rig.pointTo(rig.insideDrawer(), true);
    rig.windows.press(1); // on our own panel
    rig.windows.release(1);
    EXPECT_EQ(rig.model->openScreen(), output);
    rig.pointTo(QPoint(5, rig.screen().height() - 5));
    rig.windows.press(2); // middle
    rig.pointTo(rig.insideDrawer(), true);
    EXPECT_EQ(rig.model->openScreen(), output);
    rig.pointTo(QPoint(5, rig.screen().height() - 5));
    rig.windows.press(3);
    EXPECT_FALSE(rig.model->openScreen().has_value());
}

TEST(HoverDetector, OurPanelTakingFocusIsNoOtherApplicationComingForward) {
    Rig rig;
    rig.openByHover();
    ASSERT_EQ(rig.model->openScreen(), output);
    rig.pointTo(rig.insideDrawer(), true);

    rig.windows.active.reset();
    rig.windows.activePid.reset();
    emit rig.windows.activeWindowChanged();
    EXPECT_EQ(rig.model->openScreen(), output);
    rig.windows.active = 77;
    rig.windows.activePid = static_cast<qint32>(QCoreApplication::applicationPid());
    emit rig.windows.activeWindowChanged();
    EXPECT_EQ(rig.model->openScreen(), output);
    rig.windows.activePid = 999;
    emit rig.windows.activeWindowChanged();
    EXPECT_FALSE(rig.model->openScreen().has_value());
}

TEST(HoverDetector, PointerAgainstTheTopEdgeOverTheDrawerCountsAsInside) {
    Rig rig;
    rig.openByHover();
    const QRectF drawer = rig.panels->openDrawerRect(rig.layout());
    const QRectF zone = rig.layout().hotZone(0);
    // Beside the hot zone, on the top row of pixels.
    const QPoint edge(static_cast<int>(zone.x() + zone.width() + 40), 0);
    ASSERT_LT(edge.x(), drawer.x() + drawer.width());
    rig.pointTo(edge, true);
    rig.clock->advance(1.0);
    EXPECT_EQ(rig.model->openScreen(), output);
    rig.pointTo(QPoint(edge.x(), rig.screen().height() - 5));
    rig.clock->advance(1.0);
    EXPECT_FALSE(rig.model->openScreen().has_value());
}

TEST(HoverDetector, HotKeyOpenedShelfTakesKeyboardAndPointerUntilItCloses) {
    Rig rig;
    rig.windows.focus = 500;
    rig.pointTo(QPoint(5, rig.screen().height() - 5));
    rig.hover->toggle();
    rig.clock->advance(0.1);
    ASSERT_EQ(rig.model->openScreen(), output);
    NotchPanel* panel = rig.panels->panels().at(output);
    EXPECT_TRUE(panel->allowsKey);
    // With the pointer outside, presses there still reach the windows beneath; coming in, the
    // drawer takes the pointer before any press, so the first click lands on a card.
    const auto inputRects = [&] {
        return rig.windows.inputShapes.value(static_cast<x11::WindowId>(panel->winId())).size();
    };
    EXPECT_EQ(inputRects(), 1);
    rig.pointTo(rig.insideDrawer(), true);
    EXPECT_EQ(inputRects(), 2);
    rig.hover->toggle();
    EXPECT_FALSE(rig.model->openScreen().has_value());
    EXPECT_FALSE(panel->allowsKey);
}

// Far from the shelf the pointer's moves stay with the window system: it is handed the hot zone
// (with room around it), and asked for every move only while something may change under the
// pointer.
TEST(HoverDetector, WatchesTheHotZoneAndWantsEveryMoveOnlyWhileTheShelfIsBusy) {
    Rig rig;
    ASSERT_EQ(rig.windows.watch.zones.size(), 1);
    EXPECT_FALSE(rig.windows.watch.everyMove);
    const QRectF hot = rig.layout().hotZone(0);
    const QRect zone = rig.windows.watch.zones.first();
    EXPECT_TRUE(zone.contains(rig.pixel(QPointF(hot.x(), hot.y() + 1))));
    EXPECT_FALSE(zone.contains(rig.pixel(QPointF(hot.center().x(), hot.y() - 100))));

    rig.openByHover();
    EXPECT_TRUE(rig.windows.watch.everyMove);
    rig.pointTo(QPoint(5, rig.screen().height() - 5));
    rig.clock->advance(1.0);
    EXPECT_FALSE(rig.model->openScreen().has_value());
    EXPECT_FALSE(rig.windows.watch.everyMove);
}

// What a pointer moving near the shelf costs the main thread, counted at the window system: on
// its way to the hot zone nothing reaches it (the window system only follows the pointer
// closely there); in the zone, while the dwell runs and the drawer opens, each frame's one report
// is handled without asking the server where the pointer is.
TEST(HoverDetector, APointerNearTheShelfReachesTheMainThreadOnlyInTheZoneAndAsksNothing) {
    Rig rig;
    QSignalSpy reports(&rig.windows, &x11::WindowSystem::rawMotion);
    const QRectF hot = rig.layout().hotZone(0);
    for (int frame = 0; frame < 30; ++frame) {
        const QPoint below = rig.pixel(QPointF(hot.center().x() + frame, hot.y() - 20));
        ASSERT_TRUE(rig.windows.watch.near(below));
        rig.pointTo(below);
        rig.clock->advance(Motion::frame);
    }
    EXPECT_EQ(reports.count(), 0);

    int asked = 0;
    for (int frame = 0; frame < 30; ++frame) {
        const int before = rig.windows.pointerQuestions;
        rig.pointTo(rig.pixel(QPointF(hot.center().x() + frame, hot.y() + 2)));
        asked += rig.windows.pointerQuestions - before;
        rig.clock->advance(Motion::frame);
    }
    EXPECT_EQ(reports.count(), 30);
    EXPECT_TRUE(rig.model->openScreen().has_value());
    EXPECT_EQ(asked, 0);
}

// The model's own pointer, as the application wires it: a scroll under a resting pointer keeps
// hover frozen through reports of that same point, and any real move thaws it.
TEST(HoverDetector, AScrollFreezesHoverUntilThePointerReallyMoves) {
    Rig rig;
    rig.openByHover();
    const QPoint rest = rig.insideDrawer();
    rig.pointTo(rest, true);
    rig.model->forwardWheel(output, 24);
    EXPECT_TRUE(rig.model->hoverFrozen());
    rig.pointTo(rest, true);
    EXPECT_TRUE(rig.model->hoverFrozen());
    rig.pointTo(rest + QPoint(0, 1), true);
    EXPECT_FALSE(rig.model->hoverFrozen());
}

// A wheel's notches arrive as presses and releases of buttons 4 and 5 (6 and 7 sideways): the
// panels' input shapes stay as they are, where a real press and release sets them again.
TEST(HoverDetector, WheelNotchesLeaveTheInputShapesAlone) {
    Rig rig;
    rig.openByHover();
    rig.pointTo(rig.insideDrawer(), true);
    ASSERT_FALSE(rig.windows.inputShapes.isEmpty());
    rig.windows.inputShapes.clear();
    for (const int button : {4, 5, 6, 7}) {
        rig.windows.press(button);
        rig.windows.release(button);
    }
    EXPECT_TRUE(rig.windows.inputShapes.isEmpty());
    rig.windows.press(1);
    rig.windows.release(1);
    EXPECT_FALSE(rig.windows.inputShapes.isEmpty());
}

TEST(ShelfKey, SpaceAndEscapeOncePerPressArrowsWithRepeatsNothingWithModifiers) {
    auto key = [](int k, Qt::KeyboardModifiers mods = Qt::NoModifier, bool repeat = false) {
        const QKeyEvent e(QEvent::KeyPress, k, mods, QString(), repeat);
        return shelfKey(e);
    };
    EXPECT_EQ(key(Qt::Key_Space), ShelfKey::space);
    EXPECT_EQ(key(Qt::Key_Space, Qt::NoModifier, true), std::nullopt);
    EXPECT_EQ(key(Qt::Key_Escape), ShelfKey::escape);
    EXPECT_EQ(key(Qt::Key_Escape, Qt::NoModifier, true), std::nullopt);
    EXPECT_EQ(key(Qt::Key_Left, Qt::NoModifier, true), ShelfKey::left);
    EXPECT_EQ(key(Qt::Key_Right), ShelfKey::right);
    EXPECT_EQ(key(Qt::Key_Up), ShelfKey::up);
    EXPECT_EQ(key(Qt::Key_Down, Qt::KeypadModifier), ShelfKey::down);
    EXPECT_EQ(key(Qt::Key_Left, Qt::ShiftModifier), std::nullopt);
    EXPECT_EQ(key(Qt::Key_Space, Qt::AltModifier), std::nullopt);
    EXPECT_EQ(key(Qt::Key_A), std::nullopt);

    const QKeyEvent closeWindow(QEvent::KeyPress, Qt::Key_W, Qt::ControlModifier);
    const QKeyEvent super(QEvent::KeyPress, Qt::Key_Q, Qt::MetaModifier);
    const QKeyEvent plain(QEvent::KeyPress, Qt::Key_W, Qt::NoModifier);
    EXPECT_TRUE(swallowsKeyCombination(closeWindow));
    EXPECT_TRUE(swallowsKeyCombination(super));
    EXPECT_FALSE(swallowsKeyCombination(plain));
}

TEST(EdidInfo, ReadsMakerProductSerialAndModelName) {
    QByteArray edid(128, '\0');
    const char header[] = "\x00\xff\xff\xff\xff\xff\xff\x00";
    edid.replace(0, 8, QByteArray(header, 8));
    // "DEL": D=4, E=5, L=12 -> 0b0 00100 00101 01100
    edid[8] = static_cast<char>(0x10);
    edid[9] = static_cast<char>(0xAC);
    edid[10] = 0x34;
    edid[11] = 0x12;
    edid[12] = 0x78;
    edid[13] = 0x56;
    edid[14] = 0x00;
    edid[15] = 0x00;
    const QByteArray name("\x00\x00\x00\xfc\x00U2720Q\n     ", 18);
    edid.replace(72, 18, name);
    const auto info = EdidInfo::parse(edid);
    ASSERT_TRUE(info.has_value());
    EXPECT_EQ(info->manufacturer, u"DEL");
    EXPECT_EQ(info->product, 0x1234);
    EXPECT_EQ(info->serial, 0x5678u);
    EXPECT_EQ(info->model, u"U2720Q");
    EXPECT_FALSE(EdidInfo::parse(QByteArray(64, '\0')).has_value());
    EXPECT_FALSE(EdidInfo::parse(QByteArray(128, '\x01')).has_value());
}
