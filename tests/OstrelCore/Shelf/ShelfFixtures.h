#pragma once

#include "OstrelCore/Records/Snapshot.h"

#include <QString>

#include <optional>
#include <ostream>

namespace ostrel::fixtures {

inline ShelfItem item(const QString& id, const QString& session, std::optional<QString> prompt,
                      double createdAt, bool unread = true,
                      ShelfItemKind kind = ShelfItemKind::image) {
    ShelfItem i;
    i.id = id;
    i.kind = kind;
    i.title = id;
    i.sessionID = session;
    i.promptID = std::move(prompt);
    i.createdAt = Date(createdAt);
    if (!unread) {
        i.seenAt = Date(createdAt + 1);
    }
    return i;
}

inline Session session(const QString& id, double startedAt, double lastActive,
                       std::optional<QString> cwd = std::nullopt) {
    return Session(id, std::nullopt, std::move(cwd), std::nullopt, Date(startedAt),
                   Date(lastActive));
}

inline Prompt prompt(const QString& id, const QString& session, double at) {
    return Prompt{id, session, Date(at), QString()};
}

} // namespace ostrel::fixtures
