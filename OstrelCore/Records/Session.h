#pragma once

#include "Platform/Date.h"

#include <QJsonObject>
#include <QString>
#include <QTimeZone>

#include <optional>

namespace ostrel {

class JsonWriter;

// One coding-assistant session, as its transcript shows it.
struct Session {
    // The catch-all session of items whose session is not known.
    static inline const QString unsortedID = QStringLiteral("unsorted");

    QString id;
    std::optional<QString> slug;
    std::optional<QString> cwd;
    std::optional<QString> branch;
    Date startedAt;
    Date lastActive;
    std::optional<QString> agentName;
    std::optional<QString> customTitle;
    std::optional<QString> aiTitle;
    std::optional<QString> firstPrompt;
    std::optional<Date> firstPromptAt;

    Session() = default;
    Session(QString id, std::optional<QString> slug, std::optional<QString> cwd,
            std::optional<QString> branch, Date startedAt, Date lastActive)
        : id(std::move(id)), slug(std::move(slug)), cwd(std::move(cwd)), branch(std::move(branch)),
          startedAt(startedAt), lastActive(lastActive) {}

    // The first of the agent name, custom title, generated title and first prompt that has any
    // text, its lines joined by one space.
    std::optional<QString> name() const;
    // The project folder's name, never empty.
    QString folder() const;
    // The branch, unless it is missing, empty or a detached "HEAD".
    std::optional<QString> branchLabel() const;

    // "HH:mm" when the session started on the day of `now`, else "EEE HH:mm", in `zone`.
    QString startText(Date now, const QTimeZone& zone) const;

    struct RowDetail {
        std::optional<QString> context;
        QString time;
    };
    RowDetail rowDetail(Date now, const QTimeZone& zone) const;

    friend bool operator==(const Session&, const Session&) = default;

    // Compact JSON with the keys in ascending order, as the index stores it.
    void write(JsonWriter& out) const;
    QJsonObject toJson() const;
    static std::optional<Session> fromJson(const QJsonValue& value);
};

} // namespace ostrel
