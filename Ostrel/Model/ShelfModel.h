#pragma once

#include "Ostrel/Model/AppSettings.h"
#include "Ostrel/Model/DragOut.h"
#include "Ostrel/Model/MenuEntry.h"
#include "Ostrel/Model/MenuRunner.h"
#include "Ostrel/Model/PreviewController.h"
#include "Ostrel/Model/ScreenDirectory.h"
#include "Ostrel/Model/ShelfCommands.h"
#include "Ostrel/Model/ShelfEngine.h"
#include "Ostrel/Model/ShelfKey.h"
#include "Ostrel/Model/TipCenter.h"
#include "Ostrel/Model/WheelSample.h"
#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Display/DisplayVisibility.h"
#include "OstrelCore/Display/DrawerLife.h"
#include "OstrelCore/Display/HoverMachine.h"
#include "OstrelCore/Display/MotionAnimator.h"
#include "OstrelCore/Display/ShelfLayoutKind.h"
#include "OstrelCore/Display/StripScroll.h"
#include "OstrelCore/Records/Env.h"
#include "OstrelCore/Records/Preferences.h"
#include "OstrelCore/Records/Snapshot.h"
#include "OstrelCore/Shelf/CollapsedSections.h"
#include "OstrelCore/Shelf/DeckFan.h"
#include "OstrelCore/Shelf/SeenClock.h"
#include "OstrelCore/Shelf/ShelfFilter.h"
#include "OstrelCore/Shelf/ShelfGroups.h"
#include "OstrelCore/Shelf/ShelfState.h"
#include "OstrelCore/Shelf/UndoClock.h"
#include "Platform/Desktop.h"
#include "Platform/MainClock.h"
#include "Platform/MainTask.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QSet>
#include <QString>
#include <QUuid>

#include <functional>
#include <map>
#include <memory>
#include <optional>

class QWidget;
class QWheelEvent;

namespace ostrel {

// The one observable model of the shelf: every shelf view reads its published state (a getter
// and a change signal each; a value is written, and its signal emitted, only when it differs) and
// calls its operations. It owns the capture engine, applies the engine's snapshots, holds hide
// and delete commands for undo, follows which display's shelf is open, routes wheel input, builds
// the header menus as data and carries out the item actions. Main thread only.
//
// While a change signal runs, animation() names the curve the change should animate with
// (Motion::Curve::none() for an immediate change).
class ShelfModel : public QObject {
    Q_OBJECT
public:
    // Everything the model uses of the outside world. Defaults are the real ones; tests swap them.
    struct Services {
        ShelfEngineFactory makeEngine;
        std::shared_ptr<MainClock> clock;
        // The process environment, read afresh at every configuration change.
        std::function<Environment()> environment;
        // The motion scale; 0 reads Motion::scale().
        double motionScale = 0;
        std::shared_ptr<Desktop> desktop;
        std::unique_ptr<PreviewController> preview;
        std::unique_ptr<TipCenter> tips;
        std::unique_ptr<DragOut> dragOut;
        std::unique_ptr<MenuRunner> menus;
        // The thumbnail memory cache at a side in points; a null image when it holds none.
        std::function<QImage(const ShelfItem&, double side)> cachedThumbnail;
        // The pointer in Qt global coordinates, as pointerMoved() reports it.
        std::function<QPointF()> pointer;
    };

    using DisplayID = quint32;

    // One strip's wheel handler; at most one per display.
    struct WheelReceiver {
        QUuid token;
        std::function<void(const StripScroll::Input&)> handler;
    };

    // Builds the model and its engine from the current preferences; the engine is not started.
    explicit ShelfModel(AppSettings& settings, QObject* parent = nullptr);
    ShelfModel(AppSettings& settings, Services services, QObject* parent = nullptr);
    ~ShelfModel() override;

    // --- Life of the engine ---

    // Installs the snapshot callback and starts the engine watching.
    void start();
    // Mirrors the preferences into the model; with `previous`, updates or restarts the engine
    // when its configuration changed.
    void applyPreferences(const Preferences& prefs, const std::optional<Preferences>& previous);
    // Replaces the engine: the old one stops and flushes, a new one starts on a fresh queue and
    // its first snapshot brings no arrivals.
    void restart(const Engine::Config& config);
    // Commits a held command, then stops the engine. Later commands do nothing.
    void shutdown();
    QUrl thumbURL(const QString& itemID) const;
    QUrl storeRoot() const;

    // --- Published state ---

