#pragma once

#include <QString>
#include <QStringList>

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
QString rawValue(DisplayStylePosition p);
std::optional<DisplayStylePosition> displayStylePositionFromRaw(const QString& raw);

// The edge a pill can sit at.
enum class PillSide { left, bottom, right };

inline constexpr std::array<PillSide, 3> allPillSides{PillSide::left, PillSide::bottom,
                                                      PillSide::right};

QString rawValue(PillSide side);
std::optional<PillSide> pillSideFromRaw(const QString& raw);
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

} // namespace ostrel
