#include "Ostrel/Panels/HoverDetector.h"

#include "Ostrel/Model/AppSettings.h"
#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Panels/PanelController.h"
#include "Ostrel/Panels/ScreenSpace.h"
#include "OstrelCore/Display/Motion.h"
#include "Platform/MainClock.h"

#include <QCoreApplication>

namespace ostrel {

namespace {

// Points around a hot zone or peek card where the window system follows the pointer closely
// already, without telling us: a pointer heading there is seen within two frames of arriving.
constexpr double approach = 48;

// The wheel's notches come as a press and release of buttons 4 to 7 each: they hold nothing, so
// the panels' pass-through stays as it is (asking again would cost a pointer query and an input
// shape per panel at every notch).
bool isWheel(int button) {
    return button >= 4 && button <= 7;
}

} // namespace

HoverDetector::HoverDetector(PanelController& panels, ShelfModel& model, AppSettings& settings,
                             x11::WindowSystem* windows, std::shared_ptr<MainClock> clock,
                             QObject* parent)
    : QObject(parent), panels_(panels), model_(model), settings_(settings), windows_(windows),
      clock_(std::move(clock)), machine_(Motion::hoverGrace), timer_(clock_), deferredOpen_(clock_),
      closingEnds_(clock_) {}

void HoverDetector::start() {
    const QPointer<HoverDetector> self(this);
    panels_.onPointer = [self] {
        if (self) {
            self->evaluate();
        }
    };
    if (windows_) {
        connect(windows_, &x11::WindowSystem::rawMotion, this, &HoverDetector::evaluate);
        connect(windows_, &x11::WindowSystem::rawButtonPress, this, &HoverDetector::pressed);
        connect(windows_, &x11::WindowSystem::rawButtonRelease, this, [this](int button) {
            if (!isWheel(button)) {
                panels_.updateMousePassThrough();
            }
        });
        connect(windows_, &x11::WindowSystem::activeWindowChanged, this,
                &HoverDetector::activeWindowChanged);
        // The zones move with the layouts and with the count beside the notch.
        for (auto signal : {&ShelfModel::layoutsChanged, &ShelfModel::signalUnreadChanged,
                            &ShelfModel::signalChanged, &ShelfModel::fullscreenChanged}) {
            connect(&model_, signal, this, &HoverDetector::updateWatch);
        }
        updateWatch();
    }
}

// Away from the shelf, pointer motion is left to the window system's reader and costs this thread
// nothing; it reports moves in a hot zone or peek card and out of one, and every move (sampling
// too, as a warp makes no raw motion) while a dwell or grace runs, the drawer is open or closing,
// an open waits for its frame, or the pointer rests in a hot zone or on a peek card. At rest
// nothing wakes us: a warp onto the shelf reaches the panel itself where it takes the pointer over
// the hot zone (with a compositor; without one the resting panel is cut to what it draws, and the
// next real move counts).
void HoverDetector::updateWatch() {
    if (!windows_) {
        return;
    }
    const auto closing = machine_.closing(clock_->now());
    if (closing && !closingEnds_.isPending()) {
        // Nothing else marks the end of the closing: the pointer may rest by then.
        closingEnds_.after(closing->remaining + 0.001, this, [this] { updateWatch(); });
    }
    x11::PointerWatch watch;
    watch.everyMove =
        nearShelf_ || machine_.openTarget() || machine_.deadline() || closing || pendingOpen_;
    for (const QRectF& zone : panels_.pointerZones()) {
        // A point of slack: a zone holds its minimum edges, and y flips between the shelf's
        // coordinates and the pixels. What the slack lets through is judged here exactly.
        watch.zones.append(
            ScreenSpace::toDevicePixels(ScreenSpace::toQt(zone.adjusted(-1, -1, 1, 1))));
        watch.approaches.append(ScreenSpace::toDevicePixels(
            ScreenSpace::toQt(zone.adjusted(-approach, -approach, approach, approach))));
    }
    if (watch_ != watch) {
        watch_ = watch;
        windows_->watchPointer(watch);
    }
}

void HoverDetector::evaluate() {
    const QPointF p = panels_.pointerLocation();
    const auto hot = panels_.hotDisplay(p);
    std::optional<quint32> target;
    if (!model_.openScreen()) {
        target = panels_.peekCardDisplay(p);
        if (!target) {
            target = panels_.heldPressDisplay();
        }
    }
    panels_.setCardMouse(target);
    nearShelf_ = hot.has_value() || target.has_value();
    // A drawer opened by the hot key has the pointer outside: it must take the pointer as soon
    // as the pointer comes in, before the press, or the press goes to the window beneath.
    panels_.updateMousePassThrough(true);
    model_.setToastHovered(panels_.pointerInMessageBand(p));
    const double now = clock_->now();
    const auto closing = machine_.closing(now);
    const bool insideOpen = panels_.pointerInsideOpen(p, closing);
    // The tips hit-test the labels' on-screen rectangles, and the model takes the pointer as its
    // own source reports it: both are Qt's, y downwards.
    const QPointF onScreen = ScreenSpace::toQt(p);
    model_.tips().pointerMoved(onScreen, insideOpen && model_.openScreen().has_value());
    model_.pointerMoved(onScreen);
    if (model_.peekHovered() != target) {
        model_.setPeekHovered(target);
    }
    if (hot || target) {
        model_.warmDrawer();
    }
    if (model_.isDraggingOut() || model_.isMenuOpen()) {
        updateWatch();
        return;
    }
    const bool hoverOpens = settings_.hoverOpens();
    if (!hoverOpens && !machine_.openTarget() && hot) {
        updateWatch();
        return;
    }
    double closeDuration = 0;
    if (hoverOpens && machine_.openTarget()) {
        const auto it = model_.layouts().find(*machine_.openTarget());
        if (it != model_.layouts().end()) {
            closeDuration = Motion::drawerCloseDuration(it->second.style());
        }
    }
    const auto action = machine_.pointer(now, hot ? std::optional(hot->display) : std::nullopt,
                                         hot ? hot->dwell : 0, insideOpen, closeDuration);
    apply(action, Pointer{hot ? std::optional(hot->display) : std::nullopt, insideOpen});
}

void HoverDetector::apply(const HoverMachine::Action& action,
                          const std::optional<Pointer>& pointer) {
    switch (action.kind) {
    case HoverMachine::Action::Kind::open: {
        const quint32 d = action.target;
        pendingOpen_.reset();
        deferredOpen_.cancel();
        panels_.settleStyle();
        if (!model_.drawerBuilt()) {
            model_.warmDrawer();
            pendingOpen_ = d;
            // One frame lets the drawer's content appear before it opens.
            deferredOpen_.after(Motion::frame, this, [this, d] {
                if (pendingOpen_ == d) {
                    pendingOpen_.reset();
                    panels_.setOpen(d);
                    updateKeyPanel(std::nullopt);
                }
            });
        } else {
            panels_.setOpen(d);
        }
        clickMonitor_ = true;
        break;
    }
    case HoverMachine::Action::Kind::close:
        pendingOpen_.reset();
        deferredOpen_.cancel();
        panels_.setOpen(std::nullopt);
        removeClickMonitor();
        break;
    case HoverMachine::Action::Kind::none:
        break;
    }
    scheduleDeadline();
    updateKeyPanel(pointer);
    updateWatch();
}

// X11 reports presses on our own windows too: only a press whose window is not one of ours is
// a click outside, else every click inside the drawer would close it.
void HoverDetector::pressed(int button) {
    if (isWheel(button)) {
        return;
    }
    panels_.updateMousePassThrough();
    if (!clickMonitor_ || (button != 1 && button != 3) || model_.isDraggingOut()) {
        return;
    }
    if (windows_ && windows_->pointer().overOwnWindow) {
        return;
    }
    apply(machine_.clickOutside(), std::nullopt);
}

// The active window turning None or one of ours is our panel taking the keyboard, not another
// application coming forward.
void HoverDetector::activeWindowChanged() {
    if (!windows_ || !machine_.openTarget() || model_.isDraggingOut()) {
        return;
    }
    const auto pid = windows_->activeWindowPid();
    if (!windows_->activeWindow() || (pid && *pid == QCoreApplication::applicationPid())) {
        return;
    }
    close();
}

void HoverDetector::close() {
    machine_.reset();
    pendingOpen_.reset();
    deferredOpen_.cancel();
    panels_.setOpen(std::nullopt);
    removeClickMonitor();
    scheduleDeadline();
    updateKeyPanel(std::nullopt);
    updateWatch();
}

void HoverDetector::closeIfOpen() {
    if (machine_.openTarget()) {
        close();
    }
}

void HoverDetector::toggle() {
    const auto display = panels_.hotkeyDisplay(panels_.pointerLocation());
    if (!display) {
        return;
    }
    apply(machine_.hotkey(*display), std::nullopt);
}

void HoverDetector::click(quint32 target) {
    apply(machine_.click(target), std::nullopt);
    model_.selectArrival();
}

void HoverDetector::scheduleDeadline() {
    const auto d = machine_.deadline();
    if (d == timerDeadline_) {
        return;
    }
    timer_.cancel();
    timerDeadline_ = d;
    if (d) {
        // The extra millisecond makes the sample fall after the deadline.
        timer_.after(std::max(*d - clock_->now(), 0.0) + 0.001, this, [this] {
            timerDeadline_.reset();
            evaluate();
        });
    }
}

void HoverDetector::updateKeyPanel(const std::optional<Pointer>& given) {
    Pointer pointer;
    if (given) {
        pointer = *given;
    } else {
        const QPointF p = panels_.pointerLocation();
        const auto hot = panels_.hotDisplay(p);
        pointer.hot = hot ? std::optional(hot->display) : std::nullopt;
        pointer.insideOpen = panels_.pointerInsideOpen(p, std::nullopt);
    }
    const auto open = machine_.openTarget();
    const bool pointerInside = open && (pointer.insideOpen || pointer.hot == open);
    if (ShelfKeyRule::panelMayBeKey(machine_.phase(), pointerInside,
                                    model_.preview().isVisible())) {
        panels_.setKeyPanel(open);
    } else {
        panels_.setKeyPanel(std::nullopt);
    }
}

} // namespace ostrel
