// The index and offsets files as text: the index written from the store's own tables, and both
// files read back strictly, record by record.
#include "OstrelCore/Records/JsonReader.h"
#include "OstrelCore/Records/JsonWriter.h"
#include "OstrelCore/Records/Store.h"
#include "OstrelCore/Records/StoreIndexParts.h"
#include "Platform/Log.h"

#include <QSet>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace ostrel {

namespace {

const HiddenRecord& record(const HiddenRecord* record) {
    return *record;
}

template <typename Record> const Record& record(const Record& record) {
    return record;
}

// The index text for the small parts of `rest` and the record lists given apart: a save writes
// the store's own tables (and the hidden records sorted by pointer) rather than copying every
// record into lists first, which would double the store's size for the length of each write.
template <typename Items, typename Hidden, typename Sessions, typename Prompts>
QByteArray indexText(const Store::Index& rest, const Items& items, const Hidden* hiddenItems,
                     const Sessions& sessions, const Prompts& prompts) {
    JsonWriter out;
    const auto dates = [&out](const char16_t* key, const std::optional<QHash<QString, Date>>& map) {
        if (map) {
            out.key(key);
            out.sortedObject(*map, [&out](Date d) { out.date(d); });
        }
    };
    const auto list = [&out](const char16_t* key, const auto& records) {
        out.key(key);
        out.beginArray();
        for (const auto& each : records) {
            record(each).write(out);
        }
        out.endArray();
    };
    out.beginObject();
    dates(u"deleted", rest.deleted);
    dates(u"deletedPaths", rest.deletedPaths);
    if (rest.hidden) {
        out.key(u"hidden");
        out.beginArray();
        for (const QString& id : *rest.hidden) {
            out.string(id);
        }
        out.endArray();
    }
    if (hiddenItems) {
        list(u"hiddenItems", *hiddenItems);
    }
    list(u"items", items);
    if (rest.lastRunAt) {
        out.key(u"lastRunAt");
        out.date(*rest.lastRunAt);
    }
    list(u"prompts", prompts);
    list(u"sessions", sessions);
    if (rest.sourceChecks) {
        out.key(u"sourceChecks");
        out.sortedObject(*rest.sourceChecks, [&out](const Store::SourceCheck& check) {
            out.beginObject();
            out.key(u"id");
            out.string(check.id);
            out.key(u"modified");
            out.date(check.modified);
            out.endObject();
        });
    }
    dates(u"titleChecks", rest.titleChecks);
    out.key(u"version");
    out.integer(rest.version);
    out.endObject();
    return out.take();
}

} // namespace

QByteArray storeIndexParts::encodeIndex(const Store::Index& rest,
                                        const QHash<QString, ShelfItem>& items,
                                        const QHash<QString, HiddenRecord>& hiddenItems,
                                        const QHash<QString, Session>& sessions,
                                        const QHash<QString, Prompt>& prompts) {
    std::vector<const HiddenRecord*> records;
    records.reserve(static_cast<size_t>(hiddenItems.size()));
    for (const HiddenRecord& record : hiddenItems) {
        records.push_back(&record);
    }
    std::sort(records.begin(), records.end(),
              [](const HiddenRecord* a, const HiddenRecord* b) { return a->item.id < b->item.id; });
    return indexText(rest, items, &records, sessions, prompts);
}

QByteArray Store::Index::encode() const {
    return indexText(*this, items, hiddenItems ? &*hiddenItems : nullptr, sessions, prompts);
}

