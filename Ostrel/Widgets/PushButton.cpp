#include "Ostrel/Widgets/PushButton.h"

#include "Ostrel/Widgets/HighContrast.h"
#include "Ostrel/Widgets/SettingsColors.h"

#include <QKeyEvent>
#include <QStyleOptionButton>
#include <QStylePainter>

#include <algorithm>
#include <cmath>

namespace ostrel {

PushButton::PushButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {}

int PushButton::padding() const {
    // Twelve pixels beside a 13-pixel title, as a desktop button keeps; more as the title grows.
    return static_cast<int>(std::ceil(fontMetrics().height() * 0.75));
}

QSize PushButton::sizeHint() const {
    const QSize hint = QPushButton::sizeHint();
    if (text().isEmpty()) {
        return hint;
    }
    return {std::max(hint.width(), fontMetrics().horizontalAdvance(text()) + 2 * padding()),
            hint.height()};
}

void PushButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    // The style outlines a default button in the same blue: while the ring marks the button,
    // Return presses it anyway and the ring alone says so.
    if ((option.state & QStyle::State_HasFocus) &&
        (option.state & QStyle::State_KeyboardFocusChange)) {
        option.features &= ~QStyleOptionButton::DefaultButton;
    }
    option.state &= ~QStyle::State_HasFocus;
    // On a black or white ground a disabled title in the palette's own dimmed colour is lost, or
    // reads as an enabled one where the palette dims nothing.
    if (SettingsColors::isHighContrast() && !isEnabled()) {
        option.palette.setColor(QPalette::ButtonText, HighContrast::ink(false));
    }
    painter.drawControl(QStyle::CE_PushButton, option);
    // On a black or white ground the style's edge, a shade darker than the window or a faint
    // light line, is all but lost against the row.
    if (!isFlat()) {
        HighContrast::drawEdge(painter, rect(), 3, isEnabled());
    }
}

bool PushButton::pressesButton(const QKeyEvent& event) {
    return (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter) &&
           (event.modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

bool PushButton::pressOnReturn(QAbstractButton& button, const QKeyEvent& event) {
    if (!pressesButton(event)) {
        return false;
    }
    if (!event.isAutoRepeat()) {
        button.click();
    }
    return true;
}

void PushButton::keyPressEvent(QKeyEvent* event) {
    if (!pressOnReturn(*this, *event)) {
        QPushButton::keyPressEvent(event);
    }
}

} // namespace ostrel
