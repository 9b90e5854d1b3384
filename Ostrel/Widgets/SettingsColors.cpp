#include "Ostrel/Widgets/SettingsColors.h"

#include <QGuiApplication>

namespace ostrel::SettingsColors {

namespace {

QColor grey(int level, double alpha = 1.0) {
    QColor c(level, level, level);
    c.setAlphaF(static_cast<float>(alpha));
    return c;
}

} // namespace

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

bool isDark() {
    return isDark(QGuiApplication::palette());
}

bool isHighContrast() {
    const QPalette palette = QGuiApplication::palette();
    const int window = palette.color(QPalette::Window).lightness();
    const int text = palette.color(QPalette::WindowText).lightness();
    return (window <= 8 && text >= 247) || (window >= 247 && text <= 8);
}

QColor windowBackground(bool dark) {
    return dark ? grey(32) : grey(237);
}

QColor sidebarFill(bool dark) {
    return dark ? grey(21) : grey(226);
}

QColor sidebarStroke(bool dark) {
    return dark ? grey(255, 0.12) : grey(0, 0.10);
}

QColor rowSelection(bool dark) {
    return dark ? grey(255, 0.10) : grey(0, 0.08);
}

QColor primaryText(bool dark) {
    return dark ? grey(255, 0.85) : grey(0, 0.85);
}

// Both read at 4.5:1 or better on every ground they stand on (window, sidebar, grouped rows),
// as small text must: the desktop's usual secondary greys fall short of it.
QColor secondaryText(bool dark) {
    return dark ? grey(255, 0.62) : grey(0, 0.66);
}

QColor tertiaryText(bool dark) {
    return dark ? grey(255, 0.56) : grey(0, 0.6);
}

QColor groupFill(bool dark) {
    return dark ? grey(255, 0.05) : grey(255, 0.6);
}

QColor groupStroke(bool dark) {
    return dark ? grey(255, 0.08) : grey(0, 0.06);
}

QColor divider(bool dark) {
    return dark ? grey(255, 0.08) : grey(0, 0.08);
}

QColor system(SystemColor color, bool dark) {
    switch (color) {
    case SystemColor::gray:
        return QColor(142, 142, 147);
    case SystemColor::blue:
        return dark ? QColor(10, 132, 255) : QColor(0, 122, 255);
    case SystemColor::orange:
        return dark ? QColor(255, 159, 10) : QColor(255, 149, 0);
    case SystemColor::indigo:
        return dark ? QColor(94, 92, 230) : QColor(88, 86, 214);
    case SystemColor::teal:
        return dark ? QColor(64, 200, 224) : QColor(48, 176, 199);
    case SystemColor::green:
        return dark ? QColor(48, 209, 88) : QColor(52, 199, 89);
    }
    return QColor(142, 142, 147);
}

QColor accent(bool dark) {
    return system(SystemColor::blue, dark);
}

} // namespace ostrel::SettingsColors
