#pragma once

#include "Ostrel/Widgets/FocusRing.h"

#include <QApplication>
#include <QColor>
#include <QImage>
#include <QLineEdit>
#include <QList>
#include <QString>
#include <QTest>
#include <QWidget>

#include <algorithm>

namespace ostrel::test {

// One control that Tab reached.
struct TabStop {
    QWidget* widget = nullptr;
    QString name; // class and accessible name
    bool ringed = false;
    // All of it showed in its window, or as much as a smaller scroll area can show.
    bool whole = false;
    // Blue of the style's own that came inside the control as it took the focus: a second mark
    // within the ring (an outline, a groove, a frame).
    bool inner = false;
};

// Whether all of `widget` shows in its window, or as much of it as a smaller scroll area can:
// no ancestor, scrolled or not, cuts any more of it.
inline bool shownWhole(const QWidget* widget) {
    const QWidget* window = widget->window();
    const QRect whole(widget->mapTo(window, QPoint(0, 0)), widget->size());
    for (const QWidget* p = widget->parentWidget(); p != nullptr; p = p->parentWidget()) {
        const QRect room(p->mapTo(window, QPoint(0, 0)), p->size());
        if (whole.intersected(room).size() != whole.size().boundedTo(room.size())) {
            return false;
        }
    }
    return true;
}

// The window as drawn without the focus ring.
inline QImage withoutRing(QWidget* window) {
    const FocusRing* focus = window->findChild<FocusRing*>(QString(), Qt::FindDirectChildrenOnly);
    QWidget* ring = focus ? focus->ring() : nullptr;
    if (ring) {
        ring->hide();
    }
    const QImage shot = window->grab().toImage();
    if (ring) {
        ring->show();
    }
    return shot;
}

// Presses Tab through a shown window once round and looks at the window after each press:
// whether the control that has the focus shows a ring in `accent` just outside itself (in the
// pixel row above its middle, `reach` away), and whether any pixel of its own turned blue.
inline QList<TabStop> tabStops(QWidget* window, const QColor& accent, int reach) {
    window->activateWindow();
    QApplication::setActiveWindow(window);
    QList<TabStop> stops;
    QWidget* first = nullptr;
    QImage before = withoutRing(window);
    const auto blue = [](const QColor& c) { return c.blue() - std::max(c.red(), c.green()) > 12; };
    for (int press = 0; press < 40; ++press) {
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : window,
                        Qt::Key_Tab);
        QWidget* now = QApplication::focusWidget();
        if (now == nullptr || now == first) {
            break;
        }
        first = first ? first : now;
        QString name = QString::fromLatin1(now->metaObject()->className());
        if (!now->accessibleName().isEmpty()) {
            name += u' ' + now->accessibleName();
        }
        const QImage shot = window->grab().toImage();
        const qreal ratio = shot.devicePixelRatio();
        const QPoint above = now->mapTo(window, QPoint(now->width() / 2, -reach + 1));
        const QColor seen = shot.pixelColor(above * ratio);
        const auto near = [](const QColor& a, const QColor& b) {
            return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                       std::abs(a.blue() - b.blue()) <
                   90;
        };
        // The control's own pixels, before and after (a caret or a pressed look is no blue, and
        // nor is the text Tab selects in a field).
        if (auto* field = qobject_cast<QLineEdit*>(now)) {
            field->deselect();
        }
        const QImage bare = withoutRing(window);
        bool inner = false;
        const QRect area =
            QRectF(QPointF(now->mapTo(window, QPoint())) * ratio, QSizeF(now->size()) * ratio)
                .toAlignedRect()
                .intersected(bare.rect());
        for (int y = area.top(); y <= area.bottom() && !inner; ++y) {
            for (int x = area.left(); x <= area.right() && !inner; ++x) {
                const QColor c = bare.pixelColor(x, y);
                inner = blue(c) && c != before.pixelColor(x, y);
            }
        }
        stops << TabStop{now, name, near(seen, accent), shownWhole(now), inner};
        before = bare;
    }
    return stops;
}

} // namespace ostrel::test