    const QList<SessionGroup>& groups() const { return groups_; }
    qint64 unreadCount() const { return unreadCount_; }
    const ShelfFilter& filter() const { return filter_; }
    qint64 signalUnread() const { return signalUnread_; }
    qint64 arrivalTick() const { return arrivalTick_; }
    const std::optional<DisplayID>& peekHovered() const { return peekHovered_; }
    void setPeekHovered(const std::optional<DisplayID>& display);
    qint64 version() const { return version_; }
    const std::map<DisplayID, DisplayLayout>& layouts() const { return layouts_; }
    void setLayouts(const std::map<DisplayID, DisplayLayout>& layouts);
    const std::optional<DisplayID>& openScreen() const { return openScreen_; }
    bool drawerBuilt() const { return drawerBuilt_; }
    const QSet<DisplayID>& fullscreen() const { return fullscreen_; }
    void setFullscreen(const QSet<DisplayID>& displays);
    const std::optional<QString>& selectedSessionID() const { return selectedSessionID_; }
    // Validates the item selection afterwards.
    void setSelectedSessionID(const std::optional<QString>& id);
    const std::optional<QString>& selectedItemID() const { return selectedItemID_; }
    void setSelectedItemID(const std::optional<QString>& id);
    LayoutChoice layoutChoice() const { return layoutChoice_; }
    // The signal in effect: glow on a pill, else the user's choice.
    ArrivalSignal signal() const { return signal_; }
    GlowStrength glowStrength() const { return glowStrength_; }
    qint64 glowPulses() const { return glowPulses_; }
    bool pillPreview() const { return pillPreview_; }
    PeekPileStyle pillPile() const { return pillPile_; }
    bool styleSunk() const { return styleSunk_; }
    // `curve`: how the panels sink or rise, announced through animation().
    void setStyleSunk(bool sunk, Motion::Curve curve = Motion::Curve::none());
    qint64 stylePulseTick() const { return stylePulseTick_; }
    void pulseStyle();
    const std::optional<PendingUndo>& pendingUndo() const { return pendingUndo_; }
    const CollapsedSections& collapsed() const { return collapsed_; }
    const DeckFan& fan() const { return fan_; }
    bool hoverFrozen() const { return hoverFrozen_; }

    // The curve of the change being announced.
    Motion::Curve animation() const { return animation_; }
    // The interface clock the model's timers run on; windows beside the shelf animate on it too.
    const std::shared_ptr<MainClock>& clock() const { return clock_; }

    // --- Plain state ---

    const QList<ShelfItem>& arrivalItems() const { return arrivalItems_; }
    const QSet<DisplayID>& peekingDisplays() const { return peekingDisplays_; }
    void setPeeking(DisplayID display, bool on);
    std::function<void(DisplayID)> onPeekTapped;
    std::function<void()> onPeekChanged;
    std::function<void()> onPreviewOpened;
    std::function<void()> onInteractionEnded;
    ShelfCommands commands;

    ArrivalSignal arrivalSignal() const { return arrivalSignal_; }
    const DisplayStyleChoice& appliedStyle() const { return appliedStyle_; }
    // Recomputes the signal in effect.
    void setAppliedStyle(const DisplayStyleChoice& style);
    bool isQuiet() const { return isQuiet_; }
    const Snapshot& visibleSnapshot() const { return visibleSnapshot_; }
    const QSet<QString>& unreadIDs() const { return unreadIDs_; }
    const QSet<QString>& dotIDs() const { return dotIDs_; }
    const std::optional<ShelfItem>& hoveredItem() const { return hoveredItem_; }
    void setHoveredItem(const std::optional<ShelfItem>& item) { hoveredItem_ = item; }
    bool isDraggingOut() const { return isDraggingOut_; }
    bool isMenuOpen() const { return isMenuOpen_; }
    bool toastHovered() const { return toastHovered_; }
    const DrawerLife& drawer() const { return drawer_; }
    const DisplayVisibility& visibility() const { return visibility_; }
    const ShelfState& state() const { return state_; }
    const std::optional<UndoClock>& undoClock() const { return undoClock_; }
    bool isUndoRunning() const { return undoTask_.isPending(); }
    double motionScale() const { return scale_; }
    AppSettings& settings() const { return settings_; }
    ShelfEngine& engine() const { return *engine_; }
    PreviewController& preview() const { return *preview_; }
    TipCenter& tips() const { return *tips_; }
    DragOut& dragOut() const { return *dragOut_; }
    Desktop& desktop() const { return *desktop_; }
    const std::map<DisplayID, WheelReceiver>& wheels() const { return wheels_; }
    const QHash<QString, QList<QPointer<QObject>>>& anchors() const { return anchors_; }
    // Display numbers of Qt's screens; installed by the panels.
    void setScreenDirectory(std::unique_ptr<ScreenDirectory> directory);
    // Where the pointer is, in Qt global coordinates; installed by the panels, which follow it
    // through the window system. None: Qt's cursor.
    void setPointerSource(std::function<QPointF()> source);

    // A drag-out, a header menu or the preview keeps the open shelf up.
    bool isBusy() const;

    // --- Snapshot road ---

