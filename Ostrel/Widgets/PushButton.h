#pragma once

#include <QPushButton>

class QAbstractButton;
class QKeyEvent;

namespace ostrel {

// The push button of the Settings, welcome and update windows. Its title keeps a margin inside
// its border that grows with the font (the style's own few pixels let a larger title touch the
// border), and it leaves showing the focus to the window's focus ring: the style's own focus
// drawing, or its outline of a default button, would be a second outline inside the ring.
// Return and Enter press it while it has the focus, as Space does.
class PushButton : public QPushButton {
public:
    explicit PushButton(const QString& text, QWidget* parent = nullptr);

    QSize sizeHint() const override;

    // Whether a key press is Return or Enter alone: what presses the button that has the focus.
    static bool pressesButton(const QKeyEvent& event);
    // Presses `button` on such a key (once, not again while the key repeats); true when the key
    // was one. Outside a dialog Qt gives Return only to a default button.
    static bool pressOnReturn(QAbstractButton& button, const QKeyEvent& event);

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // The room between the title and each side of the border, for the button's font.
    int padding() const;
};

} // namespace ostrel
