#pragma once

#include "Ostrel/Model/AppSettings.h"

#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

class QScreen;

namespace ostrel {

namespace x11 {
class WindowSystem;
}
class ActiveDisplayWatcher;
class FullscreenWatcher;
class HotKey;
class HoverDetector;
class MainMenu;
class LoginItem;
enum class Pane;
class SettingsHold;
class WelcomeWindowController;
class PanelController;
class PortalAccessibility;
class PreferencesWindowController;
class ShelfModel;
class StatusItem;
class UpdateController;

// The application's composition root: creates and wires the shelf model, the panels, the hover
// detector and the display watchers in launch order, owns them for the life of the process and
// shuts the model down once at the end. Main thread only.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    void launch();
    // Commits a held command and stops the engine, which saves the index; once. `quietly`: the
    // process is already ending, inside exit(): the shelf's views are left as they are.
    void shutdown(bool quietly = false);

    AppSettings& settings() { return settings_; }
    ShelfModel* model() const { return model_.get(); }
    PanelController* panels() const { return panels_.get(); }
    HoverDetector* hover() const { return hover_.get(); }
    // Our own connection to the X server; null without one.
    x11::WindowSystem* windowSystem() const { return windows_.get(); }
    // The process's one update controller, made on first use.
    UpdateController& updates();
    // The Settings window's controller, made on first use and kept for the life of the process.
    PreferencesWindowController& preferences();
    // Replaces the global shortcut's registration from the current settings; the old one is
    // released first.
    void registerHotKey();
    HotKey* hotKey() const { return hotKey_.get(); }
    StatusItem* statusItem() const { return statusItem_.get(); }
    // Opens or closes the shelf on the display under the pointer (the tray and the hot key).
    void toggleShelf();
    // Closes the shelf, reads the autostart entry's state and shows Settings on `pane`, or on
    // the pane shown last (a second launch of the application comes here too).
    void openSettings(std::optional<Pane> pane = std::nullopt);
    // The first-run greeting while it is open.
    WelcomeWindowController* welcome() const { return welcome_.get(); }

private:
    void refreshDisplays();
    void bringBackStrandedWindows();
    void scheduleRefreshDisplays();
    void watchScreen(QScreen* screen);
    void settingsChanged(const Preferences& now, const Preferences& before);
    // Checks when due and then hourly while automatic checks are on; stops the timer when off.
    void applyUpdateTimer();
    // A first launch greets the user; a later one opens the folders pane, once, when Claude
    // Code's projects folder is missing.
    void greetOrCheckFolders();

    AppSettings settings_;
    std::unique_ptr<x11::WindowSystem> windows_;
    std::unique_ptr<PortalAccessibility> accessibility_;
    std::unique_ptr<ShelfModel> model_;
    std::unique_ptr<PanelController> panels_;
    std::unique_ptr<ActiveDisplayWatcher> activeDisplay_;
    std::unique_ptr<HoverDetector> hover_;
    std::unique_ptr<FullscreenWatcher> fullscreen_;
    std::unique_ptr<UpdateController> updates_;
    std::unique_ptr<PreferencesWindowController> preferences_;
    std::unique_ptr<MainMenu> mainMenu_;
    std::unique_ptr<StatusItem> statusItem_;
    std::unique_ptr<HotKey> hotKey_;
    std::unique_ptr<LoginItem> loginItem_;
    std::unique_ptr<SettingsHold> hold_;
    std::unique_ptr<WelcomeWindowController> welcome_;
    QTimer updateTimer_;
    bool refreshPending_ = false;
    bool hotkeyRecording_ = false;
    bool shutDown_ = false;
};

} // namespace ostrel
