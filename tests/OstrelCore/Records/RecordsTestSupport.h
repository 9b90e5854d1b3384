#pragma once

#include "OstrelCore/Records/Prompt.h"
#include "OstrelCore/Records/Session.h"
#include "OstrelCore/Records/ShelfItem.h"

#include "support/FileSizeLimit.h"

#include <QJsonDocument>

namespace ostrel::test {

inline ShelfItem makeItem(const QString& id, double createdAt, const QString& session = "s1") {
    ShelfItem item;
    item.id = id;
    item.kind = ShelfItemKind::image;
    item.title = id;
    item.sessionID = session;
    item.sourceKinds = {Source::scratchpad};
    item.createdAt = Date(createdAt);
    return item;
}

inline Prompt makePrompt(const QString& id, const QString& session, double at) {
    return Prompt{id, session, Date(at), QStringLiteral("prompt ") + id};
}

inline Session makeSession(const QString& id, double started, double last) {
    return Session(id, std::nullopt, std::nullopt, std::nullopt, Date(started), Date(last));
}

inline QJsonObject parseObject(const QByteArray& json) {
    return QJsonDocument::fromJson(json).object();
}

} // namespace ostrel::test
