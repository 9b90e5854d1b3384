#pragma once

#include "OstrelCore/Display/MotionAnimator.h"
#include "Platform/MainClock.h"

#include <QPixmap>
#include <QWidget>

#include <memory>

namespace ostrel {

// A small symbol that changes by replacement: the old picture shrinks and fades out while the new
// one grows in from half its size, along a curve on the interface clock. Without scaling (reduce
// motion) the two only cross-fade.
class ReplaceMark final : public QWidget {
public:
    ReplaceMark(QSize size, std::shared_ptr<MainClock> clock, QWidget* parent = nullptr);

    // Shows `picture` for `state`. A new state replaces the shown one along `curve`; the same
    // state only takes the new picture (a new appearance); going back to the state being
    // replaced turns the running change round from where it is.
    void setMark(int state, const QPixmap& picture, const Motion::Curve& curve, bool scales);
    int state() const { return state_; }
    // How far the last change has come: 0 shows the old picture, 1 the new one.
    double progress() const;

protected:
    void paintEvent(QPaintEvent*) override;

private:
    void frame();

    std::shared_ptr<MainClock> clock_;
    int state_ = -1;
    int oldState_ = -1;
    QPixmap picture_;
    QPixmap old_;
    bool scales_ = true;
    Motion::Animated progress_{1};
    MainClock::Handle next_;
};

} // namespace ostrel
