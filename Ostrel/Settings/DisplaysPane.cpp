#include "Ostrel/Settings/DisplaysPane.h"

#include "Ostrel/Model/AppSettings.h"
#include "Ostrel/Settings/DisplayStylePreview.h"
#include "Ostrel/Settings/HotkeyText.h"
#include "Ostrel/Settings/PreviewDisplay.h"
#include "Ostrel/Settings/SegmentedPicker.h"
#include "Ostrel/Settings/SettingRow.h"
#include "Ostrel/Widgets/FocusRing.h"
#include "Ostrel/Widgets/RowLabel.h"
#include "Ostrel/Widgets/ToneLabel.h"
#include "OstrelCore/Display/Motion.h"

#include <cmath>
#include <utility>

namespace ostrel {

QString DisplaysPane::sizeText(const DisplayInfo& display) {
    const QString times = QStringLiteral(" × ");
    if (display.resolution) {
        return QString::number(display.resolution->width) + times +
               QString::number(display.resolution->height);
    }
    const auto whole = [](double v) {
        return std::isfinite(v) ? QString::number(static_cast<qint64>(std::trunc(v)))
                                : QStringLiteral("0");
    };
    return whole(display.frame.width()) + times + whole(display.frame.height());
}

DisplaysPane::DisplaysPane(AppSettings& settings, QWidget* parent)
    : SettingsForm(parent), settings_(settings) {
    displaysSection_ = addSection(QStringLiteral("Displays"));

    SettingsSection* styleSection = addSection(QStringLiteral("Style"));
    style_ = new SegmentedPicker({QStringLiteral("Notch"), QStringLiteral("Pill")});
    style_->setAccessibleName(QStringLiteral("Shelf style"));
    stylePreview_ = new DisplayStylePreview(PreviewDisplay::current(settings_.prefs()),
                                            previewInputs(settings_.prefs()));
    styleRow_ = new PreviewedRow(QStringLiteral("Shelf style"), style_, stylePreview_);
    styleRow_->label()->setDetail(
        QStringLiteral("Decide how your shelf, containing the items, will present itself."));
    styleSection->addRow(styleRow_);

    positionSection_ = addSection(QStringLiteral("Position"));
    position_ = new RingedComboBox;
    position_->setAccessibleName(QStringLiteral("Pill position"));
    position_->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    for (const PillSide side : allPillSides) {
        const QString raw = rawValue(side);
        position_->addItem(raw.left(1).toUpper() + raw.mid(1));
    }
    positionSection_->addRow(new SettingRow(QStringLiteral("Pill position"), position_));

    style_->onPick = [this](int i) { setPill(i == 1); };
    connect(position_, &QComboBox::activated, this,
            [this](int i) { setSide(allPillSides[static_cast<std::size_t>(i)]); });
    connect(&settings_, &AppSettings::prefsChanged, this, [this] { refresh(); });
    connect(&settings_, &AppSettings::displaysChanged, this, [this] {
        showDisplays();
        refresh();
    });
    showDisplays();
    refresh();
}

void DisplaysPane::setPill(bool pill) {
    Preferences next = settings_.prefs();
    next.displayStyle = pill ? DisplayStyleChoice::pill(lastSide_) : DisplayStyleChoice::notch();
    const Motion::Curve before = std::exchange(change_, Motion::settingsChange());
    settings_.setPrefs(next);
    change_ = before;
}

void DisplaysPane::setSide(PillSide side) {
    lastSide_ = side;
    Preferences next = settings_.prefs();
    next.displayStyle = DisplayStyleChoice::pill(side);
    settings_.setPrefs(next);
}

void DisplaysPane::showDisplays() {
    displaysSection_->clearRows();
    const QList<DisplayInfo>& displays = settings_.displays();
    if (displays.isEmpty()) {
        displaysSection_->addRow(
            new ToneLabel(QStringLiteral("No displays found."), ToneLabel::Tone::secondary, 13));
        return;
    }
    for (const DisplayInfo& display : displays) {
        auto* size = new ToneLabel(sizeText(display), ToneLabel::Tone::secondary, 13);
        auto* row = new SettingRow(display.name, size);
        row->setObjectName(display.id);
        displaysSection_->addRow(row);
    }
}

DisplayStylePreview::Inputs DisplaysPane::previewInputs(const Preferences& prefs) {
    return DisplayStylePreview::Inputs{
        prefs.layout, prefs.hoverDwellMs, prefs.hoverEnabled && !prefs.quietMode,
        HotkeyText::describe(prefs.hotkeyKeyCode, prefs.hotkeyModifiers)};
}

void DisplaysPane::refresh() {
    const DisplayStyleChoice choice = settings_.prefs().displayStyle;
    stylePreview_->setInputs(PreviewDisplay::current(settings_.prefs()),
                             previewInputs(settings_.prefs()));
    style_->setCurrent(choice.isPill() ? 1 : 0);
    setSectionShown(positionSection_, choice.isPill(), change_);
    if (const auto side = choice.pillSide()) {
        for (std::size_t i = 0; i < allPillSides.size(); ++i) {
            if (allPillSides[i] == *side) {
                position_->setCurrentIndex(static_cast<int>(i));
            }
        }
    }
}

} // namespace ostrel
