#include "OstrelCore/Records/HiddenRecord.h"

#include "OstrelCore/Records/Json.h"

namespace ostrel {

QJsonObject HiddenRecord::toJson() const {
    QJsonObject o;
    o.insert(QStringLiteral("item"), item.toJson());
    o.insert(QStringLiteral("hiddenAt"), Json::fromDate(hiddenAt));
    return o;
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
