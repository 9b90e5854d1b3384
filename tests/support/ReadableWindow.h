#pragma once

#include "Ostrel/Widgets/Switch.h"
#include "support/Contrast.h"

#include <QImage>
#include <QLabel>
#include <QWidget>

#include <string>

#include <gtest/gtest.h>

namespace ostrel::test {

// Every enabled text label `window` shows reads at 4.5:1 on its ground, and every switch that is
// off stands out from its row at 3:1; `shot` is the window's grab at scale 1. How many were
// checked.
inline int expectReadable(const QWidget* window, const QImage& shot, const std::string& where) {
    int checked = 0;
    for (const QLabel* label : window->findChildren<QLabel*>()) {
        const QRect seen = label->visibleRegion().boundingRect();
        // A disabled row's label is dimmed on purpose, as its control is.
        if (!label->isVisible() || !label->isEnabled() || label->text().isEmpty() ||
            seen.isEmpty()) {
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
