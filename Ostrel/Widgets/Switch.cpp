#include "Ostrel/Widgets/Switch.h"

#include "Ostrel/Widgets/FocusRing.h"
#include "Ostrel/Widgets/SettingsColors.h"

#include <QPainter>

namespace ostrel {

Switch::Switch(Size size, QWidget* parent) : QAbstractButton(parent), size_(size) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    FocusRing::setCorner(this, sizeHint().height() / 2.0);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize Switch::sizeHint() const {
    return size_ == Size::mini ? QSize(26, 15) : QSize(38, 22);
}

void Switch::paintEvent(QPaintEvent*) {
    const bool dark = SettingsColors::isDark();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    const double radius = track.height() / 2;
    // An off track still stands out from its row (3:1), so that the switch reads as a control.
    QColor fill = isChecked() ? SettingsColors::accent(dark)
                              : (dark ? QColor(255, 255, 255, 102) : QColor(0, 0, 0, 115));
    if (!isEnabled()) {
        fill.setAlphaF(fill.alphaF() * 0.5F);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(track, radius, radius);
    const double knob = track.height() - 2;
    const double x = isChecked() ? track.right() - 1 - knob : track.left() + 1;
    p.setBrush(isEnabled() ? QColor(255, 255, 255) : QColor(235, 235, 235));
    p.setPen(QPen(QColor(0, 0, 0, 30), 0.5));
    p.drawEllipse(QRectF(x, track.top() + 1, knob, knob));
}

} // namespace ostrel
