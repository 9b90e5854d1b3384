#pragma once

#include "Ostrel/Settings/DisplayStylePreview.h"
#include "Ostrel/Widgets/SettingsForm.h"
#include "OstrelCore/Display/MotionAnimator.h"
#include "OstrelCore/Records/Preferences.h"

class QComboBox;

namespace ostrel {

class AppSettings;
struct DisplayInfo;
class PreviewedRow;
class SegmentedPicker;
class ToneLabel;

// The connected displays, and the shelf's style: the notch, or a pill at an edge.
class DisplaysPane : public SettingsForm {
public:
    explicit DisplaysPane(AppSettings& settings, QWidget* parent = nullptr);

    // "width × height": the pixel resolution when known, else the frame's size cut to whole
    // points.
    static QString sizeText(const DisplayInfo& display);

    SettingsSection* displaysSection() const { return displaysSection_; }
    SettingsSection* positionSection() const { return positionSection_; }
    PreviewedRow* styleRow() const { return styleRow_; }
    SegmentedPicker* style() const { return style_; }
    QComboBox* position() const { return position_; }
    PillSide lastSide() const { return lastSide_; }

    DisplayStylePreview* stylePreview() const { return stylePreview_; }
    // What the style preview shows: hover opens only while it is on and quiet mode is off.
    static DisplayStylePreview::Inputs previewInputs(const Preferences& prefs);

    void setPill(bool pill);
    void setSide(PillSide side);
    void refresh();

private:
    void showDisplays();

    AppSettings& settings_;
    PillSide lastSide_ = PillSide::bottom;
    SettingsSection* displaysSection_;
    PreviewedRow* styleRow_;
    DisplayStylePreview* stylePreview_;
    SegmentedPicker* style_;
    SettingsSection* positionSection_;
    QComboBox* position_;
    // Switching between notch and pill here brings the position section in or out animated.
    Motion::Curve change_ = Motion::Curve::none();
};

} // namespace ostrel
