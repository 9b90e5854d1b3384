#pragma once

#include <QAbstractButton>

namespace ostrel {

// An on/off switch drawn as a capsule with a knob. Mini for the rows' switches, regular where a
// switch leads a row of its own.
class Switch : public QAbstractButton {
public:
    enum class Size { mini, regular };

    explicit Switch(Size size = Size::mini, QWidget* parent = nullptr);

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Size size_;
};

} // namespace ostrel