    // Merges a published snapshot with the held command and brings everything up to date.
    void apply(const Snapshot& snapshot);
    void publishVisible();
    // True when the groups changed.
    bool rebuild();
    void recountUnread();
    // The items showing a dot, per turn and in all, of the groups as they are.
    void countDots();
    void publishUnread();
    void refreshSignalUnread();
    // Reports to the engine the items in view long enough to count as seen.
    void checkSeen();

    // Unread, or marked new while the shelf stays open.
    bool showsDot(const ShelfItem& item) const;
    // How many of the items show a dot (0: none).
    qint64 hasDot(const QList<ShelfItem>& items) const;
    // The same for a turn or a session of the shown groups, as counted when the groups or the
    // dots last changed: a view that asks at every scroll step scans no items.
    qint64 dots(const Turn& turn) const;
    qint64 hasDots(const SessionGroup& group) const;
    // Room for the closed shelf's count badge; 0 while no count shows.
    double countWidth() const;
    const SessionGroup* selectedGroup() const;
    // The number of new items for the tray menu.
    qint64 newItemCount() const { return unreadIDs_.size(); }

    // --- Commands and undo ---

    void hide(const ShelfItem& item);
    void deleteItems(const QList<ShelfItem>& items);
    void deleteAll();
    void perform(const PendingUndo& command);
    void undo();
    void commit();
    // Brings hidden items back at once; not held for undo.
    void unhide(const QList<ShelfItem>& items);
    void updateUndoClock();
    void setToastHovered(bool hovered);

    // --- Opening, closing and pointer input ---

    void setOpenScreen(const std::optional<DisplayID>& display);
    void itemAppeared(const QString& id, DisplayID display);
    void itemDisappeared(const QString& id, DisplayID display);
    void setRegion(const QSet<QString>& ids, const QString& name, DisplayID display);
    void clearRegion(DisplayID display);
    QUuid addWheelReceiver(DisplayID display,
                           std::function<void(const StripScroll::Input&)> handler);
    void removeWheelReceiver(const QUuid& token, DisplayID display);
    // True when the event went to the open display's strip.
    bool scrollWheel(const WheelSample& wheel, DisplayID display);
    bool scrollWheel(const QWheelEvent& event, DisplayID display);
    void forwardWheel(DisplayID display, double delta);
    void forwardWheelAlternate(DisplayID display, double delta);
    // The content scrolled: hover freezes at the pointer until it moves. Points are in Qt global
    // coordinates, as the pointer source gives them.
    void scrolled();
    void pointerMoved(const QPointF& to);
    void pressDragged();
    // A mouse-down on the open shelf's panel.
    void pressBegan();
    ShelfLayoutKind openLayoutKind() const;
    void beginDragOut(const ShelfItem& item);

    // --- Menus ---

    QList<MenuEntry> shelfMenu();
    QList<MenuEntry> projectMenu();
    QList<MenuEntry> kindMenu();
    void showShelfMenu(QWidget* control);
    void showProjectMenu(QWidget* control);
    void showKindMenu(QWidget* control);
    QString projectLabel() const;
    void setProject(const std::optional<QString>& project);
    void toggleKind(KindFilter kind);
    void toggleOnlyNew();
    void clearKinds();
    void applyFilter(const ShelfFilter& filter);

    // --- Selection, keys and item actions ---

    void click(const ShelfItem& item, int count);
    void clickDeck(const Turn& turn, const ShelfItem& item, int count);
    bool isFanned(const Turn& turn) const;
    bool holdsSelection(const Turn& turn) const;
    void clearSelection();
    void toggleCollapsed(const QString& section);
    std::optional<ShelfItem> selectedItem() const;
    void moveSelection(ShelfSelection::Direction direction);
    void handleKey(ShelfKey key);
    void showQuickLook(const ShelfItem& item);
    void selectAndPreview(const ShelfItem& item);
    void openInDefaultApp(const ShelfItem& item);
    void revealInFinder(const ShelfItem& item);
    void copyLink(const ShelfItem& item);
    void copyImage(const ShelfItem& item);

    // --- Consistency ---

    void selectArrival();
    void validateSelection();
    void warmDrawer();
    void scheduleCool();
    // Registers a view (a QWidget or a QGraphicsObject) that shows an item.
    void setAnchor(QObject* view, const QString& itemID);
    void removeAnchor(QObject* view, const QString& itemID);
    // Where a view of the item shows on the open display (Qt global coordinates).
    std::optional<QRectF> itemFrameOnScreen(const QString& itemID) const;

signals:
    void groupsChanged();
    void unreadCountChanged();
    void filterChanged();
    void signalUnreadChanged();
    void arrivalTickChanged();
    void peekHoveredChanged();
    void versionChanged();
    void layoutsChanged();
    void openScreenChanged();
    void drawerBuiltChanged();
    void fullscreenChanged();
    void selectedSessionIDChanged();
    void selectedItemIDChanged();
    void layoutChoiceChanged();
    void signalChanged();
    void glowStrengthChanged();
    void glowPulsesChanged();
    void pillPreviewChanged();
    void pillPileChanged();
    void styleSunkChanged();
    void stylePulseTickChanged();
    void pendingUndoChanged();
    void collapsedChanged();
    void fanChanged();
    void hoverFrozenChanged();

private:
    class Animating;

