#include "Ostrel/Settings/Stepper.h"

#include "Ostrel/Widgets/HighContrast.h"
#include "Ostrel/Widgets/SettingsColors.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace ostrel {

Stepper::Stepper(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QRect Stepper::upRect() const {
    return {0, 0, width(), height() / 2};
}

QRect Stepper::downRect() const {
    return {0, height() / 2, width(), height() - height() / 2};
}

void Stepper::paintEvent(QPaintEvent*) {
    const bool dark = SettingsColors::isDark();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(QPen(dark ? QColor(255, 255, 255, 40) : QColor(0, 0, 0, 40), 0.5));
    p.setBrush(dark ? QColor(255, 255, 255, 30) : QColor(255, 255, 255));
    p.drawRoundedRect(frame, 4, 4);
    HighContrast::drawEdge(p, rect(), 4, isEnabled());
    p.setPen(Qt::NoPen);
    p.setBrush(SettingsColors::primaryText(dark));
    const double cx = frame.center().x();
    for (const int direction : {1, -1}) {
        const QRectF half = direction > 0 ? QRectF(upRect()) : QRectF(downRect());
        const double cy = half.center().y() + (direction > 0 ? 1 : -1);
        QPainterPath arrow;
        arrow.moveTo(cx - 3, cy + 1.5 * direction);
        arrow.lineTo(cx + 3, cy + 1.5 * direction);
        arrow.lineTo(cx, cy - 2 * direction);
        arrow.closeSubpath();
        p.drawPath(arrow);
    }
}

void Stepper::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (upRect().contains(at)) {
        step(1, event->modifiers());
    } else if (downRect().contains(at)) {
        step(-1, event->modifiers());
    }
}

void Stepper::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Up) {
        step(1, event->modifiers());
    } else if (event->key() == Qt::Key_Down) {
        step(-1, event->modifiers());
    } else {
        QWidget::keyPressEvent(event);
    }
}

void Stepper::step(int direction, Qt::KeyboardModifiers modifiers) {
    if (onStep) {
        onStep(direction, modifiers);
    }
}

} // namespace ostrel
