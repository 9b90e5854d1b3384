#pragma once

// The transcript line parser as it was when it decoded every line with QJsonDocument, kept only
// as the reference the skimming parser is checked against, by the differential test and the fuzz
// target. Whatever this yields for a line, TranscriptParser must yield too.
#include "OstrelCore/Engine/TranscriptParser.h"
#include "OstrelCore/Records/Prompt.h"
#include "OstrelCore/Records/Text.h"

#include <QByteArrayView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace ostrel::test::reference {

inline std::optional<QString> stringValue(const QJsonObject& object, QLatin1String key) {
    const QJsonValue value = object.value(key);
    if (!value.isString()) {
        return std::nullopt;
    }
    return value.toString();
}

// A path holding U+0000 is never taken.
inline std::optional<QString> pathValue(const QJsonObject& object, QLatin1String key) {
    auto value = stringValue(object, key);
    if (value && value->contains(QChar(u'\0'))) {
        return std::nullopt;
    }
    return value;
}

inline bool flagValue(const QJsonObject& object, QLatin1String key) {
    const QJsonValue value = object.value(key);
    return value.isBool() && value.toBool();
}

inline bool isTrimmable(char32_t c) {
    return Text::isBlank(c) || Text::isNewline(c);
}

// Trims white space and line breaks at both ends.
inline QString trimmed(const QString& text) {
    const auto scalars = text.toUcs4();
    qsizetype begin = 0;
    qsizetype end = scalars.size();
    while (begin < end && isTrimmable(scalars[begin])) {
        ++begin;
    }
    while (end > begin && isTrimmable(scalars[end - 1])) {
        --end;
    }
    if (begin == 0 && end == scalars.size()) {
        return text;
    }
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(scalars.constData()) + begin,
                             end - begin);
}

inline std::optional<QString> promptText(const QJsonValue& content) {
    std::optional<QString> text;
    if (content.isString()) {
        text = content.toString();
    } else if (content.isArray()) {
        const QJsonArray items = content.toArray();
        for (const QJsonValue& item : items) {
            const QJsonObject object = item.toObject();
            if (item.isObject() && object.value(QLatin1String("type")) == QLatin1String("text")) {
                text = stringValue(object, QLatin1String("text"));
                break;
            }
        }
    }
    if (!text) {
        return std::nullopt;
    }
    const QString clean = trimmed(*text);
    if (clean.isEmpty() || clean.startsWith(QLatin1String("<local-command")) ||
        clean.startsWith(QLatin1String("<command-")) ||
        clean.startsWith(QLatin1String("[Request interrupted"))) {
        return std::nullopt;
    }
    return Prompt::summarize(clean);
}

inline void readImages(const QJsonObject& result, const std::optional<QString>& toolUseID,
                       TranscriptRecord& record) {
    const QJsonValue content = result.value(QLatin1String("content"));
    if (!content.isArray()) {
        return;
    }
    const QJsonArray blocks = content.toArray();
    // Like the message content, a result's content counts only as a list of objects throughout.
    for (const QJsonValue& blockValue : blocks) {
        if (!blockValue.isObject()) {
            return;
        }
    }
    for (const QJsonValue& blockValue : blocks) {
        const QJsonObject block = blockValue.toObject();
        if (block.value(QLatin1String("type")) != QLatin1String("image")) {
            continue;
        }
        const QJsonValue sourceValue = block.value(QLatin1String("source"));
        if (!sourceValue.isObject()) {
            continue;
        }
        const QJsonObject source = sourceValue.toObject();
        if (source.value(QLatin1String("type")) != QLatin1String("base64")) {
            continue;
        }
        const auto data = stringValue(source, QLatin1String("data"));
        if (!data || data->isEmpty()) {
            continue;
        }
        TranscriptImage image;
        image.base64 = data->toUtf8();
        image.mediaType =
            stringValue(source, QLatin1String("media_type")).value_or(QStringLiteral("image/png"));
        image.toolUseID = toolUseID;
        image.sessionID = record.sessionID;
        image.cwd = record.cwd;
        image.timestamp = record.timestamp;
        record.images.append(std::move(image));
    }
}

