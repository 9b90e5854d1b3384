#pragma once

// The index and offsets files decoded the plain way, through a whole QJsonDocument and the
// records' own fromJson. The store's streaming decoder must agree with it on every input Qt
// reads, or refuses for its grammar: the fuzz target and the tests compare the two.
#include "OstrelCore/Records/Json.h"
#include "OstrelCore/Records/JsonReader.h"
#include "OstrelCore/Records/Store.h"
#include "OstrelCore/Records/StoreIndexParts.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>

namespace ostrel::test::reference {

// The text with every U+FEFF written raw inside a string written as the escape "\uFEFF". Qt's
// parser drops a U+FEFF that starts a text without escapes (QString::fromUtf8 takes it for a byte
// order mark), and the store's reader keeps it: after this the two must agree. A byte order mark
// at the very start of the document stays; one right after an escaping backslash stays too, as
// both readers refuse it there.
inline QByteArray escapeByteOrderMarks(const QByteArray& json) {
    static const QByteArray mark = "\xEF\xBB\xBF";
    QByteArray out;
    out.reserve(json.size());
    qsizetype i = 0;
    if (json.startsWith(mark)) {
        out += mark;
        i = mark.size();
    }
    qsizetype backslashes = 0;
    while (i < json.size()) {
        if (json.mid(i, mark.size()) == mark && backslashes % 2 == 0) {
            out += "\\uFEFF";
            i += mark.size();
            backslashes = 0;
            continue;
        }
        backslashes = json[i] == '\\' ? backslashes + 1 : 0;
        out += json[i++];
    }
    return out;
}

// A table of dates; a value that is no date is dropped alone, and one that is no table counts as
// absent.
inline void readDates(const QJsonObject& o, const QString& key,
                      std::optional<QHash<QString, Date>>& out) {
    const QJsonValue v = o.value(key);
    if (!v.isObject()) {
        return;
    }
    QHash<QString, Date> map;
    const QJsonObject inner = v.toObject();
    for (auto it = inner.begin(); it != inner.end(); ++it) {
        if (const auto d = Json::date(it.value()); d.value) {
            map.insert(it.key(), *d.value);
        }
    }
    out = map;
}

// The elements of a list that `read` reads; the others are dropped alone.
template <typename T, typename Read> QList<T> readList(const QJsonValue& list, Read read) {
    QList<T> out;
    for (const QJsonValue& element : list.toArray()) {
        if (const std::optional<T> record = read(element)) {
            out.append(*record);
        }
    }
    return out;
}

// The index as the store reads it: every list and table element by element, a member of the
// wrong type counting as absent, and only the three lists required.
inline std::optional<Store::Index> index(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(escapeByteOrderMarks(json), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    Store::Index index;
    index.lastRunAt = Json::date(o.value(QStringLiteral("lastRunAt"))).value;
    const QJsonValue items = o.value(QStringLiteral("items"));
    const QJsonValue sessions = o.value(QStringLiteral("sessions"));
    const QJsonValue prompts = o.value(QStringLiteral("prompts"));
    if (!items.isArray() || !sessions.isArray() || !prompts.isArray()) {
        return std::nullopt;
    }
    index.items = readList<ShelfItem>(items, ShelfItem::fromJson);
    index.sessions = readList<Session>(sessions, Session::fromJson);
    index.prompts = readList<Prompt>(prompts, Prompt::fromJson);
    if (const QJsonValue hidden = o.value(QStringLiteral("hidden")); hidden.isArray()) {
        index.hidden = readList<QString>(hidden, [](const QJsonValue& id) {
            return id.isString() ? std::optional<QString>(id.toString()) : std::nullopt;
        });
    }
    if (const QJsonValue hiddenItems = o.value(QStringLiteral("hiddenItems"));
        hiddenItems.isArray()) {
        index.hiddenItems = readList<HiddenRecord>(hiddenItems, HiddenRecord::fromJson);
    }
    readDates(o, QStringLiteral("deleted"), index.deleted);
    readDates(o, QStringLiteral("deletedPaths"), index.deletedPaths);
    readDates(o, QStringLiteral("titleChecks"), index.titleChecks);
    // The files to remove: ours (copies, thumbnails, link files), directly in the items or
    // thumbnails folder, each as a bare name (as earlier versions wrote) or with the whole
    // identity of the file meant, and no more than the most kept.
    if (const QJsonValue removing = o.value(QStringLiteral("removing")); removing.isArray()) {
        const auto own = [](const QString& name) {
            const QByteArray bytes = name.toUtf8();
            const std::string_view text(bytes.constData(), size_t(bytes.size()));
            return (text.starts_with("items/") &&
                    (storeIndexParts::ownFileName(text.substr(6), false) ||
                     Store::isLinkFileName(QStringView(name).sliced(6)))) ||
                   (text.starts_with("thumbs/") &&
                    storeIndexParts::ownFileName(text.substr(7), true));
        };
        index.removing = readList<Store::Removal>(removing, [&own](const QJsonValue& v) {
            if (v.isString()) {
                return own(v.toString()) ? std::optional(Store::Removal{v.toString(), std::nullopt})
                                         : std::nullopt;
            }
            const QJsonObject r = v.toObject();
            const auto name = Json::string(r, QStringLiteral("name")).value;
            const auto device = Json::integer(r, QStringLiteral("device")).value;
            const auto inode = Json::integer(r, QStringLiteral("inode")).value;
            const auto modified = Json::integer(r, QStringLiteral("modified")).value;
            const auto size = Json::integer(r, QStringLiteral("size")).value;
            if (!v.isObject() || !name || !device || !inode || !modified || !size || !own(*name)) {
                return std::optional<Store::Removal>();
            }
            FileIdentity file;
            file.device = static_cast<dev_t>(static_cast<quint64>(*device));
            file.inode = static_cast<ino_t>(static_cast<quint64>(*inode));
            file.size = *size;
            file.modified = *modified;
            return std::optional(Store::Removal{*name, file});
        });
        if (index.removing->size() > Store::Index::removingLimit) {
            index.removing->resize(Store::Index::removingLimit);
        }
    }
    // The checks that read and name an item or a hidden item, no more of them than there are
    // such ids (those of the first paths in order).
    if (const QJsonValue checks = o.value(QStringLiteral("sourceChecks")); checks.isObject()) {
        QSet<QString> held;
        for (const ShelfItem& item : index.items) {
            held.insert(item.id);
        }
        for (const HiddenRecord& record : index.hiddenItems.value_or(QList<HiddenRecord>())) {
            held.insert(record.item.id);
        }
        QHash<QString, Store::SourceCheck> kept;
        const QJsonObject table = checks.toObject();
        for (auto it = table.begin(); it != table.end(); ++it) {
            const QJsonObject check = it.value().toObject();
            const QJsonValue id = check.value(QStringLiteral("id"));
            const auto modified = Json::date(check.value(QStringLiteral("modified"))).value;
            if (it.value().isObject() && id.isString() && held.contains(id.toString()) &&
                modified && std::isfinite(modified->seconds)) {
                kept.insert(it.key(), Store::SourceCheck{id.toString(), *modified});
            }
        }
        QStringList paths = kept.keys();
        std::sort(paths.begin(), paths.end());
        for (qsizetype i = held.size(); i < paths.size(); ++i) {
            kept.remove(paths.at(i));
        }
        index.sourceChecks = kept;
    }
    return index;
}

// How Qt takes a text: accepted, refused for its grammar, or refused for what only a conversion
// finds (a number, the depth, the bytes of a string), where the store's reader may read on. Qt
// says "illegal number" for a number's shape too, so that verdict tells nothing of the grammar.
enum class Verdict { accepted, grammar, conversion };

inline Verdict verdict(const QByteArray& json) {
    QJsonParseError error{};
    QJsonDocument::fromJson(escapeByteOrderMarks(json), &error);
    switch (error.error) {
    case QJsonParseError::NoError:
        return Verdict::accepted;
    case QJsonParseError::IllegalNumber:
    case QJsonParseError::DeepNesting:
    case QJsonParseError::IllegalUTF8String:
        return Verdict::conversion;
    default:
        return Verdict::grammar;
    }
}

inline std::optional<QHash<QString, quint64>> offsets(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(escapeByteOrderMarks(json), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        return std::nullopt;
    }
    QHash<QString, quint64> offsets;
    const QJsonObject o = doc.object();
    for (auto it = o.begin(); it != o.end(); ++it) {
        const QJsonValue v = it.value();
        if (!v.isDouble()) {
            return std::nullopt;
        }
        const double d = v.toDouble();
        if (!std::isfinite(d) || d < 0 || std::floor(d) != d || d > 18446744073709551616.0) {
            return std::nullopt;
        }
        const qint64 exact = v.toInteger(-1);
        offsets.insert(it.key(), exact >= 0
                                     ? static_cast<quint64>(exact)
                                     : static_cast<quint64>(std::numeric_limits<qint64>::max()));
    }
    return offsets;
}

// Qt's reading of the text as a JSON object; none when it refuses it.
inline std::optional<QJsonObject> object(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(escapeByteOrderMarks(json), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        return std::nullopt;
    }
    return doc.object();
}

// The value at the reader's cursor built as Qt's tree, a repeated name keeping its last value;
// none on a syntax error.
inline std::optional<QJsonValue> tree(JsonReader& r) {
    switch (r.next()) {
    case JsonReader::Kind::invalid:
        r.skip();
        return std::nullopt;
    case JsonReader::Kind::null:
        return r.null() ? std::optional<QJsonValue>(QJsonValue::Null) : std::nullopt;
    case JsonReader::Kind::boolean: {
        const auto b = r.boolean();
        return b ? std::optional<QJsonValue>(*b) : std::nullopt;
    }
    case JsonReader::Kind::number: {
        const auto n = r.number();
        if (!n) {
            return std::nullopt;
        }
        return n->isInteger ? QJsonValue(n->integer) : QJsonValue(n->value);
    }
    case JsonReader::Kind::string: {
        const auto s = r.string();
        return s ? std::optional<QJsonValue>(*s) : std::nullopt;
    }
    case JsonReader::Kind::array: {
        r.beginArray();
        QJsonArray array;
        while (r.element()) {
            const auto v = tree(r);
            if (!v) {
                return std::nullopt;
            }
            array.append(*v);
        }
        return r.failed() ? std::nullopt : std::optional<QJsonValue>(array);
    }
    case JsonReader::Kind::object: {
        r.beginObject();
        QJsonObject object;
        JsonReader::Name name;
        while (r.member(name)) {
            const auto v = tree(r);
            if (!v) {
                return std::nullopt;
            }
            object.insert(name.toString(), *v);
        }
        return r.failed() ? std::nullopt : std::optional<QJsonValue>(object);
    }
    }
    return std::nullopt;
}

// Whether JsonReader::passOver() disagrees with Qt on a text's grammar: it must take every array
// or object Qt takes, and refuse every one Qt refuses for its grammar.
inline bool passOverDisagrees(const QByteArray& json) {
    JsonReader reader(json);
    const JsonReader::Kind kind = reader.next();
    if (kind != JsonReader::Kind::object && kind != JsonReader::Kind::array) {
        return false;
    }
    const bool passed = reader.passOver() && reader.finish();
    const Verdict qt = verdict(json);
    return qt == Verdict::accepted ? !passed : qt == Verdict::grammar && passed;
}

// Bit for bit: 0 and -0 are told apart.
inline bool same(Date a, Date b) {
    return std::bit_cast<quint64>(a.seconds) == std::bit_cast<quint64>(b.seconds);
}
inline bool same(const std::optional<Date>& a, const std::optional<Date>& b) {
    return a.has_value() == b.has_value() && (!a || same(*a, *b));
}
inline bool same(const ShelfItem& a, const ShelfItem& b) {
    return a == b && same(a.createdAt, b.createdAt) && same(a.seenAt, b.seenAt) &&
           a.fileURL.has_value() == b.fileURL.has_value() &&
           (!a.fileURL || *a.fileURL == *b.fileURL) &&
           a.remoteURL.has_value() == b.remoteURL.has_value() &&
           (!a.remoteURL || *a.remoteURL == *b.remoteURL);
}
inline bool same(const Session& a, const Session& b) {
    return a == b && same(a.startedAt, b.startedAt) && same(a.lastActive, b.lastActive) &&
           same(a.firstPromptAt, b.firstPromptAt);
}
inline bool same(const Prompt& a, const Prompt& b) {
    return a == b && same(a.at, b.at);
}
inline bool same(const HiddenRecord& a, const HiddenRecord& b) {
    return same(a.item, b.item) && same(a.hiddenAt, b.hiddenAt);
}
inline bool same(const Store::SourceCheck& a, const Store::SourceCheck& b) {
    return a.id == b.id && same(a.modified, b.modified);
}
// Any other value (a name, or whatever a decoder yields for one) by its own equality.
template <typename T> bool same(const T& a, const T& b) {
    return a == b;
}
template <typename T> bool same(const QList<T>& a, const QList<T>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (!same(a[i], b[i])) {
            return false;
        }
    }
    return true;
}
template <typename T> bool same(const QHash<QString, T>& a, const QHash<QString, T>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (auto it = a.cbegin(); it != a.cend(); ++it) {
        const auto other = b.constFind(it.key());
        if (other == b.cend() || !same(it.value(), other.value())) {
            return false;
        }
    }
    return true;
}
template <typename T> bool same(const std::optional<T>& a, const std::optional<T>& b) {
    return a.has_value() == b.has_value() && (!a || same(*a, *b));
}

// What differs between two decodings, in words; empty when they agree.
inline QString difference(const std::optional<Store::Index>& expected,
                          const std::optional<Store::Index>& actual) {
    if (expected.has_value() != actual.has_value()) {
        return expected ? QStringLiteral("only the reference reads the index")
                        : QStringLiteral("only the reference refuses the index");
    }
    if (!expected) {
        return {};
    }
    const Store::Index& e = *expected;
    const Store::Index& a = *actual;
    QStringList differ;
    const auto check = [&differ](bool agree, const char* what) {
        if (!agree) {
            differ.append(QString::fromLatin1(what));
        }
    };
    check(e.version == a.version, "version");
    check(same(e.lastRunAt, a.lastRunAt), "lastRunAt");
    check(same(e.items, a.items), "items");
    check(same(e.sessions, a.sessions), "sessions");
    check(same(e.prompts, a.prompts), "prompts");
    check(same(e.hidden, a.hidden), "hidden");
    check(same(e.hiddenItems, a.hiddenItems), "hiddenItems");
    check(same(e.deleted, a.deleted), "deleted");
    check(same(e.deletedPaths, a.deletedPaths), "deletedPaths");
    check(same(e.titleChecks, a.titleChecks), "titleChecks");
    check(same(e.sourceChecks, a.sourceChecks), "sourceChecks");
    check(same(e.removing, a.removing), "removing");
    return differ.join(u", ");
}

} // namespace ostrel::test::reference
