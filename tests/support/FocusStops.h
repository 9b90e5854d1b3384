#pragma once

#include <QApplication>
#include <QColor>
#include <QImage>
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
    // A blue line of the style's own inside the control's top edge: a second outline within the
    // ring.
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

// Presses Tab through a shown window once round and looks at the window after each press:
// whether the control that has the focus shows a ring in `accent` just outside itself (in the
// pixel row above its middle, `reach` away).
inline QList<TabStop> tabStops(QWidget* window, const QColor& accent, int reach) {
    window->activateWindow();
    QApplication::setActiveWindow(window);
    QList<TabStop> stops;
    QWidget* first = nullptr;
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
        const QPoint above = now->mapTo(window, QPoint(now->width() / 2, -reach + 1));
        const QColor seen = shot.pixelColor(above * shot.devicePixelRatio());
        const auto near = [](const QColor& a, const QColor& b) {
            return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                       std::abs(a.blue() - b.blue()) <
                   90;
        };
        // Down the middle from the top edge, above any title.
        bool inner = false;
        const QPoint top =
            now->mapTo(window, QPoint(now->width() / 2, 0)) * shot.devicePixelRatio();
        for (int y = 0; y < 4 * shot.devicePixelRatio(); ++y) {
            const QColor c = shot.pixelColor(top + QPoint(0, y));
            inner = inner || c.blue() - std::max(c.red(), c.green()) > 30;
        }
        stops << TabStop{now, name, near(seen, accent), shownWhole(now), inner};
    }
    return stops;
}

} // namespace ostrel::test
