#include "Ostrel/Settings/GeneralPane.h"

#include "Ostrel/Model/AppSettings.h"
#include "Ostrel/Settings/HotkeyRecorder.h"
#include "Ostrel/Settings/HotkeyText.h"
#include "Ostrel/Settings/PrefsAccess.h"
#include "Ostrel/Settings/SettingRow.h"
#include "Ostrel/Settings/SettingsText.h"
#include "Ostrel/Widgets/FocusRing.h"
#include "Ostrel/Widgets/RowLabel.h"
#include "Ostrel/Widgets/ToneLabel.h"
#include "OstrelCore/Display/Motion.h"

#include <QHBoxLayout>

#include <utility>

namespace ostrel {

namespace {

constexpr qint64 spaceKey = 49;
constexpr int dwellStep = 20;

} // namespace

std::optional<QString> GeneralPane::shortcutWarning(qint64 keyCode, qint64 modifiers) {
    if (keyCode != spaceKey) {
        return std::nullopt;
    }
    if (modifiers == HotkeyText::control) {
        return SettingsText::inputMethodWarning;
    }
    if (modifiers == HotkeyText::command) {
        return SettingsText::inputSourceWarning;
    }
    return std::nullopt;
}

GeneralPane::GeneralPane(AppSettings& settings, QWidget* parent)
    : SettingsForm(parent), settings_(settings) {
    SettingsSection* first = addSection();
    launchAtLogin_ = new SettingToggle(QStringLiteral("Launch at login"), QString());
    showInMenuBar_ = new SettingToggle(SettingsText::showInMenuBar, QString());
    first->addRow(launchAtLogin_);
    first->addRow(showInMenuBar_);

    SettingsSection* opening = opening_ = addSection(QStringLiteral("Opening the shelf"));
    recorder_ = new HotkeyRecorder(PrefsAccess::of(settings_));
    shortcutRow_ = new SettingRow(QStringLiteral("Keyboard shortcut"), recorder_);
    openOnHover_ = new SettingToggle(QStringLiteral("Open on hover"), QString());
    auto* delayControl = new QWidget;
    auto* delayLayout = new QHBoxLayout(delayControl);
    delayLayout->setContentsMargins(0, 0, 0, 0);
    delayLayout->setSpacing(10);
    slider_ = new RingedSlider(Qt::Horizontal);
    slider_->setRange(static_cast<int>(Preferences::dwellRange.lower),
                      static_cast<int>(Preferences::dwellRange.upper));
    slider_->setSingleStep(dwellStep);
    slider_->setPageStep(dwellStep);
    slider_->setFixedWidth(180);
    slider_->setAccessibleName(QStringLiteral("Hover delay"));
    delayLabel_ = new ToneLabel(QString(), ToneLabel::Tone::secondary, 13);
    delayLabel_->setFixedWidth(54);
    delayLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    delayLayout->addWidget(slider_);
    delayLayout->addWidget(delayLabel_);
    hoverDelayRow_ = new SettingRow(QStringLiteral("Hover delay"), delayControl);
    hoverDelayRow_->setDetail(QStringLiteral("The duration the shelf waits before opening."));
    opening->addRow(shortcutRow_);
    opening->addRow(openOnHover_);
    opening->addRow(hoverDelayRow_);

    SettingsSection* quiet = addSection();
    quietMode_ = new SettingToggle(QStringLiteral("Quiet mode"), SettingsText::quietModeDetail);
    quiet->addRow(quietMode_);

    const auto bind = [this](SettingToggle* toggle, bool Preferences::*field) {
        toggle->onToggle = [this, field](bool on) { settings_.binding(field).set(on); };
    };
    bind(launchAtLogin_, &Preferences::launchAtLogin);
    bind(showInMenuBar_, &Preferences::showInMenuBar);
    openOnHover_->onToggle = [this](bool on) {
        const Motion::Curve before = std::exchange(change_, Motion::settingsChange());
        settings_.binding(&Preferences::hoverEnabled).set(on);
        change_ = before;
    };
    bind(quietMode_, &Preferences::quietMode);
    connect(slider_, &QSlider::valueChanged, this, [this](int value) { sliderMoved(value); });

    connect(&settings_, &AppSettings::prefsChanged, this, [this] { refresh(); });
    connect(&settings_, &AppSettings::hotkeyErrorChanged, this, [this] { refresh(); });
    connect(&settings_, &AppSettings::launchAtLoginErrorChanged, this, [this] { refresh(); });
    refresh();
}

void GeneralPane::sliderMoved(int value) {
    if (refreshing_) {
        return;
    }
    // The slider stops on the grid of its steps; a value it reports between them is pulled to
    // the nearest stop, as the stored delays are always 60, 80, 100 … 600.
    const qint64 lower = Preferences::dwellRange.lower;
    const qint64 snapped = Preferences::dwellRange.clamp(lower + (value - lower + dwellStep / 2) /
                                                                     dwellStep * dwellStep);
    settings_.binding(&Preferences::hoverDwellMs).set(snapped);
    refresh();
}

void GeneralPane::refresh() {
    refreshing_ = true;
    const Preferences& prefs = settings_.prefs();
    launchAtLogin_->setOn(prefs.launchAtLogin);
    launchAtLogin_->setDetail(settings_.launchAtLoginError().value_or(QString()));
    showInMenuBar_->setOn(prefs.showInMenuBar);

    QString detail = SettingsText::shortcutDetail;
    if (const auto& error = settings_.hotkeyError()) {
        detail = *error;
    } else if (const auto warning = shortcutWarning(prefs.hotkeyKeyCode, prefs.hotkeyModifiers)) {
        detail = *warning;
    }
    shortcutRow_->setDetail(detail);
    recorder_->refresh();

    openOnHover_->setOn(prefs.hoverEnabled);
    opening_->setRowShown(hoverDelayRow_, prefs.hoverEnabled, change_);
    slider_->setValue(static_cast<int>(prefs.hoverDwellMs));
    delayLabel_->setText(QString::number(prefs.hoverDwellMs) + QStringLiteral(" ms"));
    quietMode_->setOn(prefs.quietMode);
    refreshing_ = false;
}

} // namespace ostrel
