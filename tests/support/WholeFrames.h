#pragma once

#include "Ostrel/Widgets/BorderedList.h"
#include "Ostrel/Widgets/SettingsForm.h"

#include <QAbstractScrollArea>
#include <QImage>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <string>

namespace ostrel::test {

// Whether a line unlike the grounds on both of its sides runs across one edge of `box` (device
// pixels, fractional) at every place sampled along the middle half of that edge.
inline bool edgeDrawn(const QImage& shot, const QRectF& box, int edge) {
    const bool vertical = edge % 2 == 0; // left, right: a vertical line
    const double at = std::array{box.left(), box.top(), box.right(), box.bottom()}[size_t(edge)];
    const int inward = edge < 2 ? 1 : -1;
    const double from = vertical ? box.top() : box.left();
    const double length = vertical ? box.height() : box.width();
    const auto gray = [&](int across, int along) {
        return qGray(vertical ? shot.pixel(across, along) : shot.pixel(along, across));
    };
    const int edgePixel = int(std::floor(at)) - (inward < 0 ? 1 : 0);
    for (int i = 0; i < 5; ++i) {
        const int along = int(from + length * (0.25 + 0.125 * i));
        const int outside = gray(edgePixel - 4 * inward, along);
        const int inside = gray(edgePixel + 5 * inward, along);
        bool line = false;
        for (int d = -2; d <= 2 && !line; ++d) {
            const int g = gray(edgePixel + d * inward, along);
            line = std::abs(g - outside) >= 2 && std::abs(g - inside) >= 2;
        }
        if (!line) {
            return false;
        }
    }
    return true;
}

// Every framed box `window` shows (a form section's box, a framed list or field) is drawn whole,
// all four edges, when the window is rendered at the fractional scale `ratio`. How many boxes.
inline int expectFramesWhole(QWidget* window, double ratio, const std::string& where) {
    QImage shot((QSizeF(window->size()) * ratio).toSize(), QImage::Format_RGB32);
    shot.setDevicePixelRatio(ratio);
    window->render(&shot);
    QList<QWidget*> boxes;
    for (QWidget* widget : window->findChildren<QWidget*>()) {
        if (const auto* section = dynamic_cast<const SettingsSection*>(widget)) {
            boxes.append(section->box());
        }
    }
    for (QAbstractScrollArea* area : window->findChildren<QAbstractScrollArea*>()) {
        if (area->frameWidth() > 0 || dynamic_cast<BorderedList*>(area) != nullptr) {
            boxes.append(area);
        }
    }
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
        if (!button->isFlat()) {
            boxes.append(button);
        }
    }
    for (QLineEdit* field : window->findChildren<QLineEdit*>()) {
        if (field->hasFrame()) {
            boxes.append(field);
        }
    }
    int checked = 0;
    for (QWidget* box : boxes) {
        const QRect seen = box->visibleRegion().boundingRect();
        if (!box->isVisible() || seen != box->rect()) {
            continue;
        }
        ++checked;
        const QRectF device(QPointF(box->mapTo(window, QPoint(0, 0))) * ratio,
                            QSizeF(box->size()) * ratio);
        for (int edge = 0; edge < 4; ++edge) {
            EXPECT_TRUE(edgeDrawn(shot, device, edge))
                << where << " at " << ratio << ": " << box->metaObject()->className() << " edge "
                << "ltrb"[edge];
        }
    }
    return checked;
}

} // namespace ostrel::test
