#pragma once

#include "Ostrel/Settings/PreviewView.h"
#include "OstrelCore/Display/MotionAnimator.h"
#include "OstrelCore/Records/Preferences.h"

namespace ostrel {

// The open shelf, zoomed in on the user's screen, in the arrangement the choice gives there: a
// pointer clicks between the first two sessions of a list, or opens a card stack and closes it
// with "esc".
class LayoutPreview : public PreviewView {
public:
    static inline const QPointF restPoint{0.72 * 160, 0.86 * 100};
    static inline const QPointF keyPoint{0.5 * 160, 0.86 * 100};

    LayoutPreview(const PreviewDisplay& display, LayoutChoice layout, QWidget* parent = nullptr);

    void setInputs(const PreviewDisplay& display, LayoutChoice layout);
    ShelfLayoutKind kind() const;

    // The part of the screen shown and its scale, for a display and the kind shown on it.
    static MiniSpace spaceFor(const PreviewDisplay& display, ShelfLayoutKind kind);
    // Where the pointer aims for a beat, in preview coordinates.
    static QPointF pointerTarget(const PreviewDisplay& display, ShelfLayoutKind kind,
                                 const MiniSpace& space, bool beat);

    // Animated state, for tests: the pointer's tip, the beat, the lift, the press.
    QPointF pointerAt(double now) const;
    double beat(double now) const { return beat_.value(now); }
    double lifted(double now) const { return lifted_.value(now); }
    double pressed(double now) const { return pressed_.value(now); }
    bool escaping() const { return escaping_; }
    // How far a new arrangement has replaced the one shown before (1: done).
    double kindShare(double now) const { return kindShare_.value(now); }

protected:
    QString detail() const override;
    PreviewPlayer::Scene makeScene() override;
    void sync(double now) override;
    bool moving(double now) const override;

private:
    LayoutChoice layout_;
    Motion::Animated beat_;
    Motion::Animated lifted_;
    Motion::Animated pressed_;
    Motion::Animated pointerX_{restPoint.x()};
    Motion::Animated pointerY_{restPoint.y()};
    bool escaping_ = false;
    std::optional<ShelfLayoutKind> fromKind_;
    Motion::Animated kindShare_{1};
};

} // namespace ostrel
