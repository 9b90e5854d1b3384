#include "OstrelCore/Display/DisplayStyleChoice.h"

#include <algorithm>

namespace ostrel {

QString rawValue(DisplayStylePosition p) {
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

std::optional<DisplayStylePosition> displayStylePositionFromRaw(const QString& raw) {
    for (const auto p : allDisplayStylePositions) {
        if (rawValue(p) == raw) {
            return p;
        }
    }
    return std::nullopt;
}

QString rawValue(PillSide side) { return rawValue(position(side)); }

std::optional<PillSide> pillSideFromRaw(const QString& raw) {
    for (const auto side : allPillSides) {
        if (rawValue(side) == raw) {
            return side;
        }
    }
    return std::nullopt;
}

namespace {
const QString pillPrefix = QStringLiteral("pill-");
}

QString DisplayStyleChoice::rawValue() const {
    if (!side_) {
        return QStringLiteral("notch");
    }
    return pillPrefix + ostrel::rawValue(*side_);
}

std::optional<DisplayStyleChoice> DisplayStyleChoice::fromRawValue(const QString& raw) {
    if (raw == u"notch") {
        return notch();
    }
    if (raw.startsWith(pillPrefix)) {
        if (const auto side = pillSideFromRaw(raw.mid(pillPrefix.size()))) {
            return pill(*side);
        }
    }
    return std::nullopt;
}

DisplayStyleChoice DisplayStyleChoice::migrate(const QStringList& perDisplay) {
    QStringList sorted = perDisplay;
    // Plain code-unit order: the retired texts are ASCII.
    std::sort(sorted.begin(), sorted.end());
    for (const QString& text : sorted) {
        if (text == u"dock" || text == u"pill-top") {
            return pill(PillSide::bottom);
        }
        if (text.startsWith(pillPrefix)) {
            if (const auto side = pillSideFromRaw(text.mid(pillPrefix.size()))) {
                return pill(*side);
            }
        }
    }
    return notch();
}

} // namespace ostrel
