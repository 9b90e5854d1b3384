#pragma once

#include "OstrelCore/Records/ClosedRange.h"
#include "OstrelCore/Records/DisplayStyleChoice.h"
#include "OstrelCore/Records/ShelfItem.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>

namespace ostrel {

class UserDefaults;

// Shelf arrangement the user chose: session sidebar or turn stacks.
enum class LayoutChoice { rail, stacks };
// How new items are announced on the closed shelf.
enum class ArrivalSignal { glow, count };
enum class GlowStrength { subtle, balanced, strong };
// How the pile behind a pill's peek card is drawn.
enum class PeekPileStyle { fan, count, stack };

inline constexpr std::array<LayoutChoice, 2> allLayoutChoices{LayoutChoice::rail,
                                                              LayoutChoice::stacks};
inline constexpr std::array<ArrivalSignal, 2> allArrivalSignals{ArrivalSignal::glow,
                                                                ArrivalSignal::count};
inline constexpr std::array<GlowStrength, 3> allGlowStrengths{
    GlowStrength::subtle, GlowStrength::balanced, GlowStrength::strong};
inline constexpr std::array<PeekPileStyle, 3> allPeekPileStyles{
    PeekPileStyle::fan, PeekPileStyle::count, PeekPileStyle::stack};

QString rawValue(LayoutChoice v);
QString rawValue(ArrivalSignal v);
QString rawValue(GlowStrength v);
QString rawValue(PeekPileStyle v);
std::optional<LayoutChoice> layoutChoiceFromRaw(const QString& raw);
std::optional<ArrivalSignal> arrivalSignalFromRaw(const QString& raw);
std::optional<GlowStrength> glowStrengthFromRaw(const QString& raw);
std::optional<PeekPileStyle> peekPileStyleFromRaw(const QString& raw);

// The user's settings, one user-defaults key per field. Defaults are the member initialisers.
struct Preferences {
    static constexpr ClosedRange<qint64> dwellRange{60, 600};
    static constexpr ClosedRange<qint64> retentionRange{1, 365};
    static constexpr ClosedRange<qint64> pulseRange{1, 3};
    static constexpr ClosedRange<qint64> hotkeyKeyCodeRange{0, 127};
    static constexpr qint64 maxItemsDefault = 500;
    static constexpr ClosedRange<qint64> maxItemsRange{1, 5000};
    // Keys that earlier versions wrote and that are no longer written.
    static inline const QStringList retiredKeys{QStringLiteral("displayStyles")};

    LayoutChoice layout = LayoutChoice::rail;
    qint64 hotkeyKeyCode = 49;     // the Space key
    qint64 hotkeyModifiers = 2048; // option
    bool hoverEnabled = true;
    qint64 hoverDwellMs = 120;
    bool launchAtLogin = false;
    qint64 retentionDays = 30;
    qint64 maxItems = maxItemsDefault;
    ArrivalSignal arrivalSignal = ArrivalSignal::glow;
    GlowStrength glowStrength = GlowStrength::balanced;
    qint64 glowPulses = 2;
    bool pillPreview = true;
    PeekPileStyle pillPile = PeekPileStyle::fan;
    DisplayStyleChoice displayStyle = DisplayStyleChoice::defaultChoice();
    bool activeDisplayOnly = false;
    ShelfItemKinds fileKinds = ShelfItemKindRules::shownByDefault();
    QStringList extraExtensions;
    bool outsideProjectOnly = true;
    QStringList watchedFolders;
    bool quietMode = false;
    bool showInMenuBar = true;
    bool autoCheckUpdates = false;
    std::optional<QString> claudeHome;
    std::optional<QString> scratchRoot;

    // From the whole user-defaults dictionary; a missing, mistyped or out-of-range value keeps
    // its default, silently.
    static Preferences load(const QJsonObject& defaults);
    // The user-defaults form: 22 keys, plus "claudeHome" and "scratchRoot" while they are set.
    QJsonObject dictionary() const;

    // Writes every key of `dictionary()`, removes the cleared overrides and the retired keys.
    bool save(UserDefaults& defaults) const;
    // Loads from the store; settings of earlier versions are saved back at once, so that the
    // migration of retired keys runs only once.
    static Preferences load(UserDefaults& defaults);

    // A pill can only glow.
    ArrivalSignal effectiveSignal() const { return signal(arrivalSignal, displayStyle); }
    static ArrivalSignal signal(ArrivalSignal chosen, const DisplayStyleChoice& on) {
        return on.isPill() ? ArrivalSignal::glow : chosen;
    }

    // From the text the user types to the stored extension list.
    static QStringList parseExtensions(const QString& text);
    // From the text typed into a number field to the number to store.
    static qint64 whole(const QString& typed, qint64 current, ClosedRange<qint64> range);
    static qint64 typedRetentionDays(const QString& typed, qint64 current) {
        return whole(typed, current, retentionRange);
    }

    friend bool operator==(const Preferences&, const Preferences&) = default;
};

} // namespace ostrel
