#include "OstrelCore/Records/Preferences.h"

#include "OstrelCore/Records/Json.h"
#include "OstrelCore/Records/OstrelPaths.h"
#include "OstrelCore/Records/Text.h"
#include "Platform/Log.h"
#include "Platform/UserDefaults.h"

#include <QJsonArray>
#include <QSet>

#include <algorithm>
#include <limits>

namespace ostrel {

namespace {

template <typename E, size_t N>
std::optional<E> fromRaw(const std::array<E, N>& all, const QString& raw) {
    for (const E v : all) {
        if (rawValue(v) == raw) {
            return v;
        }
    }
    return std::nullopt;
}

bool isNumberChar(const QString& character) {
    return QChar::isNumber(Text::firstScalar(character));
}

bool isLetterOrNumberChar(const QString& character) {
    const char32_t c = Text::firstScalar(character);
    return QChar::isLetter(c) || QChar::isNumber(c);
}

// Reads a value only when it has the required type; otherwise the default stays.
void readEnum(const QJsonObject& d, const QString& key, auto& field, auto fromRawFn) {
    const QJsonValue v = d.value(key);
    if (v.isString()) {
        if (const auto parsed = fromRawFn(v.toString())) {
            field = *parsed;
        }
    }
}

void readWhole(const QJsonObject& d, const QString& key, qint64& field,
               const std::function<bool(qint64)>& accept) {
    const auto f = Json::integer(d, key);
    if (f.ok && f.value && accept(*f.value)) {
        field = *f.value;
    }
}

void readFlag(const QJsonObject& d, const QString& key, bool& field) {
    const QJsonValue v = d.value(key);
    if (v.isBool()) {
        field = v.toBool();
    }
}

std::optional<QStringList> stringArray(const QJsonValue& v) {
    if (!v.isArray()) {
        return std::nullopt;
    }
    QStringList out;
    for (const QJsonValue& e : v.toArray()) {
        if (!e.isString()) {
            return std::nullopt;
        }
        out.append(e.toString());
    }
    return out;
}

} // namespace

QString rawValue(LayoutChoice v) {
    return v == LayoutChoice::rail ? QStringLiteral("rail") : QStringLiteral("stacks");
}
QString rawValue(ArrivalSignal v) {
    return v == ArrivalSignal::glow ? QStringLiteral("glow") : QStringLiteral("count");
}
QString rawValue(GlowStrength v) {
    switch (v) {
    case GlowStrength::subtle:
        return QStringLiteral("subtle");
    case GlowStrength::balanced:
        return QStringLiteral("balanced");
    case GlowStrength::strong:
        return QStringLiteral("strong");
    }
    return {};
}
QString rawValue(PeekPileStyle v) {
    switch (v) {
    case PeekPileStyle::fan:
        return QStringLiteral("fan");
    case PeekPileStyle::count:
        return QStringLiteral("count");
    case PeekPileStyle::stack:
        return QStringLiteral("stack");
    }
    return {};
}

std::optional<LayoutChoice> layoutChoiceFromRaw(const QString& raw) {
    return fromRaw(allLayoutChoices, raw);
}
std::optional<ArrivalSignal> arrivalSignalFromRaw(const QString& raw) {
    return fromRaw(allArrivalSignals, raw);
}
std::optional<GlowStrength> glowStrengthFromRaw(const QString& raw) {
    return fromRaw(allGlowStrengths, raw);
}
std::optional<PeekPileStyle> peekPileStyleFromRaw(const QString& raw) {
    return fromRaw(allPeekPileStyles, raw);
}

Preferences Preferences::load(const QJsonObject& d) {
    Preferences p;
    readEnum(d, QStringLiteral("layout"), p.layout, layoutChoiceFromRaw);
    readWhole(d, QStringLiteral("hotkeyKeyCode"), p.hotkeyKeyCode,
              [](qint64 v) { return hotkeyKeyCodeRange.contains(v); });
    readWhole(d, QStringLiteral("hotkeyModifiers"), p.hotkeyModifiers,
              [](qint64 v) { return v > 0; });
    readFlag(d, QStringLiteral("hoverEnabled"), p.hoverEnabled);
    readWhole(d, QStringLiteral("hoverDwellMs"), p.hoverDwellMs,
              [](qint64 v) { return dwellRange.contains(v); });
    readFlag(d, QStringLiteral("launchAtLogin"), p.launchAtLogin);
    readWhole(d, QStringLiteral("retentionDays"), p.retentionDays,
              [](qint64 v) { return retentionRange.contains(v); });
    readWhole(d, QStringLiteral("maxItems"), p.maxItems,
              [](qint64 v) { return maxItemsRange.contains(v); });
    readEnum(d, QStringLiteral("arrivalSignal"), p.arrivalSignal, arrivalSignalFromRaw);
    readEnum(d, QStringLiteral("glowStrength"), p.glowStrength, glowStrengthFromRaw);
    readWhole(d, QStringLiteral("glowPulses"), p.glowPulses,
              [](qint64 v) { return pulseRange.contains(v); });
    readFlag(d, QStringLiteral("pillPreview"), p.pillPreview);
    readEnum(d, QStringLiteral("pillPile"), p.pillPile, peekPileStyleFromRaw);

    const QJsonValue style = d.value(QStringLiteral("displayStyle"));
    const QJsonValue retired = d.value(QStringLiteral("displayStyles"));
    if (style.isString()) {
        p.displayStyle = DisplayStyleChoice::fromRawValue(style.toString())
                             .value_or(DisplayStyleChoice::defaultChoice());
    } else if (retired.isObject()) {
        QStringList perDisplay;
        bool allText = true;
        const QJsonObject map = retired.toObject();
        for (auto it = map.begin(); it != map.end(); ++it) {
            allText = allText && it.value().isString();
            perDisplay.append(it.value().toString());
        }
        if (allText) {
            p.displayStyle = DisplayStyleChoice::migrate(perDisplay);
        }
    }

    readFlag(d, QStringLiteral("activeDisplayOnly"), p.activeDisplayOnly);
    if (const auto kinds = stringArray(d.value(QStringLiteral("fileTypes")))) {
        p.fileKinds.clear();
        for (const QString& raw : *kinds) {
            const auto kind = shelfItemKindFromRaw(raw);
            if (kind && *kind != ShelfItemKind::file) {
                p.fileKinds.insert(*kind);
            }
        }
    }
    if (const auto exts = stringArray(d.value(QStringLiteral("extraExtensions")))) {
        p.extraExtensions = parseExtensions(exts->join(u','));
    }
    readFlag(d, QStringLiteral("outsideProjectOnly"), p.outsideProjectOnly);
    if (const auto folders = stringArray(d.value(QStringLiteral("watchedFolders")))) {
        QSet<QString> seen;
        for (const QString& folder : *folders) {
            if (!folder.isEmpty() && !seen.contains(folder) &&
                !OstrelPaths::refusesNul(folder, lcStore(), "watched folder")) {
                seen.insert(folder);
                p.watchedFolders.append(folder);
            }
        }
    }
    readFlag(d, QStringLiteral("quietMode"), p.quietMode);
    readFlag(d, QStringLiteral("showInMenuBar"), p.showInMenuBar);
    readFlag(d, QStringLiteral("autoCheckUpdates"), p.autoCheckUpdates);
    for (auto [key, field] : {std::pair{QStringLiteral("claudeHome"), &p.claudeHome},
                              std::pair{QStringLiteral("scratchRoot"), &p.scratchRoot}}) {
        const QJsonValue v = d.value(key);
        if (v.isString() && !v.toString().isEmpty() &&
            !OstrelPaths::refusesNul(v.toString(), lcStore(), "preferences")) {
            *field = v.toString();
        }
    }
    return p;
}

QJsonObject Preferences::dictionary() const {
    QJsonObject d;
    d.insert(QStringLiteral("layout"), rawValue(layout));
    d.insert(QStringLiteral("hotkeyKeyCode"), hotkeyKeyCode);
    d.insert(QStringLiteral("hotkeyModifiers"), hotkeyModifiers);
    d.insert(QStringLiteral("hoverEnabled"), hoverEnabled);
    d.insert(QStringLiteral("hoverDwellMs"), hoverDwellMs);
    d.insert(QStringLiteral("launchAtLogin"), launchAtLogin);
    d.insert(QStringLiteral("retentionDays"), retentionDays);
    d.insert(QStringLiteral("maxItems"), maxItems);
    d.insert(QStringLiteral("arrivalSignal"), rawValue(arrivalSignal));
    d.insert(QStringLiteral("glowStrength"), rawValue(glowStrength));
    d.insert(QStringLiteral("glowPulses"), glowPulses);
    d.insert(QStringLiteral("pillPreview"), pillPreview);
    d.insert(QStringLiteral("pillPile"), rawValue(pillPile));
    d.insert(QStringLiteral("displayStyle"), displayStyle.rawValue());
    d.insert(QStringLiteral("activeDisplayOnly"), activeDisplayOnly);
    QStringList kinds;
    for (const ShelfItemKind kind : fileKinds) {
        kinds.append(rawValue(kind));
    }
    std::sort(kinds.begin(), kinds.end());
    d.insert(QStringLiteral("fileTypes"), QJsonArray::fromStringList(kinds));
    d.insert(QStringLiteral("extraExtensions"), QJsonArray::fromStringList(extraExtensions));
    d.insert(QStringLiteral("outsideProjectOnly"), outsideProjectOnly);
    d.insert(QStringLiteral("watchedFolders"), QJsonArray::fromStringList(watchedFolders));
    d.insert(QStringLiteral("quietMode"), quietMode);
    d.insert(QStringLiteral("showInMenuBar"), showInMenuBar);
    d.insert(QStringLiteral("autoCheckUpdates"), autoCheckUpdates);
    if (claudeHome) {
        d.insert(QStringLiteral("claudeHome"), *claudeHome);
    }
    if (scratchRoot) {
        d.insert(QStringLiteral("scratchRoot"), *scratchRoot);
    }
    return d;
}

bool Preferences::save(UserDefaults& defaults) const {
    QStringList removed = retiredKeys;
    if (!claudeHome) {
        removed.append(QStringLiteral("claudeHome"));
    }
    if (!scratchRoot) {
        removed.append(QStringLiteral("scratchRoot"));
    }
    return defaults.apply(dictionary(), removed);
}

Preferences Preferences::load(UserDefaults& defaults) {
    const Preferences prefs = load(defaults.dictionary());
    if (std::any_of(retiredKeys.begin(), retiredKeys.end(),
                    [&](const QString& key) { return defaults.contains(key); })) {
        prefs.save(defaults);
    }
    return prefs;
}

QStringList Preferences::parseExtensions(const QString& text) {
    static const QStringList separators{QStringLiteral(","), QStringLiteral(";"),
                                        QStringLiteral(" "), QStringLiteral("\n"),
                                        QStringLiteral("\t")};
    QStringList pieces;
    QString current;
    for (const QString& character : Text::characters(text)) {
        if (separators.contains(character)) {
            if (!current.isEmpty()) {
                pieces.append(current);
            }
            current.clear();
        } else {
            current += character;
        }
    }
    if (!current.isEmpty()) {
        pieces.append(current);
    }

    QStringList out;
    QSet<QString> seen;
    for (QString piece : pieces) {
        qsizetype begin = 0;
        qsizetype end = piece.size();
        while (begin < end && piece.at(begin) == u'.') {
            ++begin;
        }
        while (end > begin && piece.at(end - 1) == u'.') {
            --end;
        }
        piece = piece.mid(begin, end - begin).toLower();
        if (piece.isEmpty()) {
            continue;
        }
        const QStringList chars = Text::characters(piece);
        if (!std::all_of(chars.begin(), chars.end(), isLetterOrNumberChar)) {
            continue;
        }
        if (!seen.contains(piece)) {
            seen.insert(piece);
            out.append(piece);
        }
    }
    return out;
}

qint64 Preferences::whole(const QString& typed, qint64 current, ClosedRange<qint64> range) {
    const QStringList chars = Text::characters(Text::trimBlanks(typed));
    if (chars.isEmpty()) {
        return current;
    }
    const QString& first = chars.front();
    if (!isNumberChar(first) && first != u"-") {
        return current;
    }
    qsizetype runEnd = 1;
    while (runEnd < chars.size() && isNumberChar(chars.at(runEnd))) {
        ++runEnd;
    }
    if (first == u"-") {
        return runEnd > 1 ? range.lower : current;
    }
    // Read the digits; anything but ASCII digits, or too many of them, reads as "too large".
    qint64 value = 0;
    bool reads = true;
    for (qsizetype i = 0; i < runEnd && reads; ++i) {
        const QString& c = chars.at(i);
        if (c.size() != 1 || c.at(0) < u'0' || c.at(0) > u'9') {
            reads = false;
            break;
        }
        const int digit = c.at(0).unicode() - u'0';
        if (value > (std::numeric_limits<qint64>::max() - digit) / 10) {
            reads = false;
            break;
        }
        value = value * 10 + digit;
    }
    if (!reads) {
        return range.upper;
    }
    return range.clamp(value);
}

} // namespace ostrel
