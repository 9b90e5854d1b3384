#pragma once

#include <QPushButton>

namespace ostrel {

// The push button of the Settings, welcome and update windows. Its title keeps a margin inside
// its border that grows with the font (the style's own few pixels let a larger title touch the
// border), and it leaves showing the focus to the window's focus ring: the style's own focus
// drawing, or its outline of a default button, would be a second outline inside the ring.
class PushButton : public QPushButton {
public:
    explicit PushButton(const QString& text, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    // The room between the title and each side of the border, for the button's font.
    int padding() const;
};

} // namespace ostrel
