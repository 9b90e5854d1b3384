#pragma once

#include <QColor>
#include <QHash>
#include <QImage>
#include <QPalette>
#include <QRect>

#include <algorithm>
#include <cmath>

namespace ostrel::test {

// The contrast ratio of two colours, as the web's accessibility guidelines define it.
inline double contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& c) {
        const auto channel = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) +
               0.0722 * channel(c.blueF());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The commonest colour of an area: the ground what is drawn there stands on.
inline QColor ground(const QImage& shot, const QRect& area) {
    QHash<QRgb, int> counts;
    const QRect inside = area.intersected(shot.rect());
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            ++counts[shot.pixel(x, y)];
        }
    }
    QRgb commonest = 0;
    int most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > most) {
            most = it.value();
            commonest = it.key();
        }
    }
    return QColor(commonest);
}

// How well the text in an area reads: the contrast between its ground and its strongest ink.
inline double legibility(const QImage& shot, const QRect& area) {
    const QColor paper = ground(shot, area);
    const QRect inside = area.intersected(shot.rect());
    double best = 1;
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            best = std::max(best, contrast(paper, QColor(shot.pixel(x, y))));
        }
    }
    return best;
}

// A desktop's high-contrast palette at its barest: window, base, button and every shade of them
// one colour, black or white, and the texts the other.
inline QPalette highContrastPalette(bool black) {
    const QColor ground = black ? Qt::black : Qt::white;
    const QColor ink = black ? Qt::white : Qt::black;
    return {ink, ground, ground, ground, ground, ink, ink, ground, ground};
}

// A desktop's dark theme whose grounds are tinted, not grey: Breeze Dark's window and buttons,
// views, text and selection.
inline QPalette breezeDarkPalette() {
    QPalette p;
    for (const auto role : {QPalette::Window, QPalette::Button}) {
        p.setColor(role, QColor(0x31, 0x36, 0x3b));
    }
    p.setColor(QPalette::Base, QColor(0x23, 0x26, 0x29));
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        p.setColor(role, QColor(0xef, 0xf0, 0xf1));
    }
    p.setColor(QPalette::Highlight, QColor(0x3d, 0xae, 0xe9));
    return p;
}

} // namespace ostrel::test
