#include "Ostrel/Settings/HotkeyText.h"
#include "Platform/HotkeyKeys.h"

#include <QSet>

#include <gtest/gtest.h>

using namespace ostrel;

TEST(HotkeyText, DescribesShortcutsTheLinuxWay) {
    EXPECT_EQ(HotkeyText::describe(49, 2048), "Alt+Space");
    EXPECT_EQ(HotkeyText::describe(40, 6912), "Ctrl+Alt+Shift+Super+K");
    EXPECT_EQ(HotkeyText::describe(23, 768), "Shift+Super+5");
    EXPECT_EQ(HotkeyText::describe(82, 4096), "Ctrl+Key 82");
    EXPECT_EQ(HotkeyText::describe(105, 256), "Super+Key 105");
    EXPECT_EQ(HotkeyText::describe(42, 2048), "Alt+\\");
    EXPECT_EQ(HotkeyText::describe(111, 4096 + 1 + 1024 + 65536), "Ctrl+F12")
        << "bits outside the four modifiers are not shown";
}

TEST(HotkeyText, NamesSixtyEightKeysAllOfWhichTheHotKeyCanGrab) {
    const auto& names = HotkeyText::keyNames();
    EXPECT_EQ(names.size(), 68);
    QSet<quint32> xCodes;
    for (auto it = names.begin(); it != names.end(); ++it) {
        const auto x = HotkeyKeys::xKeycode(it.key());
        ASSERT_TRUE(x.has_value()) << it.value().toStdString();
        EXPECT_EQ(HotkeyKeys::keyCode(*x), it.key()) << it.value().toStdString();
        xCodes.insert(*x);
    }
    EXPECT_EQ(xCodes.size(), names.size()) << "two keys share an X key code";
    // X key codes of a standard evdev keyboard.
    EXPECT_EQ(HotkeyKeys::xKeycode(49), 65u); // space
    EXPECT_EQ(HotkeyKeys::xKeycode(0), 38u);  // A
    EXPECT_EQ(HotkeyKeys::xKeycode(40), 45u); // K
    EXPECT_EQ(HotkeyKeys::keyCode(9), HotkeyKeys::escape);
    EXPECT_EQ(HotkeyKeys::keyCode(37), std::nullopt) << "left Ctrl is no key of a shortcut";
    EXPECT_EQ(HotkeyKeys::xKeycode(200), std::nullopt);
}

TEST(HotkeyText, MapsHeldModifiersToTheStoredMask) {
    EXPECT_EQ(HotkeyText::carbonModifiers(Qt::ControlModifier | Qt::AltModifier |
                                          Qt::ShiftModifier | Qt::MetaModifier),
              6912);
    EXPECT_EQ(HotkeyText::carbonModifiers(Qt::KeypadModifier | Qt::GroupSwitchModifier), 0);
    EXPECT_EQ(HotkeyText::carbonModifiers(Qt::MetaModifier), 256);
}
