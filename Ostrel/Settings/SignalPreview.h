#pragma once

#include "Ostrel/Settings/PreviewView.h"
#include "OstrelCore/Display/MotionAnimator.h"
#include "OstrelCore/Records/Preferences.h"

namespace ostrel {

// The closed shelf, zoomed in on the user's screen, announcing new items as the settings would:
// glowing in pulses, counting beside the notch, or sliding out a pill's peek pile.
class SignalPreview : public PreviewView {
public:
    struct Inputs {
        ArrivalSignal signal = ArrivalSignal::glow;
        GlowStrength strength = GlowStrength::balanced;
        qint64 pulses = 2;
        LayoutChoice layout = LayoutChoice::rail;
        bool pillPreview = true;
        PeekPileStyle pile = PeekPileStyle::fan;
        friend bool operator==(const Inputs&, const Inputs&) = default;
    };
    static constexpr double width = 800.0 / 3;
    static constexpr double height = 500.0 / 3;
    static constexpr double zoom = 0.6;

    SignalPreview(const PreviewDisplay& display, const Inputs& inputs, QWidget* parent = nullptr);

    void setInputs(const PreviewDisplay& display, const Inputs& inputs);
    const Inputs& inputs() const { return inputs_; }

    static MiniSpace spaceFor(const PreviewDisplay& display);
    bool peek() const;
    double badgeRoom() const;
    double restLevel() const;

    double glow(double now) const { return glow_.value(now); }
    double trailing(double now) const { return trailing_.value(now); }
    double peeking(double now) const { return peeking_.value(now); }
    int count(double now) const;

protected:
    QString detail() const override;
    PreviewPlayer::Scene makeScene() override;
    void sync(double now) override;
    bool moving(double now) const override;

private:
    Inputs inputs_;
    Motion::Animated glow_;
    Motion::Animated trailing_;
    Motion::Animated peeking_;
    // The glow's look, moved over to a new strength's.
    Motion::Animated radius_;
    Motion::Animated core_;
    int count_ = 0;
    // The count goes when its fade-out has ended.
    double countGoneAt_ = 0;
};

} // namespace ostrel
