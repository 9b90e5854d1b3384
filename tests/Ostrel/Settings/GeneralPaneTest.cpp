#include "SettingsTestSupport.h"

#include "Ostrel/Settings/GeneralPane.h"
#include "Ostrel/Settings/HotkeyRecorder.h"
#include "Ostrel/Settings/SettingRow.h"
#include "Ostrel/Widgets/RowLabel.h"
#include "Ostrel/Widgets/Switch.h"
#include "Ostrel/Widgets/ToneLabel.h"
#include "OstrelCore/Display/Motion.h"
#include "Platform/MainClock.h"

#include <QAccessible>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>

using namespace ostrel;

namespace {

class GeneralPaneTest : public test::SettingsFixture {};

} // namespace

TEST_F(GeneralPaneTest, FirstChangeWritesEveryPreferenceKey) {
    auto settings = makeSettings();
    GeneralPane pane(*settings);
    pane.resize(560, 600);
    pane.show();
    EXPECT_TRUE(stored().isEmpty()) << "showing the pane writes nothing";

    QTest::mouseClick(pane.quietMode()->toggle(), Qt::LeftButton);
    const QJsonObject saved = stored();
    EXPECT_EQ(saved.size(), 22);
    EXPECT_EQ(saved.value("quietMode"), true);
    EXPECT_TRUE(saved.contains("fileTypes"));
    EXPECT_TRUE(saved.contains("outsideProjectOnly"));
    EXPECT_TRUE(pane.openOnHover()->isOn()) << "quiet mode leaves hover as it was";
}

TEST_F(GeneralPaneTest, HoverDelayShowsTheStoredValueAndStoresGridValues) {
    writeStore({{"hoverDwellMs", 130}});
    auto settings = makeSettings();
    GeneralPane pane(*settings);
    EXPECT_EQ(pane.hoverDelayLabel()->text(), "130 ms");

    pane.hoverDelaySlider()->setValue(171);
    EXPECT_EQ(stored().value("hoverDwellMs"), 180);
    pane.hoverDelaySlider()->setValue(600);
    EXPECT_EQ(stored().value("hoverDwellMs"), 600);
    EXPECT_EQ(pane.hoverDelayLabel()->text(), "600 ms");

    pane.show();
    QTest::mouseClick(pane.openOnHover()->toggle(), Qt::LeftButton);
    EXPECT_TRUE(pane.hoverDelayRow()->isHidden());
    EXPECT_EQ(stored().value("hoverEnabled"), false);
    EXPECT_EQ(stored().value("hoverDwellMs"), 600) << "the delay is kept while hidden";
    QTest::mouseClick(pane.openOnHover()->toggle(), Qt::LeftButton);
    EXPECT_FALSE(pane.hoverDelayRow()->isHidden());
}

TEST_F(GeneralPaneTest, ShortcutDetailPrefersTheErrorThenTheWarning) {
    EXPECT_EQ(GeneralPane::shortcutWarning(49, 4096),
              "Ctrl+Space switches input methods in IBus and Fcitx, which receives it first.");
    EXPECT_EQ(GeneralPane::shortcutWarning(49, 256),
              "Super+Space switches input sources on GNOME, which receives it first.");
    EXPECT_EQ(GeneralPane::shortcutWarning(49, 4096 + 512), std::nullopt);
    EXPECT_EQ(GeneralPane::shortcutWarning(49, 2048), std::nullopt);

    writeStore({{"hotkeyKeyCode", 49}, {"hotkeyModifiers", 4096}});
    auto settings = makeSettings();
    GeneralPane pane(*settings);
    const auto detail = [&] { return pane.shortcutRow()->label()->detailText(); };
    EXPECT_EQ(detail(), *GeneralPane::shortcutWarning(49, 4096));
    settings->setHotkeyError(QStringLiteral("Another app already uses this shortcut. Choose a "
                                            "different one."));
    EXPECT_EQ(detail(), "Another app already uses this shortcut. Choose a different one.");
    settings->setHotkeyError(std::nullopt);
    Preferences prefs = settings->prefs();
    prefs.hotkeyModifiers = 2048;
    settings->setPrefs(prefs);
    EXPECT_EQ(detail(), "Opens and closes the shelf on display.");

    settings->setLaunchAtLoginError(QStringLiteral("Not allowed."));
    EXPECT_EQ(pane.launchAtLogin()->label()->detailText(), "Not allowed.");
}

