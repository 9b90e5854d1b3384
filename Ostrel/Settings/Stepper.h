#pragma once

#include <QWidget>

#include <functional>

namespace ostrel {

// Two small arrows, up and down, without bounds of their own: whoever handles a step clamps.
// The Up and Down keys step too while it has focus.
class Stepper : public QWidget {
public:
    explicit Stepper(QWidget* parent = nullptr);

    // Direction +1 or -1, and the modifiers held when the step was asked for.
    std::function<void(int, Qt::KeyboardModifiers)> onStep;

    QSize sizeHint() const override { return {13, 22}; }
    QRect upRect() const;
    QRect downRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void step(int direction, Qt::KeyboardModifiers modifiers);
};

} // namespace ostrel
