#include "Ostrel/Settings/SegmentedPicker.h"

#include "Ostrel/Widgets/FocusRing.h"
#include "Ostrel/Widgets/HighContrast.h"
#include "Ostrel/Widgets/SettingsColors.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace ostrel {

namespace {
constexpr int segmentHeight = 22;
constexpr int padding = 12;
} // namespace

SegmentedPicker::SegmentedPicker(const QStringList& titles, QWidget* parent)
    : QWidget(parent), titles_(titles) {
    QFont f = font();
    f.setPixelSize(12);
    setFont(f);
    setFocusPolicy(Qt::TabFocus);
    FocusRing::setCorner(this, 6);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SegmentedPicker::setCurrent(int index) {
    if (index != current_ && index >= 0 && index < titles_.size()) {
        current_ = index;
        update();
    }
}

int SegmentedPicker::segmentWidth() const {
    int widest = 0;
    for (const QString& t : titles_) {
        widest = std::max(widest, fontMetrics().horizontalAdvance(t));
    }
    return widest + 2 * padding;
}

QSize SegmentedPicker::sizeHint() const {
    return {segmentWidth() * static_cast<int>(titles_.size()) + 2, segmentHeight};
}

QRect SegmentedPicker::segmentRect(int index) const {
    return {1 + index * segmentWidth(), 1, segmentWidth(), segmentHeight - 2};
}

void SegmentedPicker::paintEvent(QPaintEvent*) {
    const bool dark = SettingsColors::isDark();
    // On a black or white ground the shades below all but vanish: the control is edged and the
    // chosen segment filled in the text colour, its title in the ground's.
    const bool contrast = SettingsColors::isHighContrast();
    const QColor ink =
        contrast ? HighContrast::ink(isEnabled()) : SettingsColors::primaryText(dark);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(Qt::NoPen);
    p.setBrush(dark ? QColor(255, 255, 255, 26) : QColor(0, 0, 0, 18));
    p.drawRoundedRect(frame, 6, 6);
    HighContrast::drawEdge(p, rect(), 6, isEnabled());
    for (int i = 0; i < titles_.size(); ++i) {
        const QRectF seg = QRectF(segmentRect(i)).adjusted(1, 1, -1, -1);
        if (i == current_) {
            p.setBrush(contrast ? ink : dark ? QColor(255, 255, 255, 56) : QColor(255, 255, 255));
            p.setPen(contrast ? QPen(Qt::NoPen) : QPen(QColor(0, 0, 0, dark ? 0 : 30), 0.5));
            p.drawRoundedRect(seg, 5, 5);
        } else if (i > 0 && i - 1 != current_) {
            p.setPen(QPen(contrast ? ink : SettingsColors::divider(dark), 1));
            p.drawLine(seg.topLeft() + QPointF(-1, 4), seg.bottomLeft() + QPointF(-1, -4));
        }
        p.setPen(contrast && i == current_ ? QGuiApplication::palette().color(QPalette::Window)
                                           : ink);
        p.drawText(seg, Qt::AlignCenter, titles_[i]);
    }
}

void SegmentedPicker::mousePressEvent(QMouseEvent* event) {
    for (int i = 0; i < titles_.size(); ++i) {
        if (segmentRect(i).contains(event->position().toPoint())) {
            pick(i);
            return;
        }
    }
}

void SegmentedPicker::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Left) {
        pick(std::max(current_ - 1, 0));
    } else if (event->key() == Qt::Key_Right) {
        pick(std::min(current_ + 1, static_cast<int>(titles_.size()) - 1));
    } else {
        QWidget::keyPressEvent(event);
    }
}

void SegmentedPicker::pick(int index) {
    if (index == current_) {
        return;
    }
    current_ = index;
    update();
    if (onPick) {
        onPick(index);
    }
}

} // namespace ostrel
