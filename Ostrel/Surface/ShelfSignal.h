#pragma once

#include "OstrelCore/Display/DisplayStyle.h"
#include "OstrelCore/Display/Motion.h"
#include "OstrelCore/Display/MotionAnimator.h"
#include "OstrelCore/Records/Preferences.h"

#include <QImage>
#include <QPointF>
#include <QSizeF>
#include <QtGlobal>

#include <functional>
#include <optional>
#include <vector>

namespace ostrel {

// The closed shelf's announcements on one display: the arrival glow and its pulses, the count
// badge's room with its overshoot, the pill's peek card, and the short pulse after a change of
// display style. Each decision runs at a moment of the interface clock given by the caller, and
// every delayed step is due at an exact time, so the values at any chosen time are the same
// however often frames are drawn. Main thread only.
class ShelfSignal {
public:
    // What the shelf model says at the moment of an event.
    struct Inputs {
        int signalUnread = 0;
        ArrivalSignal signal = ArrivalSignal::glow;
        GlowStrength glowStrength = GlowStrength::balanced;
        int glowPulses = 2;
        bool pillPreview = true;
        // The display's style; none while the display has no layout.
        std::optional<DisplayStyle> style;
        QSizeF peekCard;
        std::optional<quint32> peekHovered;
        double countWidth = 0;
    };

    struct Hooks {
        std::function<Inputs()> inputs;
        std::function<Motion::Context()> motion;
        // The display's peek card appeared (true) or went (false).
        std::function<void(bool)> setPeeking;
        // The number of items in the latest batch of arrivals, and the thumbnails of the first
        // `n` of them (none for one that cannot be read).
        std::function<int()> arrivalCount;
        std::function<std::vector<std::optional<QImage>>(int n)> arrivalImages;
    };

    ShelfSignal(quint32 display, Hooks hooks);

    // Change handlers, each given the time of the change.
    void refresh(bool animated, double now);
    void arrivalChanged(double now);
    void unreadChanged(int unread, double now);
    void sunkChanged(bool sunk, double now);
    void restartStylePulse(double now);
    void openChanged(std::optional<quint32> open, double now);
    void peekHoverChanged(std::optional<quint32> hovered, double now);
    // The peek card's drag: translation and predicted end in screen points (y down).
    void cardDragged(QPointF translation, QPointF predicted, bool ended, double now);

    // Runs every delayed step that is due by `now`, each at its own due time.
    void advance(double now);
    // When the next delayed step is due; none when nothing waits.
    std::optional<double> nextDue() const;

    const Motion::Animated& glow() const { return glow_; }
    const Motion::Animated& trailing() const { return trailing_; }
    const Motion::Animated& highlight() const { return highlight_; }
    const Motion::Animated& cardDrag() const { return cardDrag_; }
    // 0 hidden, 1 shown: the peek card's slide and fade.
    const Motion::Animated& peekShown() const { return peekShown_; }
    bool pulsing() const { return pulsing_; }
    bool stylePulsing() const { return stylePulsing_; }
    bool peeking() const { return peeking_; }
    const std::vector<std::optional<QImage>>& peekImages() const { return peekImages_; }
    int peekCount() const { return peekCount_; }
    // Whether any value still moves at `now` or a step waits.
    bool isBusy(double now) const;

private:
    // A chain of steps at fixed times; a step runs at its own due time even when the frame that
    // notices it comes later.
    struct Task {
        struct Step {
            double due;
            std::function<void(double)> run;
        };
        std::vector<Step> steps;
        size_t next = 0;
        bool active() const { return next < steps.size(); }
        void cancel() {
            steps.clear();
            next = 0;
        }
    };

    Inputs in() const { return hooks_.inputs(); }
    Motion::Context motion() const { return hooks_.motion(); }
    double restOpacity(const Inputs& in) const;
    double hold(double seconds) const { return seconds * motion().scale; }

    void signalArrival(double now);
    void startPeek(double now);
    void restartPeekTimer(double seconds, double now);
    void endPeek(double now);
    void cancelFlash();
    void settlePulse(double at);

    quint32 display_;
    Hooks hooks_;
    Motion::Animated glow_;
    Motion::Animated trailing_;
    Motion::Animated highlight_;
    Motion::Animated cardDrag_;
    Motion::Animated peekShown_;
    bool pulsing_ = false;
    bool stylePulsing_ = false;
    bool peeking_ = false;
    std::vector<std::optional<QImage>> peekImages_;
    int peekCount_ = 0;
    Task flash_;
    Task peek_;
    Task style_;
};

} // namespace ostrel
