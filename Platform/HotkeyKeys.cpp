#include "Platform/HotkeyKeys.h"

#include <array>
#include <utility>

namespace ostrel::HotkeyKeys {

namespace {

// (stored key code, Linux evdev code). X adds 8 to the evdev code.
constexpr std::array<std::pair<qint64, quint32>, 91> table{{
    // Letters.
    {0, 30},
    {11, 48},
    {8, 46},
    {2, 32},
    {14, 18},
    {3, 33},
    {5, 34},
    {4, 35},
    {34, 23},
    {38, 36},
    {40, 37},
    {37, 38},
    {46, 50},
    {45, 49},
    {31, 24},
    {35, 25},
    {12, 16},
    {15, 19},
    {1, 31},
    {17, 20},
    {32, 22},
    {9, 47},
    {13, 17},
    {7, 45},
    {16, 21},
    {6, 44},
    // Digits 0 to 9.
    {29, 11},
    {18, 2},
    {19, 3},
    {20, 4},
    {21, 5},
    {23, 6},
    {22, 7},
    {26, 8},
    {28, 9},
    {25, 10},
    // Named keys.
    {49, 57},   // space
    {36, 28},   // return
    {48, 15},   // tab
    {51, 14},   // backspace
    {117, 111}, // forward delete
    {123, 105}, // left
    {124, 106}, // right
    {126, 103}, // up
    {125, 108}, // down
    {50, 41},   // grave accent
    {27, 12},   // minus
    {24, 13},   // equal
    {33, 26},   // left bracket
    {30, 27},   // right bracket
    {41, 39},   // semicolon
    {39, 40},   // apostrophe
    {43, 51},   // comma
    {47, 52},   // period
    {44, 53},   // slash
    {42, 43},   // backslash
    {53, 1},    // escape
    // Function keys F1 to F12.
    {122, 59},
    {120, 60},
    {99, 61},
    {118, 62},
    {96, 63},
    {97, 64},
    {98, 65},
    {100, 66},
    {101, 67},
    {109, 68},
    {103, 87},
    {111, 88},
    // Navigation block.
    {115, 102}, // home
    {119, 107}, // end
    {116, 104}, // page up
    {121, 109}, // page down
    {114, 110}, // insert, where the original keyboard has help
    // Keypad.
    {82, 82},
    {83, 79},
    {84, 80},
    {85, 81},
    {86, 75},
    {87, 76},
    {88, 77},
    {89, 71},
    {91, 72},
    {92, 73},
    {65, 83},  // keypad decimal
    {67, 55},  // keypad multiply
    {69, 78},  // keypad plus
    {75, 98},  // keypad divide
    {76, 96},  // keypad enter
    {78, 74},  // keypad minus
    {81, 117}, // keypad equal
}};

constexpr quint32 evdevOffset = 8;

} // namespace

std::optional<quint32> xKeycode(qint64 keyCode) {
    for (const auto& [code, evdev] : table) {
        if (code == keyCode) {
            return evdev + evdevOffset;
        }
    }
    return std::nullopt;
}

std::optional<qint64> keyCode(quint32 xKeycode) {
    for (const auto& [code, evdev] : table) {
        if (evdev + evdevOffset == xKeycode) {
            return code;
        }
    }
    return std::nullopt;
}

} // namespace ostrel::HotkeyKeys
