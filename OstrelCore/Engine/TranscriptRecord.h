#pragma once

#include "Platform/Date.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <array>
#include <optional>

namespace ostrel {

// A tool call the assistant made.
struct ToolUse {
    QString id;
    // For example "Read".
    QString name;
    // "input" → "file_path".
    std::optional<QString> filePath;

    friend bool operator==(const ToolUse&, const ToolUse&) = default;
};

// One base64 image block carried by a tool result. The text is kept undecoded, in the UTF-8 it
// has in the transcript: decoding, and its failure, belong to ingest.
struct TranscriptImage {
    QByteArray base64;
    // "image/png" when the block names none.
    QString mediaType = QStringLiteral("image/png");
    std::optional<QString> toolUseID;
    std::optional<QString> sessionID;
    std::optional<QString> cwd;
    std::optional<Date> timestamp;

    // "jpg", "gif" or "webp" for exactly those media types; "png" for any other.
    QString fileExtension() const;
    // Strict base64: any character outside the alphabet, white space included, fails.
    std::optional<QByteArray> data() const;

    friend bool operator==(const TranscriptImage&, const TranscriptImage&) = default;
};

// An artifact the assistant published: always an https link.
struct ArtifactResult {
    QString id;
    QUrl url;
    std::optional<QString> title;
    std::optional<QString> path;
    // The tool result of the same line that reported it.
    std::optional<QString> toolUseID;

    friend bool operator==(const ArtifactResult&, const ArtifactResult&) = default;
};

// A title given to a session.
struct SessionTitle {
    enum class Kind { agentName, custom, ai };
    static constexpr std::array<Kind, 3> allKinds{Kind::agentName, Kind::custom, Kind::ai};

    QString sessionID;
    Kind kind = Kind::custom;
    // Untrimmed, possibly empty.
    QString text;
    // The project folder of the transcript it came from; absent straight from the parser.
    std::optional<QString> slug;

    // The line "type" of a kind: "agent-name", "custom-title", "ai-title".
    static QString rawValue(Kind kind);
    // The kind a line "type" names; none for any other text.
    static std::optional<Kind> kindFromRaw(const QString& raw);
    // The key that holds the title text: "agentName", "customTitle", "aiTitle".
    static QString jsonKey(Kind kind);

    friend bool operator==(const SessionTitle&, const SessionTitle&) = default;
};

// What one transcript line yields. No equality: it is taken apart at once.
struct TranscriptRecord {
    std::optional<QString> type;
    std::optional<QString> sessionID;
    std::optional<QString> cwd;
    std::optional<QString> gitBranch;
    std::optional<Date> timestamp;
    std::optional<QString> promptID;
    bool isMeta = false;
    bool isSidechain = false;
    // A user prompt, summarised.
    std::optional<QString> promptText;
    QList<ToolUse> toolUses;
    QList<QString> toolResultIDs;
    QList<TranscriptImage> images;
    std::optional<ArtifactResult> artifact;
    // Only on a title line, which carries nothing else.
    std::optional<SessionTitle> title;
};

} // namespace ostrel