namespace {

// One field of a record as it is read: the last occurrence of a name counts, as it does for Qt,
// so an earlier value of the wrong type is forgotten when a good one follows.
template <typename T> struct Slot {
    bool bad = false;
    std::optional<T> value;

    void absent() { *this = {}; }
    void set(T v) { *this = {false, std::move(v)}; }
    void wrong() { *this = {true, std::nullopt}; }
};

using Kind = JsonReader::Kind;

// Reads a null as absent, a value of the kind `want` through `read`, and skips anything else.
template <typename T, typename Read>
void field(JsonReader& r, Slot<T>& slot, Kind want, Read read) {
    const Kind kind = r.next();
    if (kind == Kind::null) {
        r.null();
        slot.absent();
    } else if (kind == want) {
        read(slot);
    } else {
        r.skip();
        slot.wrong();
    }
}

// Reads the value at the cursor through `read`, on its own: when the reader refuses something in
// it that only a conversion finds (a number out of range, nesting too deep, a string that is not
// UTF-8), the value is passed over by its grammar and reads as none. A syntax error fails the
// reader for good, and with it the document.
template <typename Read> auto alone(JsonReader& r, Read read) -> decltype(read(r)) {
    const JsonReader::Mark mark = r.mark();
    auto value = read(r);
    if (r.failed()) {
        r.rewind(mark);
        r.passOver();
        return std::nullopt;
    }
    return value;
}

void stringField(JsonReader& r, Slot<QString>& slot) {
    field(r, slot, Kind::string, [&r](Slot<QString>& s) {
        if (auto text = r.string()) {
            s.set(std::move(*text));
        }
    });
}

void dateField(JsonReader& r, Slot<Date>& slot) {
    field(r, slot, Kind::number, [&r](Slot<Date>& s) {
        if (const auto n = r.number()) {
            s.set(Date(n->value));
        }
    });
}

// A whole number that fits 64 bits.
void integerField(JsonReader& r, Slot<qint64>& slot) {
    field(r, slot, Kind::number, [&r](Slot<qint64>& s) {
        if (const auto n = r.number()) {
            n->isInteger ? s.set(n->integer) : s.wrong();
        }
    });
}

// Whether a URL text is "file://" and an absolute path of plain characters only: no percent
// signs, no query or fragment, no empty segment. Parsing such a text strictly gives the same URL
// as setting its path, which costs a fraction of the general parse; the store's own copies all
// have URLs like that.
bool isPlainFileUrl(const QString& text) {
    constexpr QLatin1StringView prefix("file:///");
    if (!text.startsWith(prefix)) {
        return false;
    }
    char16_t previous = u'/';
    for (qsizetype i = prefix.size(); i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        const bool plain = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                           (c >= u'0' && c <= u'9') || c == u'-' || c == u'.' || c == u'_' ||
                           c == u'~' || (c == u'/' && previous != u'/');
        if (!plain) {
            return false;
        }
        previous = c;
    }
    return true;
}

// An absolute URL in its strict form.
void urlField(JsonReader& r, Slot<QUrl>& slot) {
    field(r, slot, Kind::string, [&r](Slot<QUrl>& s) {
        const auto text = r.string();
        if (!text) {
            return;
        }
        if (isPlainFileUrl(*text)) {
            QUrl url;
            url.setScheme(QStringLiteral("file"));
            url.setPath(text->mid(7));
            s.set(std::move(url));
            return;
        }
        QUrl url(*text, QUrl::StrictMode);
        url.isValid() && !url.isRelative() ? s.set(std::move(url)) : s.wrong();
    });
}

std::optional<ShelfItemKind> kindOf(const QString& raw) {
    for (const auto kind : allShelfItemKinds) {
        if (rawValue(kind) == raw) {
            return kind;
        }
    }
    return std::nullopt;
}

// The sources of an item: an array of known source names, nothing else.
void sourcesField(JsonReader& r, Slot<Sources>& slot) {
    if (r.next() != Kind::array) {
        r.skip();
        slot.wrong();
        return;
    }
    r.beginArray();
    Sources sources;
    bool good = true;
    while (r.element()) {
        if (r.next() != Kind::string) {
            good = false;
            r.skip();
            continue;
        }
        const auto text = r.string();
        const auto source = text ? sourceFromRaw(*text) : std::nullopt;
        if (source) {
            sources.insert(*source);
        } else {
            good = false;
        }
    }
    good ? slot.set(std::move(sources)) : slot.wrong();
}

// A shelf item, or none when the value is not one; the value is passed over either way.
std::optional<ShelfItem> readItem(JsonReader& r) {
    if (r.next() != Kind::object) {
        r.skip();
        return std::nullopt;
    }
    r.beginObject();
    Slot<QString> id, kind, title, sessionID, sourcePath, promptID, captureID;
    Slot<Date> createdAt, seenAt;
    Slot<qint64> width, height;
    Slot<QUrl> fileURL, remoteURL;
    Slot<Sources> sources;
    sources.wrong(); // required
    JsonReader::Name name;
    while (r.member(name)) {
        if (name == "id") {
            stringField(r, id);
        } else if (name == "fileURL") {
            urlField(r, fileURL);
        } else if (name == "createdAt") {
            dateField(r, createdAt);
        } else if (name == "kind") {
            stringField(r, kind);
        } else if (name == "title") {
            stringField(r, title);
        } else if (name == "sessionID") {
            stringField(r, sessionID);
        } else if (name == "sourceKinds") {
            sourcesField(r, sources);
        } else if (name == "sourcePath") {
            stringField(r, sourcePath);
        } else if (name == "seenAt") {
            dateField(r, seenAt);
        } else if (name == "width") {
            integerField(r, width);
        } else if (name == "height") {
            integerField(r, height);
        } else if (name == "promptID") {
            stringField(r, promptID);
        } else if (name == "captureID") {
            stringField(r, captureID);
        } else if (name == "remoteURL") {
            urlField(r, remoteURL);
        } else {
            r.skip();
        }
    }
    if (r.failed() || !id.value || !kind.value || !title.value || !sessionID.value ||
        !createdAt.value || !sources.value || fileURL.bad || remoteURL.bad || sourcePath.bad ||
        promptID.bad || seenAt.bad || width.bad || height.bad || captureID.bad) {
        return std::nullopt;
    }
    const auto itemKind = kindOf(*kind.value);
    if (!itemKind) {
        return std::nullopt;
    }
    ShelfItem item;
    item.id = std::move(*id.value);
    item.kind = *itemKind;
    item.fileURL = std::move(fileURL.value);
    item.remoteURL = std::move(remoteURL.value);
    item.sourcePath = std::move(sourcePath.value);
    item.title = std::move(*title.value);
    item.sessionID = std::move(*sessionID.value);
    item.promptID = std::move(promptID.value);
    item.sourceKinds = std::move(*sources.value);
    item.createdAt = *createdAt.value;
    item.seenAt = seenAt.value;
    item.width = width.value;
    item.height = height.value;
    item.captureID = std::move(captureID.value);
    return item;
}

std::optional<HiddenRecord> readHiddenRecord(JsonReader& r) {
    if (r.next() != Kind::object) {
        r.skip();
        return std::nullopt;
    }
    r.beginObject();
    std::optional<ShelfItem> item;
    Slot<Date> hiddenAt;
    JsonReader::Name name;
    while (r.member(name)) {
        if (name == "item") {
            item = readItem(r);
        } else if (name == "hiddenAt") {
            dateField(r, hiddenAt);
        } else {
            r.skip();
        }
    }
    if (r.failed() || !item || !hiddenAt.value) {
        return std::nullopt;
    }
    return HiddenRecord{std::move(*item), *hiddenAt.value};
}

std::optional<Session> readSession(JsonReader& r) {
    if (r.next() != Kind::object) {
        r.skip();
        return std::nullopt;
    }
    r.beginObject();
    Slot<QString> id, slug, cwd, branch, agentName, customTitle, aiTitle, firstPrompt;
    Slot<Date> startedAt, lastActive, firstPromptAt;
    JsonReader::Name name;
    while (r.member(name)) {
        if (name == "id") {
            stringField(r, id);
        } else if (name == "startedAt") {
            dateField(r, startedAt);
        } else if (name == "lastActive") {
            dateField(r, lastActive);
        } else if (name == "slug") {
            stringField(r, slug);
        } else if (name == "cwd") {
            stringField(r, cwd);
        } else if (name == "branch") {
            stringField(r, branch);
        } else if (name == "agentName") {
            stringField(r, agentName);
        } else if (name == "customTitle") {
            stringField(r, customTitle);
        } else if (name == "aiTitle") {
            stringField(r, aiTitle);
        } else if (name == "firstPrompt") {
            stringField(r, firstPrompt);
        } else if (name == "firstPromptAt") {
            dateField(r, firstPromptAt);
        } else {
            r.skip();
        }
    }
    if (r.failed() || !id.value || !startedAt.value || !lastActive.value || slug.bad || cwd.bad ||
        branch.bad || agentName.bad || customTitle.bad || aiTitle.bad || firstPrompt.bad ||
        firstPromptAt.bad) {
        return std::nullopt;
    }
    Session s;
    s.id = std::move(*id.value);
    s.slug = std::move(slug.value);
    s.cwd = std::move(cwd.value);
    s.branch = std::move(branch.value);
    s.startedAt = *startedAt.value;
    s.lastActive = *lastActive.value;
    s.agentName = std::move(agentName.value);
    s.customTitle = std::move(customTitle.value);
    s.aiTitle = std::move(aiTitle.value);
    s.firstPrompt = std::move(firstPrompt.value);
    s.firstPromptAt = firstPromptAt.value;
    return s;
}

std::optional<Prompt> readPrompt(JsonReader& r) {
    if (r.next() != Kind::object) {
        r.skip();
        return std::nullopt;
    }
    r.beginObject();
    Slot<QString> id, sessionID, text;
    Slot<Date> at;
    JsonReader::Name name;
    while (r.member(name)) {
        if (name == "id") {
            stringField(r, id);
        } else if (name == "sessionID") {
            stringField(r, sessionID);
        } else if (name == "at") {
            dateField(r, at);
        } else if (name == "text") {
            stringField(r, text);
        } else {
            r.skip();
        }
    }
    if (r.failed() || !id.value || !sessionID.value || !at.value || !text.value) {
        return std::nullopt;
    }
    return Prompt{std::move(*id.value), std::move(*sessionID.value), *at.value,
                  std::move(*text.value)};
}

// An array of records, each read on its own: an element that does not read is dropped alone and
// counted in `dropped`.
template <typename T, typename Read>
void listField(JsonReader& r, Slot<QList<T>>& slot, qsizetype& dropped, Read read) {
    field(r, slot, Kind::array, [&](Slot<QList<T>>& s) {
        r.beginArray();
        QList<T> list;
        qsizetype bad = 0;
        while (r.element()) {
            if (auto record = alone(r, read)) {
                list.append(std::move(*record));
            } else {
                ++bad;
            }
        }
        dropped = bad;
        s.set(std::move(list));
    });
}

std::optional<QString> readID(JsonReader& r) {
    if (r.next() != Kind::string) {
        r.skip();
        return std::nullopt;
    }
    return r.string();
}

// An object of values, each read by `read` (none when it does not read); a name repeated counts
// with its last value. Strict: one value that does not read spoils the whole. Lossy: each value
// is read on its own, and one that does not read is dropped alone and counted in `dropped`. The
// entries are gathered first so that the table is sized once.
template <typename T, typename Read>
bool readMap(JsonReader& r, QHash<QString, T>& map, qsizetype* dropped, Read read) {
    if (r.next() != Kind::object) {
        r.skip();
        return false;
    }
    r.beginObject();
    std::vector<std::pair<QString, std::optional<T>>> entries;
    qsizetype bad = 0;
    QSet<QString> spoilt; // strict: the names whose last value did not read
    JsonReader::Name name;
    while (r.member(name)) {
        auto value = dropped ? alone(r, read) : read(r);
        QString key = name.toString();
        if (value) {
            if (!spoilt.isEmpty()) {
                spoilt.remove(key);
            }
        } else if (dropped) {
            ++bad;
        } else {
            spoilt.insert(key);
        }
        entries.emplace_back(std::move(key), std::move(value));
    }
    if (r.failed() || !spoilt.isEmpty()) {
        return false;
    }
    map.reserve(qsizetype(entries.size()));
    for (auto& [key, value] : entries) {
        if (value) {
            map.insert(std::move(key), std::move(*value));
        } else {
            map.remove(key);
        }
    }
    if (dropped) {
        *dropped = bad;
    }
    return true;
}

std::optional<Date> readDate(JsonReader& r) {
    if (r.next() != Kind::number) {
        r.skip();
        return std::nullopt;
    }
    const auto n = r.number();
    return n ? std::optional<Date>(Date(n->value)) : std::nullopt;
}

std::optional<Store::SourceCheck> readSourceCheck(JsonReader& r) {
    if (r.next() != Kind::object) {
        r.skip();
        return std::nullopt;
    }
    r.beginObject();
    Slot<QString> id;
    Slot<Date> modified;
    JsonReader::Name field;
    while (r.member(field)) {
        if (field == "id") {
            stringField(r, id);
        } else if (field == "modified") {
            dateField(r, modified);
        } else {
            r.skip();
        }
    }
    if (r.failed() || !id.value || !modified.value || !std::isfinite(modified.value->seconds)) {
        return std::nullopt;
    }
    return Store::SourceCheck{std::move(*id.value), *modified.value};
}

// The checks only spare reads, so each entry is read on its own and one that does not read is
// dropped alone (its name kept, so that it still overrides an earlier repeat); they are sorted
// out once the items are known.
struct SourceCheckEntry {
    JsonReader::Name path;
    std::optional<Store::SourceCheck> check;
};

void sourceChecksField(JsonReader& r, Slot<std::vector<SourceCheckEntry>>& slot) {
    field(r, slot, Kind::object, [&r](Slot<std::vector<SourceCheckEntry>>& s) {
        r.beginObject();
        std::vector<SourceCheckEntry> entries;
        JsonReader::Name name;
        while (r.member(name)) {
            entries.push_back(SourceCheckEntry{name, alone(r, readSourceCheck)});
        }
        s.set(std::move(entries));
    });
}

// The ids of the items read, held as a table of their hashes: a few bytes an item that stay in
// the cache, where a set of the texts costs a miss or two at every look-up. Two ids of one hash
// only let a check of an item no longer held through, which its use then finds naming no item,
// and which the next purge drops.
class HeldIDs {
public:
    explicit HeldIDs(const Store::Index& index) {
        const qsizetype count =
            index.items.size() + (index.hiddenItems ? index.hiddenItems->size() : 0);
        // At most half full, so that a look-up ends within a probe or two.
        slots_.assign(std::bit_ceil(size_t(count) * 2 + 2), 0);
        for (const ShelfItem& item : index.items) {
            insert(item.id);
        }
        if (index.hiddenItems) {
            for (const HiddenRecord& record : *index.hiddenItems) {
                insert(record.item.id);
            }
        }
    }
    bool contains(const QString& id) const { return *find(hashOf(id)) != 0; }
    // How many distinct ids.
    qsizetype size() const { return size_; }

private:
    // Seeded as the process's own hash tables are, so that no file can choose ids that collide.
    static size_t hashOf(const QString& id) {
        const size_t hash = qHash(id, QHashSeed::globalSeed());
        return hash == 0 ? 1 : hash; // 0 marks a free slot
    }
    const size_t* find(size_t hash) const {
        const size_t mask = slots_.size() - 1;
        size_t i = hash & mask;
        while (slots_[i] != 0 && slots_[i] != hash) {
            i = (i + 1) & mask;
        }
        return &slots_[i];
    }
    void insert(const QString& id) {
        const size_t hash = hashOf(id);
        size_t* slot = const_cast<size_t*>(find(hash));
        if (*slot == 0) {
            *slot = hash;
            ++size_;
        }
    }

