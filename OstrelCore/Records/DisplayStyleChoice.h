#pragma once

#include <QString>
#include <QStringList>

#include <algorithm>
#include <array>
#include <optional>

namespace ostrel {

// A screen edge.
enum class DisplayStylePosition { left, top, right, bottom };

inline constexpr std::array<DisplayStylePosition, 4> allDisplayStylePositions{
    DisplayStylePosition::left, DisplayStylePosition::top, DisplayStylePosition::right,
    DisplayStylePosition::bottom};

constexpr bool isSide(DisplayStylePosition p) {
    return p == DisplayStylePosition::left || p == DisplayStylePosition::right;
}

// The edge a pill can sit at.
enum class PillSide { left, bottom, right };

inline constexpr std::array<PillSide, 3> allPillSides{PillSide::left, PillSide::bottom,
                                                      PillSide::right};

constexpr DisplayStylePosition position(PillSide side) {
    switch (side) {
    case PillSide::left:
        return DisplayStylePosition::left;
    case PillSide::bottom:
        return DisplayStylePosition::bottom;
    case PillSide::right:
        return DisplayStylePosition::right;
    }
    return DisplayStylePosition::bottom;
}

// What the user chose: the notch, or a pill at one edge. Stored as "notch" or "pill-<side>".
class DisplayStyleChoice {
public:
    static constexpr DisplayStyleChoice notch() { return DisplayStyleChoice(); }
    static constexpr DisplayStyleChoice pill(PillSide side) { return DisplayStyleChoice(side); }
    static constexpr DisplayStyleChoice defaultChoice() { return notch(); }

    constexpr bool isPill() const { return side_.has_value(); }
    // The pill's edge; none for the notch.
    constexpr std::optional<PillSide> pillSide() const { return side_; }

    QString rawValue() const;
    // "notch", or "pill-" and exactly a side's raw text; anything else gives none.
    static std::optional<DisplayStyleChoice> fromRawValue(const QString& raw);
    // One style from the per-display style texts that earlier versions saved.
    static DisplayStyleChoice migrate(const QStringList& perDisplay);

    friend constexpr bool operator==(const DisplayStyleChoice&,
                                     const DisplayStyleChoice&) = default;

private:
    constexpr DisplayStyleChoice() = default;
    constexpr explicit DisplayStyleChoice(PillSide side) : side_(side) {}

    std::optional<PillSide> side_;
};

inline QString rawValue(DisplayStylePosition p) {
    switch (p) {
    case DisplayStylePosition::left:
        return QStringLiteral("left");
    case DisplayStylePosition::top:
        return QStringLiteral("top");
    case DisplayStylePosition::right:
        return QStringLiteral("right");
    case DisplayStylePosition::bottom:
        return QStringLiteral("bottom");
    }
    return {};
}

inline std::optional<DisplayStylePosition> displayStylePositionFromRaw(const QString& raw) {
    for (const auto p : allDisplayStylePositions) {
        if (rawValue(p) == raw) {
            return p;
        }
    }
    return std::nullopt;
}

inline QString rawValue(PillSide side) {
    return rawValue(position(side));
}

inline std::optional<PillSide> pillSideFromRaw(const QString& raw) {
    for (const auto side : allPillSides) {
        if (rawValue(side) == raw) {
            return side;
        }
    }
    return std::nullopt;
}

inline QString DisplayStyleChoice::rawValue() const {
    if (!side_) {
        return QStringLiteral("notch");
    }
    return QStringLiteral("pill-") + ostrel::rawValue(*side_);
}

inline std::optional<DisplayStyleChoice> DisplayStyleChoice::fromRawValue(const QString& raw) {
    if (raw == u"notch") {
        return notch();
    }
    if (raw.startsWith(QStringLiteral("pill-"))) {
        if (const auto side = pillSideFromRaw(raw.mid(5))) {
            return pill(*side);
        }
    }
    return std::nullopt;
}

inline DisplayStyleChoice DisplayStyleChoice::migrate(const QStringList& perDisplay) {
    QStringList sorted = perDisplay;
    // Plain code-unit order: the retired texts are ASCII.
    std::sort(sorted.begin(), sorted.end());
    for (const QString& text : sorted) {
        if (text == u"dock" || text == u"pill-top") {
            return pill(PillSide::bottom);
        }
        if (text.startsWith(QStringLiteral("pill-"))) {
            if (const auto side = pillSideFromRaw(text.mid(5))) {
                return pill(*side);
            }
        }
    }
    return notch();
}

} // namespace ostrel
