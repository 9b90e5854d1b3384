#pragma once

#include "Ostrel/Widgets/SettingsForm.h"
#include "OstrelCore/Display/MotionAnimator.h"

#include <optional>

class QSlider;

namespace ostrel {

class AppSettings;
class HotkeyRecorder;
class SettingRow;
class SettingToggle;
class ToneLabel;

// Launch at login, the tray icon, how the shelf opens (shortcut, hover and its delay) and quiet
// mode.
class GeneralPane : public SettingsForm {
public:
    explicit GeneralPane(AppSettings& settings, QWidget* parent = nullptr);

    // The shortcuts the desktop itself takes before us.
    static std::optional<QString> shortcutWarning(qint64 keyCode, qint64 modifiers);

    SettingToggle* launchAtLogin() const { return launchAtLogin_; }
    SettingToggle* showInMenuBar() const { return showInMenuBar_; }
    SettingRow* shortcutRow() const { return shortcutRow_; }
    HotkeyRecorder* recorder() const { return recorder_; }
    SettingToggle* openOnHover() const { return openOnHover_; }
    SettingRow* hoverDelayRow() const { return hoverDelayRow_; }
    QSlider* hoverDelaySlider() const { return slider_; }
    ToneLabel* hoverDelayLabel() const { return delayLabel_; }
    SettingToggle* quietMode() const { return quietMode_; }

    // Shows the current preferences and errors.
    void refresh();

private:
    void sliderMoved(int value);

    AppSettings& settings_;
    SettingsSection* opening_;
    SettingToggle* launchAtLogin_;
    SettingToggle* showInMenuBar_;
    SettingRow* shortcutRow_;
    HotkeyRecorder* recorder_;
    SettingToggle* openOnHover_;
    SettingRow* hoverDelayRow_;
    QSlider* slider_;
    ToneLabel* delayLabel_;
    SettingToggle* quietMode_;
    bool refreshing_ = false;
    // How a change made here moves the rows it shows or hides: only "Open on hover" animates.
    Motion::Curve change_ = Motion::Curve::none();
};

} // namespace ostrel
