#pragma once

#include "Platform/Date.h"

#include <QJsonObject>
#include <QString>

#include <optional>

namespace ostrel {

// One user prompt of a session.
struct Prompt {
    static constexpr qsizetype summaryLimit = 220;

    QString id;
    QString sessionID;
    Date at;
    QString text;

    // The first non-blank line, trimmed, cut to `summaryLimit` characters with an ellipsis.
    static QString summarize(const QString& text);

    friend bool operator==(const Prompt&, const Prompt&) = default;

    QJsonObject toJson() const;
    static std::optional<Prompt> fromJson(const QJsonValue& value);
};

} // namespace ostrel
