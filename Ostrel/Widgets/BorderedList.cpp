#include "Ostrel/Widgets/BorderedList.h"

#include "Ostrel/Widgets/HighContrast.h"
#include "Ostrel/Widgets/SettingsColors.h"

#include <QEvent>
#include <QPainter>

namespace ostrel {

BorderedList::BorderedList(QWidget* parent) : QListWidget(parent) {
    setFrameShape(QFrame::NoFrame);
    // The border is a point wide; the viewport starts past it, so neither the rows nor a
    // selection can cover it, and stays clear: the ground is the list's own, painted with the
    // border.
    setViewportMargins(1, 1, 1, 1);
    viewport()->setAutoFillBackground(false);
}

bool BorderedList::event(QEvent* event) {
    const bool handled = QListWidget::event(event);
    if (event->type() == QEvent::Paint) {
        QPainter p(this);
        const bool dark = SettingsColors::isDark();
        // Filled without smoothing, each strip takes the pixels whose centres it covers: a strip
        // a point wide covers at least one at any scale from 1, and the outermost of them are
        // the outermost of the ground's, so the border runs along the very edge of the list.
        const QRectF r(rect());
        p.fillRect(r, palette().color(QPalette::Base));
        const QColor line = SettingsColors::isHighContrast() ? HighContrast::ink()
                                                             : SettingsColors::sidebarStroke(dark);
        p.fillRect(QRectF(r.left(), r.top(), r.width(), 1), line);
        p.fillRect(QRectF(r.left(), r.bottom() - 1, r.width(), 1), line);
        p.fillRect(QRectF(r.left(), r.top() + 1, 1, r.height() - 2), line);
        p.fillRect(QRectF(r.right() - 1, r.top() + 1, 1, r.height() - 2), line);
    }
    return handled;
}

} // namespace ostrel