inline std::optional<ArtifactResult> artifact(const QJsonObject& line,
                                              const std::optional<QString>& firstResultID) {
    const QJsonValue value = line.value(QLatin1String("toolUseResult"));
    if (!value.isObject()) {
        return std::nullopt;
    }
    const QJsonObject result = value.toObject();
    const auto id = stringValue(result, QLatin1String("artifact_id"));
    const auto urlText = stringValue(result, QLatin1String("url"));
    if (!id || !urlText) {
        return std::nullopt;
    }
    const QUrl url(*urlText, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().toLower() != QLatin1String("https")) {
        return std::nullopt;
    }
    return ArtifactResult{*id, url, stringValue(result, QLatin1String("title")),
                          pathValue(result, QLatin1String("path")), firstResultID};
}

inline std::optional<TranscriptRecord> record(QByteArrayView line) {
    if (!TranscriptParser::mayBeInteresting(line)) {
        return std::nullopt;
    }
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromRawData(line.data(), line.size()), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = document.object();

    TranscriptRecord record;
    record.type = stringValue(object, QLatin1String("type"));
    record.sessionID = stringValue(object, QLatin1String("sessionId"));

    if (record.type) {
        if (const auto kind = SessionTitle::kindFromRaw(*record.type)) {
            if (!record.sessionID) {
                return std::nullopt;
            }
            const auto text = object.value(SessionTitle::jsonKey(*kind));
            if (!text.isString()) {
                return std::nullopt;
            }
            record.title = SessionTitle{*record.sessionID, *kind, text.toString(), std::nullopt};
            return record;
        }
    }

    record.cwd = pathValue(object, QLatin1String("cwd"));
    record.gitBranch = stringValue(object, QLatin1String("gitBranch"));
    record.timestamp = TranscriptParser::date(stringValue(object, QLatin1String("timestamp")));
    record.promptID = stringValue(object, QLatin1String("promptId"));
    record.isMeta = flagValue(object, QLatin1String("isMeta"));
    record.isSidechain = flagValue(object, QLatin1String("isSidechain"));

    const QJsonValue messageValue = object.value(QLatin1String("message"));
    const QJsonObject message = messageValue.toObject();
    const QJsonValue content = message.value(QLatin1String("content"));
    QList<QJsonObject> items;
    if (content.isArray()) {
        const QJsonArray array = content.toArray();
        bool allObjects = true;
        for (const QJsonValue& item : array) {
            if (!item.isObject()) {
                allObjects = false;
                break;
            }
        }
        if (allObjects) {
            items.reserve(array.size());
            for (const QJsonValue& item : array) {
                items.append(item.toObject());
            }
        }
    }

    for (const QJsonObject& item : items) {
        if (item.value(QLatin1String("type")) != QLatin1String("tool_use")) {
            continue;
        }
        const auto id = stringValue(item, QLatin1String("id"));
        const auto name = stringValue(item, QLatin1String("name"));
        if (!id || !name) {
            continue;
        }
        std::optional<QString> filePath;
        const QJsonValue input = item.value(QLatin1String("input"));
        if (input.isObject()) {
            filePath = pathValue(input.toObject(), QLatin1String("file_path"));
        }
        record.toolUses.append(ToolUse{*id, *name, filePath});
    }

    const bool isUser = record.type ? *record.type == QLatin1String("user") : false;
    if (!isUser && message.value(QLatin1String("role")) != QLatin1String("user")) {
        return record;
    }

    QList<const QJsonObject*> results;
    for (const QJsonObject& item : items) {
        if (item.value(QLatin1String("type")) == QLatin1String("tool_result")) {
            results.append(&item);
        }
    }
    for (const QJsonObject* result : results) {
        if (const auto id = stringValue(*result, QLatin1String("tool_use_id"))) {
            record.toolResultIDs.append(*id);
        }
    }

    if (results.isEmpty()) {
        if (!record.isMeta && !record.isSidechain) {
            record.promptText = promptText(content);
        }
    } else {
        for (const QJsonObject* result : results) {
            readImages(*result, stringValue(*result, QLatin1String("tool_use_id")), record);
        }
    }

    std::optional<QString> firstResultID;
    if (!results.isEmpty()) {
        firstResultID = stringValue(*results.first(), QLatin1String("tool_use_id"));
    }
    record.artifact = artifact(object, firstResultID);
    return record;
}