    Engine::Config makeConfig(const Preferences& prefs) const;
    // The snapshot without what cannot be shown; logged the first time.
    Snapshot showable(const Snapshot& snapshot);
    void installEngine(std::unique_ptr<ShelfEngine> engine);
    void send(const EngineCommand& command);
    void setFilterValue(const ShelfFilter& filter);
    void setSignalValue(ArrivalSignal signal);
    void setFanValue(const DeckFan& fan);
    void setCollapsedValue(const CollapsedSections& collapsed);
    void setHoverFrozenValue(bool frozen);
    void setDrawerBuiltValue(bool built);
    void setPendingUndoValue(const std::optional<PendingUndo>& pending);
    void tidy();
    void coolDown();
    void showMenu(const QList<MenuEntry>& entries, QWidget* control);
    MenuEntry menuTitle(const QString& title, qint64 count, std::function<void()> action) const;
    bool previewShowing() const { return preview_->isVisible(); }
    QScreen* screenFor(DisplayID display) const;
    // The visible part of an anchor view in Qt global coordinates, and the screen it is on.
    std::optional<QRectF> anchorFrame(QObject* view, DisplayID display) const;

    AppSettings& settings_;
    Services services_;
    double scale_ = 1;
    std::shared_ptr<MainClock> clock_;
    std::shared_ptr<Desktop> desktop_;
    std::unique_ptr<PreviewController> preview_;
    std::unique_ptr<TipCenter> tips_;
    std::unique_ptr<DragOut> dragOut_;
    std::unique_ptr<MenuRunner> menus_;
    std::unique_ptr<ScreenDirectory> screens_;
    std::unique_ptr<ShelfEngine> engine_;
    bool shutDown_ = false;

    QList<SessionGroup> groups_;
    qint64 unreadCount_ = 0;
    ShelfFilter filter_;
    qint64 signalUnread_ = 0;
    qint64 arrivalTick_ = 0;
    std::optional<DisplayID> peekHovered_;
    qint64 version_ = 0;
    std::map<DisplayID, DisplayLayout> layouts_;
    std::optional<DisplayID> openScreen_;
    bool drawerBuilt_ = false;
    QSet<DisplayID> fullscreen_;
    std::optional<QString> selectedSessionID_;
    std::optional<QString> selectedItemID_;
    LayoutChoice layoutChoice_ = LayoutChoice::rail;
    ArrivalSignal signal_ = ArrivalSignal::glow;
    GlowStrength glowStrength_ = GlowStrength::balanced;
    qint64 glowPulses_ = 2;
    bool pillPreview_ = true;
    PeekPileStyle pillPile_ = PeekPileStyle::fan;
    bool styleSunk_ = false;
    qint64 stylePulseTick_ = 0;
    std::optional<PendingUndo> pendingUndo_;
    CollapsedSections collapsed_;
    DeckFan fan_;
    bool hoverFrozen_ = false;
    Motion::Curve animation_ = Motion::Curve::none();

    QList<ShelfItem> arrivalItems_;
    QSet<DisplayID> peekingDisplays_;
    DrawerLife drawer_;
    MainTask coolTimer_;
    ArrivalSignal arrivalSignal_ = ArrivalSignal::glow;
    DisplayStyleChoice appliedStyle_ = DisplayStyleChoice::notch();
    ShelfState state_;
    Snapshot visibleSnapshot_;
    // What the groups were last built from.
    Snapshot shown_;
    QHash<QString, QList<QPointer<QObject>>> anchors_;
    bool isDraggingOut_ = false;
    bool isMenuOpen_ = false;
    std::optional<ShelfItem> hoveredItem_;
    QSet<QString> unreadIDs_;
    bool isQuiet_ = false;
    SeenClock seenClock_;
    DisplayVisibility visibility_;
    MainTask seenTimer_;
    QSet<QString> dotIDs_;
    // Items showing a dot, by turn id; turns without one are left out.
    QHash<QString, qint64> turnDots_;
    qint64 dotTotal_ = 0;
    MainTask undoTask_;
    std::optional<UndoClock> undoClock_;
    bool toastHovered_ = false;
    std::map<DisplayID, WheelReceiver> wheels_;
    PressGate presses_;
    HoverFreeze hoverFreeze_;
    MainTask tidyWork_;
    bool loggedUnnamed_ = false;
};

} // namespace ostrel
