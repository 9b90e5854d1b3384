#pragma once

#include "Ostrel/Settings/PreviewView.h"
#include "OstrelCore/Display/MotionAnimator.h"
#include "OstrelCore/Records/Preferences.h"

namespace ostrel {

// The whole screen in miniature with the shelf opening in the chosen style: a pointer rests on
// the hot zone as long as the real hover would wait, or the shortcut's key cap shows.
class DisplayStylePreview : public PreviewView {
public:
    struct Inputs {
        LayoutChoice layout = LayoutChoice::rail;
        qint64 dwellMs = 120;
        bool hover = true;
        QString hotkey;
        friend bool operator==(const Inputs&, const Inputs&) = default;
    };

    DisplayStylePreview(const PreviewDisplay& display, const Inputs& inputs,
                        QWidget* parent = nullptr);

    void setInputs(const PreviewDisplay& display, const Inputs& inputs);
    const Inputs& inputs() const { return inputs_; }

    static MiniSpace spaceFor(const PreviewDisplay& display);
    // Where the pointer rests, and the centre of the hot zone held on the drawn screen.
    QPointF restPoint() const;
    QPointF hotPoint() const;
    QPointF keyPoint() const;

    double progress(double now) const { return progress_.value(now); }
    QPointF pointerAt(double now) const;
    bool pressed() const { return pressed_; }

protected:
    QString detail() const override;
    PreviewPlayer::Scene makeScene() override;
    void sync(double now) override;
    bool moving(double now) const override;

private:
    Inputs inputs_;
    Motion::Animated progress_;
    Motion::Animated pointing_;
    bool pressed_ = false;
};

} // namespace ostrel