    std::vector<size_t> slots_;
    qsizetype size_ = 0;
};

// A check serves only while its item is held, so one naming no item read is dropped, and no
// more are kept than there are items: an index holding millions of them costs neither the
// memory nor the time at every write.
QHash<QString, Store::SourceCheck> heldSourceChecks(std::vector<SourceCheckEntry>& entries,
                                                    const Store::Index& index) {
    const HeldIDs held(index);
    QHash<QString, Store::SourceCheck> checks;
    checks.reserve(std::min(held.size(), qsizetype(entries.size())));
    for (SourceCheckEntry& entry : entries) {
        const bool good = entry.check && held.contains(entry.check->id);
        if (!good && checks.isEmpty()) {
            continue;
        }
        QString path = entry.path.toString();
        if (!good) {
            checks.remove(path); // a name repeated counts with its last value
        } else if (checks.size() < held.size() || checks.contains(path)) {
            checks.insert(std::move(path), std::move(*entry.check));
        }
    }
    return checks;
}

void datesField(JsonReader& r, Slot<QHash<QString, Date>>& slot, qsizetype& dropped) {
    field(r, slot, Kind::object, [&](Slot<QHash<QString, Date>>& s) {
        QHash<QString, Date> map;
        readMap(r, map, &dropped, readDate) ? s.set(std::move(map)) : s.wrong();
    });
}

// An offset, 0 to 2^64 - 1. Offsets are written clamped to the signed range, so one beyond it,
// as another writer may have left it, reads as that bound.
std::optional<quint64> readOffset(JsonReader& r) {
    if (r.next() != Kind::number) {
        r.skip();
        return std::nullopt;
    }
    const auto n = r.number();
    if (!n) {
        return std::nullopt;
    }
    if (n->isInteger) {
        return n->integer >= 0 ? std::optional<quint64>(quint64(n->integer)) : std::nullopt;
    }
    // 2^64 - 1 itself arrives rounded to 2^64, the nearest double.
    const double d = n->value;
    if (!std::isfinite(d) || d < 0 || std::floor(d) != d || d > 18446744073709551616.0) {
        return std::nullopt;
    }
    return static_cast<quint64>(std::numeric_limits<qint64>::max());
}

// Says in one line what the index lost in reading: how many elements of each list or table,
// and which members of its own, did not read.
void logDropped(const std::vector<std::pair<const char*, qsizetype>>& dropped,
                const QStringList& absent) {
    QStringList lost;
    for (const auto& [what, count] : dropped) {
        if (count > 0) {
            lost.append(QStringLiteral("%1 %2").arg(count).arg(QLatin1StringView(what)));
        }
    }
    if (!absent.isEmpty()) {
        lost.append(absent.join(u", ") + QStringLiteral(" taken as absent"));
    }
    if (!lost.isEmpty()) {
        qCWarning(lcStore, "index: dropped what did not read: %s",
                  qUtf8Printable(lost.join(u"; ")));
    }
}

} // namespace

