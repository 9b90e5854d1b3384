#pragma once

#include "OstrelCore/Records/ShelfItem.h"
#include "Platform/Date.h"

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <optional>
#include <variant>

namespace ostrel {

// A published artifact: a link, not a file.
struct ArtifactInfo {
    QString id;
    QUrl url;
    std::optional<QString> title;
    // The local file the artifact was published from, when known.
    std::optional<QString> path;

    friend bool operator==(const ArtifactInfo& a, const ArtifactInfo& b) {
        return a.id == b.id && a.url == b.url && a.title == b.title && a.path == b.path;
    }
};

inline size_t qHash(const ArtifactInfo& info, size_t seed = 0) {
    QtPrivate::QHashCombine combine;
    seed = combine(seed, info.id);
    seed = combine(seed, info.url);
    seed = combine(seed, info.title ? 1 : 0);
    if (info.title) {
        seed = combine(seed, *info.title);
    }
    seed = combine(seed, info.path ? 1 : 0);
    if (info.path) {
        seed = combine(seed, *info.path);
    }
    return seed;
}

// What a candidate carries.
struct Payload {
    // A file on disk; the extension comes from its name.
    struct File {
        QUrl url;
        // Its size when it was admitted, when that was looked at: what reading it ahead may
        // hold, without another look. The file is read for what it holds then, whatever this says.
        std::optional<qint64> size;
        // Its real path, when admitting it already looked that up: the path it is stored under,
        // without another look.
        std::optional<QString> canonical;
    };
    // Content already in memory.
    struct Bytes {
        QByteArray bytes;
        QString fileExtension;
    };
    // An undecoded image block of a transcript, in the UTF-8 it has there.
    struct Base64 {
        QByteArray text;
        QString fileExtension;
    };
    struct Artifact {
        ArtifactInfo info;
    };

    std::variant<File, Bytes, Base64, Artifact> value;

    static Payload file(QUrl url, std::optional<qint64> size = std::nullopt,
                        std::optional<QString> canonical = std::nullopt) {
        return Payload{File{std::move(url), size, std::move(canonical)}};
    }
    static Payload bytes(QByteArray bytes, QString ext) {
        return Payload{Bytes{std::move(bytes), std::move(ext)}};
    }
    static Payload base64(QByteArray text, QString ext) {
        return Payload{Base64{std::move(text), std::move(ext)}};
    }
    static Payload artifact(ArtifactInfo info) { return Payload{Artifact{std::move(info)}}; }
};

// A capture that may become a shelf item; built by a finder and handed to ingest at once.
struct Candidate {
    Source source = Source::scratchpad;
    Payload payload;
    std::optional<QString> sessionID;
    std::optional<QString> slug;
    std::optional<QString> promptID;
    Date createdAt;
    // For a transcript image block: the file the "Read" tool read to produce it.
    std::optional<QString> readPath;
    // For a transcript image block without a read path: tool-use id, "#", occurrence number.
    std::optional<QString> captureID;
};

} // namespace ostrel
