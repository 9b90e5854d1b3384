#include "Ostrel/Shell/HotKey.h"
#include "Ostrel/Model/AppSettings.h"
#include "Platform/X11/FakeWindowSystem.h"

#include <gtest/gtest.h>

#include <memory>

using namespace ostrel;
using x11::FakeWindowSystem;

namespace {

constexpr qint64 space = 49;
constexpr quint32 xSpace = 65;

struct HotKeyFixture : ::testing::Test {
    FakeWindowSystem windows;
    const QDBusConnection noBus{QStringLiteral("no bus")};
    int fired = 0;
    std::unique_ptr<HotKey> make(qint64 keyCode, qint64 modifiers, bool wayland = false) {
        return std::make_unique<HotKey>(
            &windows, keyCode, modifiers, [this] { ++fired; }, wayland, &noBus);
    }
};

} // namespace

TEST_F(HotKeyFixture, GrabsEveryLockVariantFiresOnItsCombinationAndReleasesOnDestruction) {
    auto key = make(space, HotKey::option);
    EXPECT_EQ(key->status(), HotKey::Status::registered);
    EXPECT_EQ(HotKey::errorText(key->status()), std::nullopt);
    EXPECT_EQ(windows.grabLog,
              (QList<QString>{"grab 65/0x8", "grab 65/0xa", "grab 65/0x18", "grab 65/0x1a"}));

    windows.pressKey(xSpace, 0x08);
    windows.pressKey(xSpace, 0x18); // NumLock on
    windows.pressKey(xSpace, 0x1a); // and CapsLock
    EXPECT_EQ(fired, 3);
    // Another grabbed key of the same connection is not ours.
    emit windows.grabbedKeyPressed(66, 0x08);
    emit windows.grabbedKeyPressed(xSpace, 0x08 | 0x04);
    EXPECT_EQ(fired, 3);

    key.reset();
    EXPECT_TRUE(windows.grabs.isEmpty());
}

TEST_F(HotKeyFixture, OneTakenVariantReleasesTheOthersAndSaysAnotherAppHoldsIt) {
    windows.heldByOthers.insert({xSpace, 0x18});
    auto key = make(space, HotKey::option);
    EXPECT_EQ(key->status(), HotKey::Status::taken);
    EXPECT_EQ(HotKey::errorText(key->status()), AppSettings::hotkeyTakenText);
    EXPECT_TRUE(windows.grabs.isEmpty());
    EXPECT_EQ(windows.grabLog, (QList<QString>{"grab 65/0x8", "grab 65/0xa", "grab 65/0x18",
                                               "ungrab 65/0x8", "ungrab 65/0xa"}));
    windows.pressKey(xSpace, 0x08);
    EXPECT_EQ(fired, 0);

    // Nothing more to release when it goes.
    windows.grabLog.clear();
    key.reset();
    EXPECT_TRUE(windows.grabLog.isEmpty());
}

TEST_F(HotKeyFixture, ReplacingTheModifiersLeavesOnlyTheNewCombination) {
    auto key = make(space, HotKey::option);
    key.reset();
    key = make(space, HotKey::command | HotKey::shift);
    const QSet<FakeWindowSystem::Grab> expected{
        {xSpace, 0x41}, {xSpace, 0x43}, {xSpace, 0x51}, {xSpace, 0x53}};
    EXPECT_EQ(windows.grabs, expected);
    windows.pressKey(xSpace, 0x08);
    EXPECT_EQ(fired, 0);
    windows.pressKey(xSpace, 0x41);
    EXPECT_EQ(fired, 1);
}

TEST_F(HotKeyFixture, WithoutNumLockOnTheKeyboardOnlyTwoVariantsAreGrabbed) {
    windows.numLock = 0;
    auto key = make(space, HotKey::control);
    EXPECT_EQ(windows.grabLog, (QList<QString>{"grab 65/0x4", "grab 65/0x6"}));
}

TEST_F(HotKeyFixture, BadStoredValuesAndMissingPlacesEachHaveTheirOwnSentence) {
    // An unknown key code, and one the keyboard in use lacks.
    auto unknown = make(200, HotKey::option);
    EXPECT_EQ(unknown->status(), HotKey::Status::noKey);
    windows.keysMissing.insert(xSpace);
    auto missing = make(space, HotKey::option);
    EXPECT_EQ(missing->status(), HotKey::Status::noKey);
    windows.keysMissing.clear();
    EXPECT_TRUE(windows.grabLog.isEmpty());

    // Bits the settings do not define are ignored; values out of range are clamped.
    auto odd = make(space, HotKey::option | (qint64(1) << 20) | 1);
    EXPECT_EQ(odd->status(), HotKey::Status::registered);
    EXPECT_TRUE(windows.grabs.contains({xSpace, 0x08}));
    odd.reset();
    auto negative = make(space, -5);
    EXPECT_EQ(negative->status(), HotKey::Status::registered);
    EXPECT_TRUE(windows.grabs.contains({xSpace, 0x0}));
    negative.reset();

    auto wayland = make(space, HotKey::option, true);
    EXPECT_EQ(wayland->status(), HotKey::Status::wayland);
    HotKey noDisplay(
        nullptr, space, HotKey::option, [] {}, false);
    EXPECT_EQ(noDisplay.status(), HotKey::Status::noDisplay);

    QSet<QString> texts;
    for (const auto status :
         {HotKey::Status::taken, HotKey::Status::noKey, HotKey::Status::refused,
          HotKey::Status::noDisplay, HotKey::Status::wayland, HotKey::Status::portalRefused}) {
        const auto text = HotKey::errorText(status);
        ASSERT_TRUE(text.has_value());
        texts.insert(*text);
    }
    EXPECT_EQ(texts.size(), 6) << "each cause says its own sentence";
    EXPECT_FALSE(HotKey::errorText(HotKey::Status::pending)) << "no verdict while the desktop asks";
}
