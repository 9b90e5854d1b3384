#pragma once

#include "Ostrel/Settings/SignalPreview.h"
#include "Ostrel/Widgets/SettingsForm.h"
#include "OstrelCore/Display/MotionAnimator.h"
#include "OstrelCore/Records/Env.h"

#include <optional>

class QComboBox;

namespace ostrel {

class AppSettings;
class LayoutPreview;
class PreviewedRow;
class SegmentedPicker;
class SettingRow;
class SettingToggle;
class Switch;
class WholeNumberField;

// How the shelf arranges sessions, where it is revealed, how it announces new items (the rows
// depend on the notch or pill style), and how long and how many items it keeps.
class ShelfPane : public SettingsForm {
public:
    ShelfPane(AppSettings& settings, Environment env = Env::process(), QWidget* parent = nullptr);

    // "<name> is set and applies while it is." while the variable holds more than blanks.
    static std::optional<QString> envNote(const QString& name, const Environment& env);

    PreviewedRow* arrangementRow() const { return arrangementRow_; }
    SegmentedPicker* arrangement() const { return arrangement_; }
    SettingToggle* activeDisplayOnly() const { return activeDisplayOnly_; }
    PreviewedRow* signalRow() const { return signalRow_; }
    SegmentedPicker* signalPicker() const { return signal_; }
    PreviewedRow* showPreviewRow() const { return showPreviewRow_; }
    Switch* showPreview() const { return showPreview_; }
    SettingRow* pileRow() const { return pileRow_; }
    QComboBox* pile() const { return pile_; }
    SettingRow* strengthRow() const { return strengthRow_; }
    QComboBox* strength() const { return strength_; }
    SettingRow* pulsesRow() const { return pulsesRow_; }
    QComboBox* pulses() const { return pulses_; }
    SettingRow* retentionRow() const { return retentionRow_; }
    WholeNumberField* retention() const { return retention_; }
    SettingRow* maxItemsRow() const { return maxItemsRow_; }
    WholeNumberField* maxItems() const { return maxItems_; }

    LayoutPreview* layoutPreview() const { return layoutPreview_; }
    SignalPreview* signalPreview() const { return signalPreview_; }
    SignalPreview* pillSignalPreview() const { return pillSignalPreview_; }

    // What the signal preview shows for the preferences: a pill always previews the glow.
    static SignalPreview::Inputs signalInputs(const Preferences& prefs);

    void refresh();

private:
    AppSettings& settings_;
    Environment env_;
    LayoutPreview* layoutPreview_;
    SignalPreview* signalPreview_;
    SignalPreview* pillSignalPreview_;
    PreviewedRow* arrangementRow_;
    SegmentedPicker* arrangement_;
    SettingToggle* activeDisplayOnly_;
    PreviewedRow* signalRow_;
    SegmentedPicker* signal_;
    PreviewedRow* showPreviewRow_;
    Switch* showPreview_;
    SettingRow* pileRow_;
    QComboBox* pile_;
    SettingRow* strengthRow_;
    QComboBox* strength_;
    SettingRow* pulsesRow_;
    QComboBox* pulses_;
    SettingRow* retentionRow_;
    WholeNumberField* retention_;
    SettingRow* maxItemsRow_;
    WholeNumberField* maxItems_;
    bool refreshing_ = false;
    SettingsSection* newItems_;
    // How a change made here moves the rows it shows or hides: the preview switch and the
    // signal picker animate them.
    Motion::Curve change_ = Motion::Curve::none();
};

} // namespace ostrel
