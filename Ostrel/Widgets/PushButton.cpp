#include "Ostrel/Widgets/PushButton.h"

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
    painter.drawControl(QStyle::CE_PushButton, option);
}

} // namespace ostrel
