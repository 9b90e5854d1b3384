#pragma once

#include "OstrelCore/Display/HoverMachine.h"
#include "Platform/MainTask.h"
#include "Platform/X11/WindowSystem.h"

#include <QObject>
#include <QPointer>

#include <optional>

namespace ostrel {

class AppSettings;
class PanelController;
class ShelfModel;

// Drives the hover machine from the pointer anywhere on screen: opens the shelf when the pointer
// rests on a hot zone, closes it when the pointer leaves, on a click outside or when another
// application comes forward, and decides when the open panel may take the keyboard. Main thread
// only.
class HoverDetector : public QObject {
    Q_OBJECT
public:
    struct Pointer {
        std::optional<quint32> hot;
        bool insideOpen = false;
    };

    HoverDetector(PanelController& panels, ShelfModel& model, AppSettings& settings,
                  x11::WindowSystem* windows,
                  std::shared_ptr<MainClock> clock = MainClock::system(),
                  QObject* parent = nullptr);

    void start();
    void evaluate();
    void apply(const HoverMachine::Action& action, const std::optional<Pointer>& pointer);
    void close();
    void closeIfOpen();
    void toggle();
    void click(quint32 target);
    void updateKeyPanel(const std::optional<Pointer>& pointer);

    const HoverMachine& machine() const { return machine_; }

private:
    void scheduleDeadline();
    void removeClickMonitor() { clickMonitor_ = false; }
    void pressed(int button);
    void activeWindowChanged();
    void updateWatch();

    PanelController& panels_;
    ShelfModel& model_;
    AppSettings& settings_;
    QPointer<x11::WindowSystem> windows_;
    std::shared_ptr<MainClock> clock_;
    HoverMachine machine_;
    bool clickMonitor_ = false;
    MainTask timer_;
    std::optional<double> timerDeadline_;
    std::optional<quint32> pendingOpen_;
    MainTask deferredOpen_;
    bool nearShelf_ = false; // in a hot zone or on a peek card at the last evaluation
    std::optional<x11::PointerWatch> watch_; // as last handed to the window system
    MainTask closingEnds_;
};

} // namespace ostrel
