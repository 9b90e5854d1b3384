#include "Ostrel/Settings/ShelfPane.h"

#include "Ostrel/Model/AppSettings.h"
#include "Ostrel/Settings/LayoutPreview.h"
#include "Ostrel/Settings/PreviewDisplay.h"
#include "Ostrel/Settings/SegmentedPicker.h"
#include "Ostrel/Settings/SettingRow.h"
#include "Ostrel/Settings/SignalPreview.h"
#include "Ostrel/Settings/Stepper.h"
#include "Ostrel/Settings/WholeNumberField.h"
#include "Ostrel/Widgets/FocusRing.h"
#include "Ostrel/Widgets/RowLabel.h"
#include "Ostrel/Widgets/Switch.h"
#include "OstrelCore/Display/Motion.h"
#include "OstrelCore/Engine/EngineConfig.h"

#include <utility>

namespace ostrel {

namespace {

QComboBox* menuPicker(const QString& name, const QStringList& items) {
    auto* box = new RingedComboBox;
    box->addItems(items);
    box->setAccessibleName(name);
    box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    return box;
}

template <typename T, std::size_t N> int indexOf(const std::array<T, N>& all, T value) {
    for (std::size_t i = 0; i < N; ++i) {
        if (all[i] == value) {
            return static_cast<int>(i);
        }
    }
    return 0;
}

} // namespace

std::optional<QString> ShelfPane::envNote(const QString& name, const Environment& env) {
    if (Env::string(name, env)) {
        return name + QStringLiteral(" is set and applies while it is.");
    }
    return std::nullopt;
}

ShelfPane::ShelfPane(AppSettings& settings, Environment env, QWidget* parent)
    : SettingsForm(parent), settings_(settings), env_(std::move(env)) {
    const Preferences& prefs = settings_.prefs();
    const PreviewDisplay display = PreviewDisplay::current(prefs);
    layoutPreview_ = new LayoutPreview(display, prefs.layout);
    // The notch's signal row and the pill's preview row each carry the signal preview; only one
    // of them shows at a time.
    signalPreview_ = new SignalPreview(display, signalInputs(prefs));
    pillSignalPreview_ = new SignalPreview(display, signalInputs(prefs));

    SettingsSection* layout = addSection(QStringLiteral("Layout"));
    arrangement_ =
        new SegmentedPicker({QStringLiteral("Session sidebar"), QStringLiteral("Turn stacks")});
    arrangement_->setAccessibleName(QStringLiteral("Shelf arrangement"));
    arrangementRow_ =
        new PreviewedRow(QStringLiteral("Shelf arrangement"), arrangement_, layoutPreview_);
    arrangementRow_->label()->setDetail(QStringLiteral(
        "The arrangement of Claude sessions, and their corresponding items, in your shelf."));
    activeDisplayOnly_ =
        new SettingToggle(QStringLiteral("Reveal shelf on active display only"), QString());
    layout->addRow(arrangementRow_);
    layout->addRow(activeDisplayOnly_);

    SettingsSection* newItems = newItems_ = addSection(QStringLiteral("New items"));
    signal_ = new SegmentedPicker({QStringLiteral("Glow"), QStringLiteral("Count")});
    signal_->setAccessibleName(QStringLiteral("Signal"));
    signalRow_ = new PreviewedRow(QStringLiteral("Signal"), signal_, signalPreview_);
    signalRow_->label()->setDetail(
        QStringLiteral("How your shelf will notify you when a new item is added."));
    showPreview_ = new Switch(Switch::Size::regular);
    showPreview_->setAccessibleName(QStringLiteral("Show a preview"));
    showPreviewRow_ =
        new PreviewedRow(QStringLiteral("Show a preview"), showPreview_, pillSignalPreview_);
    showPreviewRow_->label()->setDetail(
        QStringLiteral("Whether a preview of the item recently added to the shelf appears."));
    pile_ = menuPicker(QStringLiteral("Preview arrangement"),
                       {QStringLiteral("Fan"), QStringLiteral("Count"), QStringLiteral("Stack")});
    pileRow_ = new SettingRow(QStringLiteral("Preview arrangement"), pile_);
    strength_ = menuPicker(
        QStringLiteral("Glow strength"),
        {QStringLiteral("Subtle"), QStringLiteral("Balanced"), QStringLiteral("Strong")});
    strengthRow_ = new SettingRow(QStringLiteral("Glow strength"), strength_);
    QStringList counts;
    for (qint64 n = Preferences::pulseRange.lower; n <= Preferences::pulseRange.upper; ++n) {
        counts << QString::number(n);
    }
    pulses_ = menuPicker(QStringLiteral("Pulse count"), counts);
    pulsesRow_ = new SettingRow(QStringLiteral("Pulse count"), pulses_);
    // One order serves both styles: the notch shows Signal first, a pill its preview switch.
    newItems->addRow(signalRow_);
    newItems->addRow(showPreviewRow_);
    newItems->addRow(pileRow_);
    newItems->addRow(strengthRow_);
    newItems->addRow(pulsesRow_);

    SettingsSection* storage = addSection(QStringLiteral("History & Storage"));
    const auto field = [this](qint64 Preferences::*member) {
        return WholeNumberField::Value{
            [this, member] { return settings_.prefs().*member; },
            [this, member](qint64 v) { settings_.binding(member).set(v); }};
    };
    retention_ =
        new WholeNumberField(field(&Preferences::retentionDays), Preferences::retentionRange, 1,
                             QStringLiteral("day"), QStringLiteral("days"), 48);
    retentionRow_ = new SettingRow(QStringLiteral("Keep items for"), retention_);
    retentionRow_->setDetail(
        envNote(QStringLiteral("OSTREL_RETENTION_DAYS"), env_).value_or(QString()));
    maxItems_ = new WholeNumberField(field(&Preferences::maxItems), EngineConfig::maxItemsRange, 10,
                                     QStringLiteral("item"), QStringLiteral("items"), 56);
    maxItemsRow_ = new SettingRow(QStringLiteral("Maximum items"), maxItems_);
    maxItemsRow_->setDetail(envNote(QStringLiteral("OSTREL_MAX_ITEMS"), env_).value_or(QString()));
    storage->addRow(retentionRow_);
    storage->addRow(maxItemsRow_);

    arrangement_->onPick = [this](int i) {
        settings_.binding(&Preferences::layout).set(allLayoutChoices[static_cast<std::size_t>(i)]);
    };
    activeDisplayOnly_->onToggle = [this](bool on) {
        settings_.binding(&Preferences::activeDisplayOnly).set(on);
    };
    signal_->onPick = [this](int i) {
        const Motion::Curve before = std::exchange(change_, Motion::settingsChange());
        settings_.binding(&Preferences::arrivalSignal)
            .set(allArrivalSignals[static_cast<std::size_t>(i)]);
        change_ = before;
    };
    connect(showPreview_, &QAbstractButton::clicked, this, [this](bool on) {
        const Motion::Curve before = std::exchange(change_, Motion::settingsChange());
        settings_.binding(&Preferences::pillPreview).set(on);
        change_ = before;
    });
    connect(pile_, &QComboBox::activated, this, [this](int i) {
        settings_.binding(&Preferences::pillPile)
            .set(allPeekPileStyles[static_cast<std::size_t>(i)]);
    });
    connect(strength_, &QComboBox::activated, this, [this](int i) {
        settings_.binding(&Preferences::glowStrength)
            .set(allGlowStrengths[static_cast<std::size_t>(i)]);
    });
    connect(pulses_, &QComboBox::activated, this, [this](int i) {
        settings_.binding(&Preferences::glowPulses).set(Preferences::pulseRange.lower + i);
    });
    connect(&settings_, &AppSettings::prefsChanged, this, [this] { refresh(); });
    // The previews follow the screens.
    connect(&settings_, &AppSettings::displaysChanged, this, [this] { refresh(); });
    refresh();
}

SignalPreview::Inputs ShelfPane::signalInputs(const Preferences& prefs) {
    return SignalPreview::Inputs{prefs.effectiveSignal(), prefs.glowStrength,
                                 prefs.glowPulses,        prefs.layout,
                                 prefs.pillPreview,       prefs.pillPile};
}

void ShelfPane::refresh() {
    const Preferences& prefs = settings_.prefs();
    const PreviewDisplay display = PreviewDisplay::current(prefs);
    layoutPreview_->setInputs(display, prefs.layout);
    signalPreview_->setInputs(display, signalInputs(prefs));
    pillSignalPreview_->setInputs(display, signalInputs(prefs));
    arrangement_->setCurrent(indexOf(allLayoutChoices, prefs.layout));
    activeDisplayOnly_->setOn(prefs.activeDisplayOnly);
    signal_->setCurrent(indexOf(allArrivalSignals, prefs.arrivalSignal));
    showPreview_->setChecked(prefs.pillPreview);
    pile_->setCurrentIndex(indexOf(allPeekPileStyles, prefs.pillPile));
    strength_->setCurrentIndex(indexOf(allGlowStrengths, prefs.glowStrength));
    pulses_->setCurrentIndex(static_cast<int>(prefs.glowPulses - Preferences::pulseRange.lower));

    const bool pill = prefs.displayStyle.isPill();
    const bool glow = prefs.arrivalSignal == ArrivalSignal::glow;
    const auto show = [this](QWidget* row, bool shown) {
        newItems_->setRowShown(row, shown, change_);
    };
    show(signalRow_, !pill);
    show(showPreviewRow_, pill);
    show(pileRow_, pill && prefs.pillPreview);
    show(strengthRow_, pill || glow);
    show(pulsesRow_, pill ? !prefs.pillPreview : glow);

    retention_->storedChanged();
    maxItems_->storedChanged();
}

} // namespace ostrel
