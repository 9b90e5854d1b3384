#pragma once

#include "Ostrel/Widgets/Switch.h"

#include <QColor>
#include <QHash>
#include <QImage>
#include <QLabel>
#include <QRect>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <string>

#include <gtest/gtest.h>

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

// Every text label `window` shows reads at 4.5:1 on its ground, and every switch that is off
// stands out from its row at 3:1; `shot` is the window's grab at scale 1. How many were checked.
inline int expectReadable(const QWidget* window, const QImage& shot, const std::string& where) {
    int checked = 0;
    for (const QLabel* label : window->findChildren<QLabel*>()) {
        const QRect seen = label->visibleRegion().boundingRect();
        if (!label->isVisible() || label->text().isEmpty() || seen.isEmpty()) {
            continue;
        }
        ++checked;
        const QRect area(label->mapTo(window, seen.topLeft()), seen.size());
        EXPECT_GE(legibility(shot, area), 4.5)
            << where << ": \"" << label->text().toStdString() << "\"";
    }
    for (const QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        const auto* toggle = dynamic_cast<const Switch*>(button);
        if (!toggle || !toggle->isVisible() || toggle->isChecked() || !toggle->isEnabled()) {
            continue;
        }
        ++checked;
        // The track right of the knob, and the row just beside the switch.
        const QPoint at = toggle->mapTo(window, QPoint(toggle->width() - 4, toggle->height() / 2));
        const QPoint row = toggle->mapTo(window, QPoint(-6, toggle->height() / 2));
        EXPECT_GE(contrast(QColor(shot.pixel(at)), QColor(shot.pixel(row))), 3.0)
            << where << ": " << toggle->accessibleName().toStdString();
    }
    return checked;
}

} // namespace ostrel::test
