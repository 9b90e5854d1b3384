#pragma once

#include <QListWidget>

namespace ostrel {

// A list in a one-point border that stays whole at every scale. The style's own frame is a line
// of one device pixel at the frame's logical edge: at a fractional scale that pixel can fall just
// outside the pixels the list owns, or under its viewport, and that side of the frame is lost.
class BorderedList : public QListWidget {
public:
    explicit BorderedList(QWidget* parent = nullptr);

protected:
    bool event(QEvent* event) override;
};

} // namespace ostrel
