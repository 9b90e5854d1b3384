#pragma once

#include "Platform/Date.h"

#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <array>
#include <optional>
#include <set>

namespace ostrel {

class JsonWriter;

// What an item is, decided from its file extension.
enum class ShelfItemKind { image, html, pdf, document, video, audio, artifact, file };

inline constexpr std::array<ShelfItemKind, 8> allShelfItemKinds{
    ShelfItemKind::image, ShelfItemKind::html,  ShelfItemKind::pdf,      ShelfItemKind::document,
    ShelfItemKind::video, ShelfItemKind::audio, ShelfItemKind::artifact, ShelfItemKind::file};

using ShelfItemKinds = std::set<ShelfItemKind>;

QString rawValue(ShelfItemKind kind);
std::optional<ShelfItemKind> shelfItemKindFromRaw(const QString& raw);

namespace ShelfItemKindRules {
// Every kind but `file`.
ShelfItemKinds shownByDefault();
// The kind of a file extension given without its dot, in any letter case.
std::optional<ShelfItemKind> forExtension(const QString& ext);
// As above; an extension in `extra` (lower case, no dot) that no kind claims is a `file`.
std::optional<ShelfItemKind> forExtension(const QString& ext, const QSet<QString>& extra);
} // namespace ShelfItemKindRules

// Where an item was found.
enum class Source { scratchpad, transcript, chrome, folder };

inline constexpr std::array<Source, 4> allSources{Source::scratchpad, Source::transcript,
                                                  Source::chrome, Source::folder};

QString rawValue(Source source);
std::optional<Source> sourceFromRaw(const QString& raw);

using Sources = std::set<Source>;

// One thing on the shelf.
struct ShelfItem {
    QString id;
    ShelfItemKind kind = ShelfItemKind::image;
    // The store's own copy of the bytes; absent for artifacts.
    std::optional<QUrl> fileURL;
    // The web address of a published artifact.
    std::optional<QUrl> remoteURL;
    // Where the capture was found; never touched when the item goes.
    std::optional<QString> sourcePath;
    QString title;
    QString sessionID;
    std::optional<QString> promptID;
    Sources sourceKinds;
    Date createdAt;
    std::optional<Date> seenAt;
    std::optional<qint64> width;
    std::optional<qint64> height;
    std::optional<QString> captureID;

    bool isUnread() const { return !seenAt.has_value(); }

    friend bool operator==(const ShelfItem& a, const ShelfItem& b);

    // Compact JSON with the keys in ascending order, as the index stores it.
    void write(JsonWriter& out) const;
    QJsonObject toJson() const;
    // Fails as a whole on a missing required key, a wrong type or an unknown enumeration text.
    static std::optional<ShelfItem> fromJson(const QJsonValue& value);
};

size_t qHash(const ShelfItem& item, size_t seed = 0);

} // namespace ostrel