TEST_F(GeneralPaneTest, RecorderStoresOnlyShortcutsItCanGrab) {
    auto settings = makeSettings();
    GeneralPane pane(*settings);
    pane.show();
    HotkeyRecorder* recorder = pane.recorder();
    int beeps = 0;
    recorder->beep = [&] { ++beeps; };
    QList<bool> hook;
    HotkeyRecorder::setRecordingHook([&](bool on) { hook.append(on); });
    QLineEdit bystander;
    bystander.show();

    EXPECT_EQ(recorder->mainButton()->text(), "Alt+Space");
    EXPECT_TRUE(recorder->resetButton()->isHidden());
    QTest::mouseClick(recorder->mainButton(), Qt::LeftButton);
    EXPECT_TRUE(recorder->recording());
    EXPECT_EQ(recorder->mainButton()->text(), "Type shortcut…");

    // Shift alone and keys the hot key cannot grab are refused with a beep.
    test::pressKey(&bystander, Qt::Key_Shift, 50, Qt::ShiftModifier);
    test::pressKey(&bystander, Qt::Key_A, 38, Qt::ShiftModifier, QStringLiteral("A"));
    test::pressKey(&bystander, Qt::Key_A, 38, Qt::NoModifier, QStringLiteral("a"));
    test::pressKey(&bystander, Qt::Key_Print, 107, Qt::ControlModifier);
    EXPECT_EQ(beeps, 3) << "a modifier pressed on its own is no refusal";
    EXPECT_TRUE(recorder->recording());
    EXPECT_TRUE(bystander.text().isEmpty()) << "no key press reaches a window while recording";
    EXPECT_FALSE(stored().contains("hotkeyKeyCode"));

    test::pressKey(&bystander, Qt::Key_K, 45,
                   Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier | Qt::MetaModifier);
    EXPECT_FALSE(recorder->recording());
    EXPECT_EQ(stored().value("hotkeyKeyCode"), 40);
    EXPECT_EQ(stored().value("hotkeyModifiers"), 6912);
    EXPECT_EQ(recorder->mainButton()->text(), "Ctrl+Alt+Shift+Super+K");
    // A screen reader hears the control, then the shortcut it holds.
    const QAccessibleInterface* read =
        QAccessible::queryAccessibleInterface(recorder->mainButton());
    EXPECT_EQ(read->text(QAccessible::Name), "Keyboard shortcut");
    EXPECT_EQ(read->text(QAccessible::Description), "Ctrl+Alt+Shift+Super+K");
    EXPECT_FALSE(recorder->resetButton()->isHidden());
    EXPECT_EQ(hook, (QList<bool>{true, false}));

    // Escape cancels whatever is held.
    recorder->startRecording();
    test::pressKey(&bystander, Qt::Key_Escape, 9, Qt::MetaModifier);
    EXPECT_FALSE(recorder->recording());
    EXPECT_EQ(stored().value("hotkeyKeyCode"), 40);

    QTest::mouseClick(recorder->resetButton(), Qt::LeftButton);
    EXPECT_EQ(stored().value("hotkeyKeyCode"), 49);
    EXPECT_EQ(stored().value("hotkeyModifiers"), 2048);
    EXPECT_EQ(recorder->mainButton()->text(), "Alt+Space");
    EXPECT_TRUE(recorder->resetButton()->isHidden());

    // Leaving the pane while recording stops listening; keys reach windows again.
    recorder->startRecording();
    pane.hide();
    EXPECT_FALSE(recorder->recording());
    test::pressKey(&bystander, Qt::Key_X, 53, Qt::NoModifier, QStringLiteral("x"));
    EXPECT_EQ(bystander.text(), "x");
    HotkeyRecorder::setRecordingHook(nullptr);
}

TEST_F(GeneralPaneTest, HoverDelayRowFoldsAndGrowsOnItsCurveFromWhereItIs) {
    auto settings = makeSettings();
    auto clock = std::make_shared<ManualMainClock>();
    GeneralPane pane(*settings);
    pane.setClock(clock);
    pane.resize(560, 600);
    pane.show();
    QWidget* box = pane.hoverDelayRow()->parentWidget();
    const auto height = [&] {
        test::settleLayouts();
        return box->height();
    };
    const auto darkest = [&](QRect area) {
        const QImage image = box->grab(area).toImage();
        int darkest = 255;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                darkest = std::min(darkest, qGray(image.pixel(x, y)));
            }
        }
        return darkest;
    };
    const int three = height();
    const QRect title = pane.hoverDelayRow()->geometry().adjusted(0, 0, -300, 0);
    const int ink = darkest(title);
    const auto toggle = [&] { QTest::mouseClick(pane.openOnHover()->toggle(), Qt::LeftButton); };

    // Off: the row is hidden at once for every condition, and its picture folds away on the
    // settings curve, fading as it goes.
    toggle();
    EXPECT_TRUE(pane.hoverDelayRow()->isHidden());
    EXPECT_EQ(height(), three);
    clock->advance(0.3);
    const int two = height();
    ASSERT_LT(two, three);
    // The share of the row still there, from the box's height.
    const auto share = [&] { return double(height() - two) / (three - two); };

    // Frames come every 1/60 s: six of them in.
    constexpr double mid = 6.0 / 60 + 1e-6;
    toggle();
    clock->advance(mid);
    EXPECT_NEAR(share(), Motion::easedShare(Motion::Curve::Kind::easeInOut, mid / 0.18), 0.02);
    // Turned round mid-way, it folds from where it had grown to, and its picture is faint.
    const double turned = share();
    toggle();
    EXPECT_NEAR(share(), turned, 0.02);
    const int faded = darkest(title);
    EXPECT_GT(faded, ink + 40);
    EXPECT_LT(faded, 240) << "the row's text, faded";
    clock->advance(0.3);
    EXPECT_EQ(height(), two);

    // Reduce motion: the plain ease-out of 0.2 s.
    Motion::setAccessibilityHook([] { return Accessibility{true, false}; });
    toggle();
    clock->advance(mid);
    EXPECT_NEAR(share(), Motion::easedShare(Motion::Curve::Kind::easeOut, mid / 0.2), 0.02);
    Motion::setAccessibilityHook({});
    clock->advance(0.3);
    EXPECT_EQ(height(), three);
}
