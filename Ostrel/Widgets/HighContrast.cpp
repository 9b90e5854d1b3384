#include "Ostrel/Widgets/HighContrast.h"

#include "Ostrel/Widgets/SettingsColors.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPalette>
#include <QStyle>
#include <QStyleOption>
#include <QWidget>

namespace ostrel::HighContrast {

QColor ink(bool enabled) {
    return enabled ? QGuiApplication::palette().color(QPalette::WindowText) : QColor(118, 118, 118);
}

void drawEdge(QPainter& painter, const QRectF& box, double radius, bool enabled) {
    if (!SettingsColors::isHighContrast()) {
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(ink(enabled), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(box.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    painter.restore();
}

void drawEdges(QPainter& painter, const QWidget& control, const QStyleOption& option) {
    if (!SettingsColors::isHighContrast()) {
        return;
    }
    const bool enabled = option.state & QStyle::State_Enabled;
    if (const auto* slider = qstyleoption_cast<const QStyleOptionSlider*>(&option)) {
        for (const QStyle::SubControl part : {QStyle::SC_SliderGroove, QStyle::SC_SliderHandle}) {
            drawEdge(painter,
                     control.style()->subControlRect(QStyle::CC_Slider, slider, part, &control), 2,
                     enabled);
        }
        return;
    }
    drawEdge(painter, option.rect, 3, enabled);
}

} // namespace ostrel::HighContrast