namespace detail {

inline QString show(const std::optional<QString>& s) {
    return s ? QLatin1Char('"') + *s + QLatin1Char('"') : QStringLiteral("none");
}

inline QString show(const QString& s) {
    return show(std::optional<QString>(s));
}

inline QString show(const std::optional<Date>& d) {
    return d ? QString::number(d->seconds, 'g', 17) : QStringLiteral("none");
}

inline QString show(bool b) {
    return b ? QStringLiteral("true") : QStringLiteral("false");
}

inline QString show(const ToolUse& u) {
    return u.id + QLatin1Char('/') + u.name + QLatin1Char('/') + show(u.filePath);
}

inline QString show(const TranscriptImage& i) {
    return QStringLiteral("%1 bytes of %2 for %3 in %4, %5, %6")
        .arg(i.base64.size())
        .arg(i.mediaType, show(i.toolUseID), show(i.sessionID), show(i.cwd), show(i.timestamp));
}

inline QString show(const std::optional<ArtifactResult>& a) {
    if (!a) {
        return QStringLiteral("none");
    }
    return a->id + QLatin1Char(' ') + a->url.toString() + QLatin1Char(' ') + show(a->title) +
           QLatin1Char(' ') + show(a->path) + QLatin1Char(' ') + show(a->toolUseID);
}

inline QString show(const std::optional<SessionTitle>& t) {
    if (!t) {
        return QStringLiteral("none");
    }
    return t->sessionID + QLatin1Char(' ') + SessionTitle::rawValue(t->kind) + QLatin1Char(' ') +
           t->text + QLatin1Char(' ') + show(t->slug);
}

template <typename T> QString show(const QList<T>& list) {
    QStringList parts;
    for (const T& item : list) {
        parts.append(show(item));
    }
    return QLatin1Char('[') + parts.join(QStringLiteral(", ")) + QLatin1Char(']');
}

template <typename T>
void compare(QStringList& out, const char* field, const T& expected, const T& actual) {
    if (!(expected == actual)) {
        out.append(QStringLiteral("%1: expected %2, got %3")
                       .arg(QLatin1String(field), show(expected), show(actual)));
    }
}

} // namespace detail

// Every field in which `actual` differs from `expected`, one line each; empty when they agree.
inline QString difference(const std::optional<TranscriptRecord>& expected,
                          const std::optional<TranscriptRecord>& actual) {
    if (!expected || !actual) {
        if (bool(expected) == bool(actual)) {
            return {};
        }
        return expected ? QStringLiteral("expected a record, got none")
                        : QStringLiteral("expected no record, got one");
    }
    const TranscriptRecord& e = *expected;
    const TranscriptRecord& a = *actual;
    QStringList out;
    detail::compare(out, "type", e.type, a.type);
    detail::compare(out, "sessionID", e.sessionID, a.sessionID);
    detail::compare(out, "cwd", e.cwd, a.cwd);
    detail::compare(out, "gitBranch", e.gitBranch, a.gitBranch);
    detail::compare(out, "timestamp", e.timestamp, a.timestamp);
    detail::compare(out, "promptID", e.promptID, a.promptID);
    detail::compare(out, "isMeta", e.isMeta, a.isMeta);
    detail::compare(out, "isSidechain", e.isSidechain, a.isSidechain);
    detail::compare(out, "promptText", e.promptText, a.promptText);
    detail::compare(out, "toolUses", e.toolUses, a.toolUses);
    detail::compare(out, "toolResultIDs", e.toolResultIDs, a.toolResultIDs);
    detail::compare(out, "images", e.images, a.images);
    detail::compare(out, "artifact", e.artifact, a.artifact);
    detail::compare(out, "title", e.title, a.title);
    return out.join(QLatin1Char('\n'));
}

} // namespace ostrel::test::reference
