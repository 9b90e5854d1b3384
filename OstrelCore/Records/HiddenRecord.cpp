#include "OstrelCore/Records/HiddenRecord.h"

#include "OstrelCore/Records/Json.h"

namespace ostrel {

void HiddenRecord::write(JsonWriter& out) const {
    out.beginObject();
    out.key(u"hiddenAt");
    out.date(hiddenAt);
    out.key(u"item");
    item.write(out);
    out.endObject();
}

QJsonObject HiddenRecord::toJson() const {
    return Json::objectOf(*this);
}

std::optional<HiddenRecord> HiddenRecord::fromJson(const QJsonValue& value) {
    if (!value.isObject()) {
        return std::nullopt;
    }
    const QJsonObject o = value.toObject();
    const auto item = ShelfItem::fromJson(o.value(QStringLiteral("item")));
    const auto at = Json::date(o, QStringLiteral("hiddenAt"));
    if (!item || !at.value) {
        return std::nullopt;
    }
    return HiddenRecord{*item, *at.value};
}

} // namespace ostrel
