#pragma once

#include "OstrelCore/Records/ShelfItem.h"

namespace ostrel {

class JsonWriter;

// A hidden item kept whole, with when it was hidden.
struct HiddenRecord {
    ShelfItem item;
    Date hiddenAt;

    friend bool operator==(const HiddenRecord&, const HiddenRecord&) = default;

    // Compact JSON with the keys in ascending order, as the index stores it.
    void write(JsonWriter& out) const;
    QJsonObject toJson() const;
    static std::optional<HiddenRecord> fromJson(const QJsonValue& value);
};

} // namespace ostrel
