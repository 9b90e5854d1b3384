#pragma once

#include "OstrelCore/Records/JsonWriter.h"
#include "Platform/Date.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QUrl>

#include <cmath>
#include <limits>
#include <optional>

// Strict readers for the persisted records: a value of the wrong JSON type never reads as a
// default (Qt's own accessors turn a number into "" and a string into 0).
namespace ostrel::Json {

// The outcome of reading one field: absent (missing or null), present, or of the wrong type.
template <typename T> struct Field {
    bool ok = true;
    std::optional<T> value;
};

inline bool isAbsent(const QJsonValue& v) {
    return v.isUndefined() || v.isNull();
}

inline Field<QString> string(const QJsonObject& o, const QString& key) {
    const QJsonValue v = o.value(key);
    if (isAbsent(v)) {
        return {};
    }
    if (!v.isString()) {
        return {false, std::nullopt};
    }
    return {true, v.toString()};
}

inline Field<Date> date(const QJsonValue& v) {
    if (isAbsent(v)) {
        return {};
    }
    if (!v.isDouble()) {
        return {false, std::nullopt};
    }
    return {true, Date(v.toDouble())};
}

inline Field<Date> date(const QJsonObject& o, const QString& key) {
    return date(o.value(key));
}

// A JSON integer: a number with no fraction that fits 64 bits.
inline Field<qint64> integer(const QJsonObject& o, const QString& key) {
    const QJsonValue v = o.value(key);
    if (isAbsent(v)) {
        return {};
    }
    if (!v.isDouble()) {
        return {false, std::nullopt};
    }
    const double d = v.toDouble();
    if (!std::isfinite(d) || std::floor(d) != d) {
        return {false, std::nullopt};
    }
    constexpr qint64 sentinel = std::numeric_limits<qint64>::min();
    const qint64 i = v.toInteger(sentinel);
    if (i == sentinel && d != static_cast<double>(sentinel)) {
        return {false, std::nullopt};
    }
    return {true, i};
}

inline Field<QUrl> url(const QJsonObject& o, const QString& key) {
    const auto s = string(o, key);
    if (!s.ok || !s.value) {
        return {s.ok, std::nullopt};
    }
    const QUrl u(*s.value, QUrl::StrictMode);
    if (!u.isValid() || u.isRelative()) {
        return {false, std::nullopt};
    }
    return {true, u};
}

// A record's JSON object, through the same writer the index files use.
template <typename Record> QJsonObject objectOf(const Record& record);

// Dates are written as the exact double; QJsonDocument prints the shortest text that reads back.
inline QJsonValue fromDate(Date d) {
    return QJsonValue(d.seconds);
}
inline QString fromUrl(const QUrl& u) {
    return u.toString(QUrl::FullyEncoded);
}

template <typename Record> QJsonObject objectOf(const Record& record) {
    JsonWriter out;
    record.write(out);
    return QJsonDocument::fromJson(out.take()).object();
}

} // namespace ostrel::Json
