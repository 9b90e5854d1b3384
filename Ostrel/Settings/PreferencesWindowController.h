#pragma once

#include "Ostrel/Settings/AboutPane.h"
#include "Ostrel/Settings/SettingsNavigation.h"
#include "OstrelCore/Records/Env.h"
#include "Platform/X11/FocusReturn.h"

#include <QMargins>
#include <QObject>
#include <QSize>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QVBoxLayout;

namespace ostrel {

class AppSettings;
class SettingsSidebar;

// The selected pane under its heading. Each selection builds the pane afresh, so nothing typed
// and not committed survives a switch.
class PreferencesPaneView : public QWidget {
public:
    PreferencesPaneView(SettingsNavigation& navigation, AppSettings& settings,
                        UpdateActions updates, QWidget* parent = nullptr);

    QLabel* heading() const { return heading_; }
    QWidget* pane() const { return pane_; }

private:
    void show(Pane pane);

    AppSettings& settings_;
    UpdateActions updates_;
    QVBoxLayout* layout_;
    QLabel* heading_;
    QWidget* pane_ = nullptr;
};

// The window's content: the sidebar and the selected pane over the window's background.
class SettingsRootView : public QWidget {
public:
    SettingsRootView(SettingsNavigation& navigation, AppSettings& settings, UpdateActions updates,
                     QWidget* parent = nullptr);

    SettingsSidebar* sidebar() const { return sidebar_; }
    PreferencesPaneView* paneView() const { return paneView_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SettingsSidebar* sidebar_;
    PreferencesPaneView* paneView_;
};

// Owns the Settings window for the life of the process: builds it once, brings it up on a pane,
// remembers its frame and the last pane, and tells its owner when it closes. Closing only hides
// the window and gives the keyboard back to the window that had it before Settings came up.
class PreferencesWindowController : public QObject {
public:
    static constexpr QSize contentSize{810, 660};
    // Where the window's frame is kept between launches, as [x, y, width, height].
    static inline const QString frameKey = QStringLiteral("settingsWindowFrame");

    // `windows` may be null (no X display of our own): the focus is then not handed back.
    PreferencesWindowController(AppSettings& settings, UpdateActions updates,
                                x11::WindowSystem* windows = nullptr, QObject* parent = nullptr);
    ~PreferencesWindowController() override;

    SettingsNavigation& navigation() { return *navigation_; }
    QWidget* window() const { return window_.get(); }
    SettingsRootView* root() const { return root_; }
    QSize minFrame() const { return minFrame_; }

    // Brings the window up on `pane`, or on the pane shown last.
    void show(std::optional<Pane> pane = std::nullopt);
    // Called each time the window closes.
    std::function<void()> onClose;

    // The height a resize may give the window: never below the first height, where the screen
    // holds it.
    int allowedHeight(int proposed) const;
    // Where a window whose frame is `frame` is shown so that it can be reached: on the usable
    // area (`areas`, the primary screen's first) that shows most of it, wholly within it where
    // it fits, else with its top and left edges on it. A frame on no area (its screen was
    // unplugged since) is centred on the primary one.
    static QPoint keptOnScreen(QRect frame, const QList<QRect>& areas);
    // The usable areas of the screens, the primary one's first; null for the screens there are.
    static void setScreenAreas(std::function<QList<QRect>()> areas);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void restoreFrame();
    void saveFrameSoon();
    // With `sidebarToo` false, the sidebar keeps the keyboard when it has it.
    void clearFocusSoon(bool sidebarToo);
    void updateVisible();
    // No wider or taller than the usable area it is on, window frame included, and within it.
    void fitScreen();
    void fitScreenSoon();
    static QList<QRect> screenAreas();

    AppSettings& settings_;
    x11::FocusReturn focusReturn_;
    std::unique_ptr<SettingsNavigation> navigation_;
    std::unique_ptr<QWidget> window_;
    SettingsRootView* root_;
    QSize minFrame_;
    QTimer saveFrame_;
    QTimer fitScreen_;
    // The window manager's frame around the window when it was last fitted.
    QMargins frame_;
    bool restoring_ = false;
};

} // namespace ostrel
