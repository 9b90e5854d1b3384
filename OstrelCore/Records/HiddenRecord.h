#pragma once

#include "OstrelCore/Records/ShelfItem.h"

namespace ostrel {

// A hidden item kept whole, with when it was hidden.
struct HiddenRecord {
    ShelfItem item;
    Date hiddenAt;

    friend bool operator==(const HiddenRecord&, const HiddenRecord&) = default;

    QJsonObject toJson() const;
    static std::optional<HiddenRecord> fromJson(const QJsonValue& value);
};

} // namespace ostrel
