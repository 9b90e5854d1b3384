#include "OstrelCore/Engine/TranscriptParser.h"

#include "OstrelCore/Records/Prompt.h"
#include "OstrelCore/Records/Text.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QRegularExpression>

#include <array>
#include <cstring>
#include <string_view>

namespace ostrel {

namespace {

// The needles are written the way the assistant writes its lines: compact JSON, no space after
// the colon. A line written otherwise is of no interest by design.
constexpr std::string_view imageNeedle = R"("type":"image")";
constexpr std::array<std::string_view, 2> recordNeedles{R"("type":"user")", R"("tool_use")"};
constexpr std::array<std::string_view, 3> titleNeedles{
    R"("type":"agent-name")", R"("type":"custom-title")", R"("type":"ai-title")"};

bool contains(QByteArrayView haystack, std::string_view needle) {
    if (haystack.size() < static_cast<qsizetype>(needle.size())) {
        return false;
    }
    // glibc's memmem is a vectorised two-way search: far faster than a byte loop on long lines.
    return ::memmem(haystack.data(), static_cast<size_t>(haystack.size()), needle.data(),
                    needle.size()) != nullptr;
}

std::optional<QString> stringValue(const QJsonObject& object, QLatin1String key) {
    const QJsonValue value = object.value(key);
    if (!value.isString()) {
        return std::nullopt;
    }
    return value.toString();
}

bool flagValue(const QJsonObject& object, QLatin1String key) {
    const QJsonValue value = object.value(key);
    return value.isBool() && value.toBool();
}

bool isTrimmable(char32_t c) {
    return Text::isBlank(c) || Text::isNewline(c);
}

// Trims white space and line breaks at both ends.
QString trimmed(const QString& text) {
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

std::optional<QString> promptText(const QJsonValue& content) {
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

void readImages(const QJsonObject& result, const std::optional<QString>& toolUseID,
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
        image.base64 = *data;
        image.mediaType =
            stringValue(source, QLatin1String("media_type")).value_or(QStringLiteral("image/png"));
        image.toolUseID = toolUseID;
        image.sessionID = record.sessionID;
        image.cwd = record.cwd;
        image.timestamp = record.timestamp;
        record.images.append(std::move(image));
    }
}

std::optional<ArtifactResult> artifact(const QJsonObject& line,
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
                          stringValue(result, QLatin1String("path")), firstResultID};
}

} // namespace

bool TranscriptParser::mayContainImage(QByteArrayView bytes) {
    return contains(bytes, imageNeedle);
}

bool TranscriptParser::mayBeInteresting(QByteArrayView bytes) {
    for (const auto needle : recordNeedles) {
        if (contains(bytes, needle)) {
            return true;
        }
    }
    return mayBeTitle(bytes);
}

bool TranscriptParser::mayBeTitle(QByteArrayView bytes) {
    for (const auto needle : titleNeedles) {
        if (contains(bytes, needle)) {
            return true;
        }
    }
    return false;
}

std::optional<Date> TranscriptParser::date(const std::optional<QString>& text) {
    if (!text) {
        return std::nullopt;
    }
    // Qt alone accepts more than an internet date-time (a missing zone reads as local time), so
    // the form is checked first. ASCII digits only: \d would take any Unicode digit.
    static const QRegularExpression form(QStringLiteral(
        R"(^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}(\.[0-9]+)?(Z|[+-][0-9]{2}:[0-9]{2})$)"));
    if (!form.match(*text).hasMatch()) {
        return std::nullopt;
    }
    const QDateTime parsed = QDateTime::fromString(*text, Qt::ISODateWithMs);
    if (!parsed.isValid()) {
        return std::nullopt;
    }
    // Whole milliseconds first, so that the reference shift itself adds no rounding.
    constexpr qint64 referenceMs = 978307200000;
    return Date(static_cast<double>(parsed.toMSecsSinceEpoch() - referenceMs) / 1000.0);
}

std::optional<TranscriptRecord> TranscriptParser::record(QByteArrayView line) {
    if (!mayBeInteresting(line)) {
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

    record.cwd = stringValue(object, QLatin1String("cwd"));
    record.gitBranch = stringValue(object, QLatin1String("gitBranch"));
    record.timestamp = date(stringValue(object, QLatin1String("timestamp")));
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
            filePath = stringValue(input.toObject(), QLatin1String("file_path"));
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

std::optional<TranscriptRecord> TranscriptParser::record(const QString& line) {
    return record(QByteArrayView(line.toUtf8()));
}

QList<TranscriptImage> TranscriptParser::images(const QString& line) {
    const QByteArray bytes = line.toUtf8();
    if (!mayContainImage(bytes)) {
        return {};
    }
    if (auto found = record(QByteArrayView(bytes))) {
        return std::move(found->images);
    }
    return {};
}

} // namespace ostrel
