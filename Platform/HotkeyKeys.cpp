#include "Platform/HotkeyKeys.h"

#include <array>

namespace ostrel::HotkeyKeys {

namespace {

// A stored key code, its Linux evdev code (X adds 8) and the name of its symbol on a US layout,
// as the desktop portal's shortcut notation spells keys.
struct Key {
    qint64 code;
    quint32 evdev;
    const char* name;
};

constexpr std::array<Key, 91> table{{
    // Letters.
    {0, 30, "a"},
    {11, 48, "b"},
    {8, 46, "c"},
    {2, 32, "d"},
    {14, 18, "e"},
    {3, 33, "f"},
    {5, 34, "g"},
    {4, 35, "h"},
    {34, 23, "i"},
    {38, 36, "j"},
    {40, 37, "k"},
    {37, 38, "l"},
    {46, 50, "m"},
    {45, 49, "n"},
    {31, 24, "o"},
    {35, 25, "p"},
    {12, 16, "q"},
    {15, 19, "r"},
    {1, 31, "s"},
    {17, 20, "t"},
    {32, 22, "u"},
    {9, 47, "v"},
    {13, 17, "w"},
    {7, 45, "x"},
    {16, 21, "y"},
    {6, 44, "z"},
    // Digits 0 to 9.
    {29, 11, "0"},
    {18, 2, "1"},
    {19, 3, "2"},
    {20, 4, "3"},
    {21, 5, "4"},
    {23, 6, "5"},
    {22, 7, "6"},
    {26, 8, "7"},
    {28, 9, "8"},
    {25, 10, "9"},
    // Named keys.
    {49, 57, "space"},        // space
    {36, 28, "Return"},       // return
    {48, 15, "Tab"},          // tab
    {51, 14, "BackSpace"},    // backspace
    {117, 111, "Delete"},     // forward delete
    {123, 105, "Left"},       // left
    {124, 106, "Right"},      // right
    {126, 103, "Up"},         // up
    {125, 108, "Down"},       // down
    {50, 41, "grave"},        // grave accent
    {27, 12, "minus"},        // minus
    {24, 13, "equal"},        // equal
    {33, 26, "bracketleft"},  // left bracket
    {30, 27, "bracketright"}, // right bracket
    {41, 39, "semicolon"},    // semicolon
    {39, 40, "apostrophe"},   // apostrophe
    {43, 51, "comma"},        // comma
    {47, 52, "period"},       // period
    {44, 53, "slash"},        // slash
    {42, 43, "backslash"},    // backslash
    {53, 1, "Escape"},        // escape
    // Function keys F1 to F12.
    {122, 59, "F1"},
    {120, 60, "F2"},
    {99, 61, "F3"},
    {118, 62, "F4"},
    {96, 63, "F5"},
    {97, 64, "F6"},
    {98, 65, "F7"},
    {100, 66, "F8"},
    {101, 67, "F9"},
    {109, 68, "F10"},
    {103, 87, "F11"},
    {111, 88, "F12"},
    // Navigation block.
    {115, 102, "Home"},   // home
    {119, 107, "End"},    // end
    {116, 104, "Prior"},  // page up
    {121, 109, "Next"},   // page down
    {114, 110, "Insert"}, // insert, where the original keyboard has help
    // Keypad.
    {82, 82, "KP_0"},
    {83, 79, "KP_1"},
    {84, 80, "KP_2"},
    {85, 81, "KP_3"},
    {86, 75, "KP_4"},
    {87, 76, "KP_5"},
    {88, 77, "KP_6"},
    {89, 71, "KP_7"},
    {91, 72, "KP_8"},
    {92, 73, "KP_9"},
    {65, 83, "KP_Decimal"},  // keypad decimal
    {67, 55, "KP_Multiply"}, // keypad multiply
    {69, 78, "KP_Add"},      // keypad plus
    {75, 98, "KP_Divide"},   // keypad divide
    {76, 96, "KP_Enter"},    // keypad enter
    {78, 74, "KP_Subtract"}, // keypad minus
    {81, 117, "KP_Equal"},   // keypad equal
}};

constexpr quint32 evdevOffset = 8;

} // namespace

std::optional<quint32> xKeycode(qint64 keyCode) {
    for (const auto& key : table) {
        if (key.code == keyCode) {
            return key.evdev + evdevOffset;
        }
    }
    return std::nullopt;
}

std::optional<qint64> keyCode(quint32 xKeycode) {
    for (const auto& key : table) {
        if (key.evdev + evdevOffset == xKeycode) {
            return key.code;
        }
    }
    return std::nullopt;
}

QString keyName(qint64 keyCode) {
    for (const auto& key : table) {
        if (key.code == keyCode) {
            return QString::fromLatin1(key.name);
        }
    }
    return {};
}

} // namespace ostrel::HotkeyKeys
