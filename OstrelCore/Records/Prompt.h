#pragma once

#include "Platform/Date.h"

#include <QJsonObject>
#include <QString>

#include <optional>

namespace ostrel {

class JsonWriter;

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

    // Compact JSON with the keys in ascending order, as the index stores it.
    void write(JsonWriter& out) const;
    QJsonObject toJson() const;
    static std::optional<Prompt> fromJson(const QJsonValue& value);
};

} // namespace ostrel
