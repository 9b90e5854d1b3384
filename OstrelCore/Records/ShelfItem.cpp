#include "OstrelCore/Records/ShelfItem.h"

#include "OstrelCore/Records/Json.h"

#include <QHash>
#include <QJsonArray>

namespace ostrel {

QString rawValue(ShelfItemKind kind) {
    switch (kind) {
    case ShelfItemKind::image:
        return QStringLiteral("image");
    case ShelfItemKind::html:
        return QStringLiteral("html");
    case ShelfItemKind::pdf:
        return QStringLiteral("pdf");
    case ShelfItemKind::document:
        return QStringLiteral("document");
    case ShelfItemKind::video:
        return QStringLiteral("video");
    case ShelfItemKind::audio:
        return QStringLiteral("audio");
    case ShelfItemKind::artifact:
        return QStringLiteral("artifact");
    case ShelfItemKind::file:
        return QStringLiteral("file");
    }
    return {};
}

std::optional<ShelfItemKind> shelfItemKindFromRaw(const QString& raw) {
    for (const auto kind : allShelfItemKinds) {
        if (rawValue(kind) == raw) {
            return kind;
        }
    }
    return std::nullopt;
}

namespace ShelfItemKindRules {

ShelfItemKinds shownByDefault() {
    ShelfItemKinds kinds(allShelfItemKinds.begin(), allShelfItemKinds.end());
    kinds.erase(ShelfItemKind::file);
    return kinds;
}

std::optional<ShelfItemKind> forExtension(const QString& ext) {
    static const QHash<QString, ShelfItemKind> table = [] {
        QHash<QString, ShelfItemKind> t;
        const auto add = [&t](ShelfItemKind kind, std::initializer_list<const char*> exts) {
            for (const char* e : exts) {
                t.insert(QString::fromLatin1(e), kind);
            }
        };
        add(ShelfItemKind::image, {"png", "jpg", "jpeg", "gif", "webp", "heic", "svg"});
        add(ShelfItemKind::html, {"html", "htm"});
        add(ShelfItemKind::pdf, {"pdf"});
        add(ShelfItemKind::document,
            {"docx", "doc", "xlsx", "xls", "pptx", "ppt", "key", "numbers", "pages"});
        add(ShelfItemKind::video, {"mp4", "mov", "m4v", "webm"});
        add(ShelfItemKind::audio, {"mp3", "wav", "m4a", "aiff", "flac"});
        return t;
    }();
    const auto it = table.constFind(ext.toLower());
    if (it == table.constEnd()) {
        return std::nullopt;
    }
    return it.value();
}

std::optional<ShelfItemKind> forExtension(const QString& ext, const QSet<QString>& extra) {
    if (const auto kind = forExtension(ext)) {
        return kind;
    }
    if (extra.contains(ext.toLower())) {
        return ShelfItemKind::file;
    }
    return std::nullopt;
}

} // namespace ShelfItemKindRules

QString rawValue(Source source) {
    switch (source) {
    case Source::scratchpad:
        return QStringLiteral("scratchpad");
    case Source::transcript:
        return QStringLiteral("transcript");
    case Source::chrome:
        return QStringLiteral("chrome");
    case Source::folder:
        return QStringLiteral("folder");
    }
    return {};
}

std::optional<Source> sourceFromRaw(const QString& raw) {
    for (const auto source : allSources) {
        if (rawValue(source) == raw) {
            return source;
        }
    }
    return std::nullopt;
}

namespace {

bool sameUrl(const std::optional<QUrl>& a, const std::optional<QUrl>& b) {
    if (a.has_value() != b.has_value()) {
        return false;
    }
    return !a || Json::fromUrl(*a) == Json::fromUrl(*b);
}

} // namespace

bool operator==(const ShelfItem& a, const ShelfItem& b) {
    return a.id == b.id && a.kind == b.kind && sameUrl(a.fileURL, b.fileURL) &&
           sameUrl(a.remoteURL, b.remoteURL) && a.sourcePath == b.sourcePath &&
           a.title == b.title && a.sessionID == b.sessionID && a.promptID == b.promptID &&
           a.sourceKinds == b.sourceKinds && a.createdAt == b.createdAt && a.seenAt == b.seenAt &&
           a.width == b.width && a.height == b.height && a.captureID == b.captureID;
}

size_t qHash(const ShelfItem& item, size_t seed) {
    // Equal items agree on id and creation time; that is enough for a consistent hash.
    return ::qHashMulti(seed, item.id, item.createdAt.seconds);
}

void ShelfItem::write(JsonWriter& out) const {
    out.beginObject();
    if (captureID) {
        out.key(u"captureID");
        out.string(*captureID);
    }
    out.key(u"createdAt");
    out.date(createdAt);
    if (fileURL) {
        out.key(u"fileURL");
        out.url(*fileURL);
    }
    if (height) {
        out.key(u"height");
        out.integer(*height);
    }
    out.key(u"id");
    out.string(id);
    out.key(u"kind");
    out.string(rawValue(kind));
    if (promptID) {
        out.key(u"promptID");
        out.string(*promptID);
    }
    if (remoteURL) {
        out.key(u"remoteURL");
        out.url(*remoteURL);
    }
    if (seenAt) {
        out.key(u"seenAt");
        out.date(*seenAt);
    }
    out.key(u"sessionID");
    out.string(sessionID);
    out.key(u"sourceKinds");
    out.beginArray();
    for (const Source s : sourceKinds) {
        out.string(rawValue(s));
    }
    out.endArray();
    if (sourcePath) {
        out.key(u"sourcePath");
        out.string(*sourcePath);
    }
    out.key(u"title");
    out.string(title);
    if (width) {
        out.key(u"width");
        out.integer(*width);
    }
    out.endObject();
}

QJsonObject ShelfItem::toJson() const {
    return Json::objectOf(*this);
}

std::optional<ShelfItem> ShelfItem::fromJson(const QJsonValue& value) {
    if (!value.isObject()) {
        return std::nullopt;
    }
    const QJsonObject o = value.toObject();
    ShelfItem item;

    const auto id = Json::string(o, QStringLiteral("id"));
    const auto kind = Json::string(o, QStringLiteral("kind"));
    const auto title = Json::string(o, QStringLiteral("title"));
    const auto session = Json::string(o, QStringLiteral("sessionID"));
    const auto created = Json::date(o, QStringLiteral("createdAt"));
    if (!id.value || !kind.value || !title.value || !session.value || !created.value) {
        return std::nullopt;
    }
    const auto parsedKind = shelfItemKindFromRaw(*kind.value);
    if (!parsedKind) {
        return std::nullopt;
    }
    item.id = *id.value;
    item.kind = *parsedKind;
    item.title = *title.value;
    item.sessionID = *session.value;
    item.createdAt = *created.value;

    const QJsonValue sources = o.value(QStringLiteral("sourceKinds"));
    if (!sources.isArray()) {
        return std::nullopt;
    }
    for (const QJsonValue& s : sources.toArray()) {
        if (!s.isString()) {
            return std::nullopt;
        }
        const auto source = sourceFromRaw(s.toString());
        if (!source) {
            return std::nullopt;
        }
        item.sourceKinds.insert(*source);
    }

    const auto fileURL = Json::url(o, QStringLiteral("fileURL"));
    const auto remoteURL = Json::url(o, QStringLiteral("remoteURL"));
    const auto sourcePath = Json::string(o, QStringLiteral("sourcePath"));
    const auto promptID = Json::string(o, QStringLiteral("promptID"));
    const auto seenAt = Json::date(o, QStringLiteral("seenAt"));
    const auto width = Json::integer(o, QStringLiteral("width"));
    const auto height = Json::integer(o, QStringLiteral("height"));
    const auto captureID = Json::string(o, QStringLiteral("captureID"));
    if (!fileURL.ok || !remoteURL.ok || !sourcePath.ok || !promptID.ok || !seenAt.ok || !width.ok ||
        !height.ok || !captureID.ok) {
        return std::nullopt;
    }
    item.fileURL = fileURL.value;
    item.remoteURL = remoteURL.value;
    item.sourcePath = sourcePath.value;
    item.promptID = promptID.value;
    item.seenAt = seenAt.value;
    item.width = width.value;
    item.height = height.value;
    item.captureID = captureID.value;
    return item;
}

} // namespace ostrel
