#pragma once

#include <QByteArray>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// Transcript lines the way Claude Code writes them: one compact JSON object per line, appended as
// the session runs, the newest line possibly still without its newline.
namespace ostrel::test::lines {

inline QByteArray compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

struct Context {
    QString sessionID = QStringLiteral("5b7e0c7e-1f8a-4a55-9a3e-3c2f4b1d9e01");
    QString cwd = QStringLiteral("/home/ada/src/ostrel");
    QString branch = QStringLiteral("main");
    QString timestamp = QStringLiteral("2025-06-01T10:00:00.123Z");
};

inline QJsonObject envelope(const Context& c, const QString& type) {
    return QJsonObject{
        {QStringLiteral("parentUuid"), QJsonValue::Null},
        {QStringLiteral("isSidechain"), false},
        {QStringLiteral("userType"), QStringLiteral("external")},
        {QStringLiteral("cwd"), c.cwd},
        {QStringLiteral("sessionId"), c.sessionID},
        {QStringLiteral("version"), QStringLiteral("1.0.71")},
        {QStringLiteral("gitBranch"), c.branch},
        {QStringLiteral("type"), type},
        {QStringLiteral("uuid"), QStringLiteral("0c1d8f3e-aaaa-4bbb-8ccc-000000000001")},
        {QStringLiteral("timestamp"), c.timestamp}};
}

// A prompt the user typed.
inline QByteArray prompt(const Context& c, const QString& text, const QString& promptID) {
    QJsonObject o = envelope(c, QStringLiteral("user"));
    o.insert(QStringLiteral("message"),
             QJsonObject{{QStringLiteral("role"), QStringLiteral("user")},
                         {QStringLiteral("content"), text}});
    o.insert(QStringLiteral("promptId"), promptID);
    return compact(o);
}

// Assistant text without any tool call: the bulk of a transcript, of no interest.
inline QByteArray assistantText(const Context& c, const QString& text) {
    QJsonObject o = envelope(c, QStringLiteral("assistant"));
    o.insert(QStringLiteral("message"),
             QJsonObject{{QStringLiteral("id"), QStringLiteral("msg_01")},
                         {QStringLiteral("type"), QStringLiteral("message")},
                         {QStringLiteral("role"), QStringLiteral("assistant")},
                         {QStringLiteral("model"), QStringLiteral("claude-opus-4-1")},
                         {QStringLiteral("content"),
                          QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("text")},
                                                 {QStringLiteral("text"), text}}}}});
    return compact(o);
}

// The assistant calling a tool, e.g. "Read" with a file path.
inline QByteArray toolUse(const Context& c, const QString& id, const QString& name,
                          const std::optional<QString>& filePath) {
    QJsonObject input;
    if (filePath) {
        input.insert(QStringLiteral("file_path"), *filePath);
    }
    QJsonObject o = envelope(c, QStringLiteral("assistant"));
    o.insert(
        QStringLiteral("message"),
        QJsonObject{{QStringLiteral("role"), QStringLiteral("assistant")},
                    {QStringLiteral("content"),
                     QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("tool_use")},
                                            {QStringLiteral("id"), id},
                                            {QStringLiteral("name"), name},
                                            {QStringLiteral("input"), input}}}}});
    return compact(o);
}

inline QJsonObject imageBlock(const QString& base64, const std::optional<QString>& mediaType) {
    QJsonObject source{{QStringLiteral("type"), QStringLiteral("base64")},
                       {QStringLiteral("data"), base64}};
    if (mediaType) {
        source.insert(QStringLiteral("media_type"), *mediaType);
    }
    return QJsonObject{{QStringLiteral("type"), QStringLiteral("image")},
                       {QStringLiteral("source"), source}};
}

inline QJsonObject textBlock(const QString& text) {
    return QJsonObject{{QStringLiteral("type"), QStringLiteral("text")},
                       {QStringLiteral("text"), text}};
}

// The result of a tool call, its content a list of blocks (text, images) or a plain string.
inline QJsonObject toolResultItem(const QString& toolUseID, const QJsonValue& content) {
    return QJsonObject{{QStringLiteral("tool_use_id"), toolUseID},
                       {QStringLiteral("type"), QStringLiteral("tool_result")},
                       {QStringLiteral("content"), content}};
}

inline QByteArray toolResults(const Context& c, const QJsonArray& items,
                              const std::optional<QJsonObject>& toolUseResult = std::nullopt,
                              const std::optional<QString>& promptID = std::nullopt) {
    QJsonObject o = envelope(c, QStringLiteral("user"));
    o.insert(QStringLiteral("message"),
             QJsonObject{{QStringLiteral("role"), QStringLiteral("user")},
                         {QStringLiteral("content"), items}});
    if (toolUseResult) {
        o.insert(QStringLiteral("toolUseResult"), *toolUseResult);
    }
    if (promptID) {
        o.insert(QStringLiteral("promptId"), *promptID);
    }
    return compact(o);
}

inline QByteArray toolResult(const Context& c, const QString& toolUseID, const QJsonValue& content,
                             const std::optional<QString>& promptID = std::nullopt) {
    return toolResults(c, QJsonArray{toolResultItem(toolUseID, content)}, std::nullopt, promptID);
}

// What publishing an artifact reports.
inline QJsonObject artifactResult(const QString& id, const QString& url,
                                  const std::optional<QString>& title = std::nullopt,
                                  const std::optional<QString>& path = std::nullopt) {
    QJsonObject o{{QStringLiteral("artifact_id"), id}, {QStringLiteral("url"), url}};
    if (title) {
        o.insert(QStringLiteral("title"), *title);
    }
    if (path) {
        o.insert(QStringLiteral("path"), *path);
    }
    return o;
}

// "agent-name", "custom-title" or "ai-title" with its text key.
inline QByteArray title(const QString& sessionID, const QString& type, const QString& key,
                        const QString& text) {
    return compact(QJsonObject{
        {QStringLiteral("type"), type}, {key, text}, {QStringLiteral("sessionId"), sessionID}});
}

// Appends lines as the assistant does: each with its newline, unless `unfinished` is set for the
// last, which is then still being written.
inline void append(const QString& path, const QList<QByteArray>& lines, bool unfinished = false) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        return;
    }
    for (qsizetype i = 0; i < lines.size(); ++i) {
        file.write(lines.at(i));
        if (!(unfinished && i == lines.size() - 1)) {
            file.write("\n");
        }
    }
}

inline void appendRaw(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        file.write(bytes);
    }
}

} // namespace ostrel::test::lines
