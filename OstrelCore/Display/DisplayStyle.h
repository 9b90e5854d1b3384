#pragma once

#include "OstrelCore/Records/DisplayStyleChoice.h"

#include <QString>

#include <optional>

namespace ostrel {

// The style one particular screen shows: the user's choice, resolved against the screen's camera
// housing. Without a housing the notch becomes a drawn, virtual notch opened from the top edge.
class DisplayStyle {
public:
    static constexpr DisplayStyle notch() { return DisplayStyle(Kind::notch, PillSide::bottom); }
    static constexpr DisplayStyle hoverNotch() {
        return DisplayStyle(Kind::hoverNotch, PillSide::bottom);
    }
    static constexpr DisplayStyle pill(PillSide side) { return DisplayStyle(Kind::pill, side); }

    constexpr bool isPill() const { return kind_ == Kind::pill; }
    constexpr bool isHoverNotch() const { return kind_ == Kind::hoverNotch; }
    constexpr bool isNotch() const { return kind_ == Kind::notch; }
    constexpr std::optional<PillSide> pillSide() const {
        return isPill() ? std::optional<PillSide>(side_) : std::nullopt;
    }
    constexpr DisplayStylePosition position() const {
        return isPill() ? ostrel::position(side_) : DisplayStylePosition::top;
    }

    friend constexpr bool operator==(const DisplayStyle&, const DisplayStyle&) = default;

private:
    enum class Kind { pill, notch, hoverNotch };
    // The side is kept at one fixed value for the notch kinds so that equality stays plain.
    constexpr DisplayStyle(Kind kind, PillSide side) : kind_(kind), side_(side) {}

    Kind kind_;
    PillSide side_;
};

// The style a screen shows for the user's choice.
constexpr DisplayStyle style(const DisplayStyleChoice& choice, bool hasNotch) {
    if (const auto side = choice.pillSide()) {
        return DisplayStyle::pill(*side);
    }
    return hasNotch ? DisplayStyle::notch() : DisplayStyle::hoverNotch();
}

// The edge the desktop's panel sits at.
enum class DockSide { left, bottom, right };

inline QString rawValue(DockSide side) {
    switch (side) {
    case DockSide::left:
        return QStringLiteral("left");
    case DockSide::bottom:
        return QStringLiteral("bottom");
    case DockSide::right:
        return QStringLiteral("right");
    }
    return {};
}

inline std::optional<DockSide> dockSideFromRaw(const QString& raw) {
    for (const auto side : {DockSide::left, DockSide::bottom, DockSide::right}) {
        if (rawValue(side) == raw) {
            return side;
        }
    }
    return std::nullopt;
}

} // namespace ostrel