std::optional<Store::Index> Store::Index::decode(QByteArrayView json) {
    JsonReader r(json);
    if (r.next() != Kind::object) {
        return std::nullopt;
    }
    r.beginObject();
    Slot<qint64> version;
    Slot<Date> lastRunAt;
    Slot<QList<ShelfItem>> items;
    Slot<QList<Session>> sessions;
    Slot<QList<Prompt>> prompts;
    Slot<QStringList> hidden;
    Slot<QList<HiddenRecord>> hiddenItems;
    Slot<QHash<QString, Date>> deleted, deletedPaths, titleChecks;
    Slot<std::vector<SourceCheckEntry>> sourceChecks;
    qsizetype badItems = 0, badSessions = 0, badPrompts = 0, badHidden = 0, badRecords = 0;
    qsizetype badDeleted = 0, badPaths = 0, badTitleChecks = 0;
    // Each member is read on its own: one that does not read, or is of the wrong type, counts as
    // absent (and without items, sessions or prompts the document does not read).
    QStringList absent;
    const auto member = [&r, &absent](const char* what, auto& slot, const auto& read) {
        const JsonReader::Mark mark = r.mark();
        read(slot);
        if (r.failed()) {
            r.rewind(mark);
            r.passOver();
            slot.wrong();
        }
        absent.removeAll(QLatin1StringView(what)); // a name repeated counts with its last value
        if (slot.bad) {
            slot.absent();
            absent.append(QLatin1StringView(what));
        }
    };
    const auto list = [&r](qsizetype& dropped, const auto& read) {
        return [&r, &dropped, read](auto& slot) { listField(r, slot, dropped, read); };
    };
    const auto dates = [&r](qsizetype& dropped) {
        return [&r, &dropped](auto& slot) { datesField(r, slot, dropped); };
    };
    JsonReader::Name name;
    while (r.member(name)) {
        if (name == "items") {
            member("items", items, list(badItems, readItem));
        } else if (name == "sessions") {
            member("sessions", sessions, list(badSessions, readSession));
        } else if (name == "prompts") {
            member("prompts", prompts, list(badPrompts, readPrompt));
        } else if (name == "hiddenItems") {
            member("hiddenItems", hiddenItems, list(badRecords, readHiddenRecord));
        } else if (name == "hidden") {
            member("hidden", hidden, list(badHidden, readID));
        } else if (name == "deleted") {
            member("deleted", deleted, dates(badDeleted));
        } else if (name == "deletedPaths") {
            member("deletedPaths", deletedPaths, dates(badPaths));
        } else if (name == "titleChecks") {
            member("titleChecks", titleChecks, dates(badTitleChecks));
        } else if (name == "sourceChecks") {
            member("sourceChecks", sourceChecks, [&r](auto& slot) { sourceChecksField(r, slot); });
        } else if (name == "lastRunAt") {
            member("lastRunAt", lastRunAt, [&r](auto& slot) { dateField(r, slot); });
        } else if (name == "version") {
            member("version", version, [&r](auto& slot) { integerField(r, slot); });
        } else {
            r.passOver();
        }
    }
    if (!r.finish() || !items.value || !sessions.value || !prompts.value) {
        return std::nullopt;
    }
    logDropped({{"items", badItems},
                {"sessions", badSessions},
                {"prompts", badPrompts},
                {"hidden records", badRecords},
                {"hidden ids", badHidden},
                {"deletion marks", badDeleted},
                {"deleted paths", badPaths},
                {"title checks", badTitleChecks}},
               absent);
    Index index;
    index.lastRunAt = lastRunAt.value;
    index.items = std::move(*items.value);
    index.sessions = std::move(*sessions.value);
    index.prompts = std::move(*prompts.value);
    index.hidden = std::move(hidden.value);
    index.hiddenItems = std::move(hiddenItems.value);
    index.deleted = std::move(deleted.value);
    index.deletedPaths = std::move(deletedPaths.value);
    index.titleChecks = std::move(titleChecks.value);
    if (sourceChecks.value) {
        index.sourceChecks = heldSourceChecks(*sourceChecks.value, index);
    }
    return index;
}

std::optional<QHash<QString, quint64>> Store::decodeOffsets(QByteArrayView json) {
    JsonReader r(json);
    QHash<QString, quint64> offsets;
    if (!readMap(r, offsets, nullptr, readOffset) || !r.finish()) {
        return std::nullopt;
    }
    return offsets;
}

std::optional<Date> Store::decodeUnfinishedStart(QByteArrayView json) {
    JsonReader r(json);
    Slot<Date> startedAt;
    if (!r.beginObject()) {
        return std::nullopt;
    }
    JsonReader::Name name;
    while (r.member(name)) {
        if (name == "startedAt") {
            dateField(r, startedAt);
        } else {
            r.skip();
        }
    }
    if (!r.finish() || startedAt.bad || !startedAt.value ||
        !std::isfinite(startedAt.value->seconds)) {
        return std::nullopt;
    }
    return startedAt.value;
}

} // namespace ostrel
