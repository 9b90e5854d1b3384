#pragma once

#include "Ostrel/Panels/DisplayDirectory.h"
#include "Ostrel/Panels/NotchPanel.h"
#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Display/HoverMachine.h"
#include "OstrelCore/Display/NotchGeometry.h"
#include "OstrelCore/Display/StyleChange.h"
#include "Platform/MainTask.h"
#include "Platform/X11/WindowSystem.h"

#include <QObject>
#include <QPointer>

#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace ostrel {

class AppSettings;
class ShelfModel;

// Turns the connected screens into shelf panels: one per display, laid out for the applied
// display style, shown on every display or only the active one, switched between taking the
// pointer and letting it through, opened and closed, restyled in a leave-then-apply sequence.
// Answers the hover detector's geometric questions. Points are in the shelf's global coordinates
// (origin lower left of the primary screen, y up). Main thread only.
class PanelController : public QObject {
    Q_OBJECT
public:
    using DisplayID = quint32;
    // Builds the panel's root item for a display; by default the drawer's surface alone.
    using RootFactory = std::function<QGraphicsItem*(DisplayID)>;

    PanelController(ShelfModel& model, AppSettings& settings, x11::WindowSystem* windows,
                    std::shared_ptr<MainClock> clock = MainClock::system(),
                    QObject* parent = nullptr);
    ~PanelController() override;

    void setRootFactory(RootFactory factory) { rootFactory_ = std::move(factory); }

    void refresh();
    void applyStyle(const DisplayStyleChoice& choice);
    void setOpen(std::optional<DisplayID> display);
    void setActiveDisplay(std::optional<DisplayID> display);
    void scheduleUpdate();
    void settleStyle();
    // `onlyChanges` re-cuts only the panels whose wish for the pointer changed: cheap enough to
    // run on every pointer move.
    void updateMousePassThrough(bool onlyChanges = false);
    void setCardMouse(std::optional<DisplayID> display);
    void setKeyPanel(std::optional<DisplayID> display);
    // Keeps the shown panels above every other window but the preview, which stands above them.
    void keepAbove();
    // Paints every panel afresh, cached pictures too: the shelf's colours are read as they are
    // painted, so a change of the desktop's contrast shows only once everything is painted again.
    void repaintAll();

    struct Hot {
        DisplayID display = 0;
        double dwell = 0;
    };
    std::optional<Hot> hotDisplay(const QPointF& p) const;
    std::optional<DisplayID> hotkeyDisplay(const QPointF& p) const;
    std::optional<DisplayID> peekCardDisplay(const QPointF& p) const;
    // Where the pointer matters to a resting shelf: every hot zone and peeking card.
    QList<QRectF> pointerZones() const;
    std::optional<DisplayID> heldPressDisplay() const;
    bool pointerInMessageBand(const QPointF& p) const;
    bool pointerInsideOpen(const QPointF& p,
                           const std::optional<HoverMachine::ClosingLeft>& closing) const;
    QRectF openDrawerRect(const DisplayLayout& layout) const;

    // The pointer in the shelf's coordinates, and whether a mouse button is held.
    QPointF pointerLocation() const;
    bool buttonHeld() const;

    // Display bounds in Qt's global coordinates (top-left origin), by display.
    std::map<DisplayID, QRectF> displayBounds() const;
    DisplayDirectory& directory() { return directory_; }
    const std::map<DisplayID, NotchPanel*>& panels() const { return panels_; }
    std::optional<DisplayID> shownDisplay() const { return shownDisplay_; }

    std::function<void()> onPointer;
    // A shown panel was taken off screen by something else than this controller while its
    // shelf was open: the owner closes the shelf (by default the controller does).
    std::function<void()> onPanelLost;

private:
    void panelHidden(DisplayID display);
    void restorePanel(DisplayID display);
    NotchPanel* makePanel(DisplayID display);
    void retire(DisplayID display);
    void perform(const StyleChange::Action& action);
    void scheduleStyleStep(double seconds, std::function<void()> step);
    void applyShape(DisplayID display, NotchPanel* panel, bool wants);
    void compositorChanged();

    ShelfModel& model_;
    AppSettings& settings_;
    std::shared_ptr<MainClock> clock_;
    QPointer<x11::WindowSystem> windows_;
    DisplayDirectory directory_;
    std::map<DisplayID, NotchPanel*> panels_;
    // Panels of displays that went away, deleted later; those still waiting go with the
    // controller, before the model their views read.
    std::vector<QPointer<NotchPanel>> retired_;
    std::map<DisplayID, bool> takesMouse_;
    std::map<DisplayID, double> ratios_; // the display scale each panel was made at
    std::map<DisplayID, NotchGeometry> notchCache_;
    std::map<QString, std::optional<PixelSize>> resolutions_;
    StyleChange styleChange_;
    MainTask styleWork_;
    MainTask riseWork_;
    std::optional<DisplayID> activeDisplay_;
    std::optional<DisplayID> shownDisplay_;
    double closedAt_;
    MainTask settleWork_;
    std::optional<DisplayID> cardMouse_;
    std::optional<DisplayID> pressedPanel_;
    std::optional<x11::WindowId> focusBefore_;
    bool compositor_ = false;
    bool restoring_ = false;
    RootFactory rootFactory_;
};

} // namespace ostrel
