// The index and offsets files as text: the index written from the store's own tables and read
// back element by element, an element that does not read lost alone; the offsets read back
// all or nothing.
#include "OstrelCore/Records/JsonReader.h"
#include "OstrelCore/Records/JsonWriter.h"
#include "OstrelCore/Records/RecordReading.h"
#include "OstrelCore/Records/Store.h"
#include "OstrelCore/Records/StoreIndexParts.h"

#include <QSet>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <optional>
#include <string_view>
#include <type_traits>
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
    if (rest.removing && !rest.removing->isEmpty()) {
        out.key(u"removing");
        out.beginArray();
        for (const Store::Removal& removal : *rest.removing) {
            if (!removal.file) {
                out.string(removal.name); // as an earlier version wrote it
                continue;
            }
            // Device and inode are unsigned: kept as the signed number of the same bits.
            const FileIdentity& file = *removal.file;
            out.beginObject();
            out.key(u"device");
            out.integer(static_cast<qint64>(static_cast<quint64>(file.device)));
            out.key(u"inode");
            out.integer(static_cast<qint64>(static_cast<quint64>(file.inode)));
            out.key(u"modified");
            out.integer(file.modified);
            out.key(u"name");
            out.string(removal.name);
            out.key(u"size");
            out.integer(file.size);
            out.endObject();
        }
        out.endArray();
    }
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

using namespace recordReading;

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

// Qt's hash of a text, on a processor with 256-bit AES, returns with the upper halves of the
// vector registers in use. Until something clears them, every SSE instruction after it, which the
// reader is made of, waits on those halves: a single hash early in a long index made all the rest
// of its reading up to a tenth slower. So each hash table filled here is followed by this. Code
// built for AVX has no such instructions, and may keep values in those halves: it is left alone.
void clearUpperVectors() {
#if defined(__x86_64__) && !defined(__AVX__)
    static const bool avx = __builtin_cpu_supports("avx");
    if (avx) {
        asm volatile("vzeroupper");
    }
#endif
}

// An object of values, each read by `read` (none when it does not read); a name repeated counts
// with its last value. Strict: one name or value that does not read spoils the whole. Lossy:
// each entry is read on its own, and one whose name or value does not read is dropped alone and
// counted in `dropped`. The entries are gathered first so that the table is sized once.
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
    bool readable = true;
    while (r.member(name, readable)) {
        if (!readable) {
            // A name that is no text names no entry, and overrides none.
            if (!dropped || !r.passOver()) {
                return false;
            }
            ++bad;
            continue;
        }
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
    clearUpperVectors();
    if (dropped) {
        *dropped = bad;
    }
    return true;
}

// A name of ours in the items or thumbnails folder, nothing that could lead elsewhere: a copy,
// a thumbnail, or a link file by the name its writer gives it.
bool isRemovalName(const QString& name) {
    const QByteArray bytes = name.toUtf8();
    const std::string_view text(bytes.constData(), size_t(bytes.size()));
    for (const auto& [folder, thumbnail] :
         {std::pair{std::string_view("items/"), false}, {std::string_view("thumbs/"), true}}) {
        if (text.starts_with(folder) &&
            storeIndexParts::ownFileName(text.substr(folder.size()), thumbnail)) {
            return true;
        }
    }
    return name.startsWith(QLatin1String("items/")) &&
           Store::isLinkFileName(QStringView(name).sliced(6));
}

// A file the index records as to be removed: its name, and what identifies the file meant. A
// bare name, as earlier versions wrote, reads without the file; one that lacks any part of it
// does not read.
std::optional<Store::Removal> readRemoval(JsonReader& r) {
    if (r.next() == Kind::string) {
        auto name = readID(r);
        if (!name || !isRemovalName(*name)) {
            return std::nullopt;
        }
        return Store::Removal{std::move(*name), std::nullopt};
    }
    if (!openRecord(r)) {
        return std::nullopt;
    }
    Slot<QString> name;
    Slot<qint64> device, inode, modified, size;
    JsonReader::Name field;
    while (r.member(field)) {
        if (field == "name") {
            stringField(r, name);
        } else if (field == "device") {
            integerField(r, device);
        } else if (field == "inode") {
            integerField(r, inode);
        } else if (field == "modified") {
            integerField(r, modified);
        } else if (field == "size") {
            integerField(r, size);
        } else {
            r.skip();
        }
    }
    if (r.failed() || !name.value || !device.value || !inode.value || !modified.value ||
        !size.value || !isRemovalName(*name.value)) {
        return std::nullopt;
    }
    FileIdentity file;
    file.device = static_cast<dev_t>(static_cast<quint64>(*device.value));
    file.inode = static_cast<ino_t>(static_cast<quint64>(*inode.value));
    file.size = *size.value;
    file.modified = *modified.value;
    return Store::Removal{std::move(*name.value), file};
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
    if (!openRecord(r)) {
        return std::nullopt;
    }
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

// The ids of the items read, held as a table of their hashes: a few bytes an item that stay in
// the cache, where a set of the texts costs a miss or two at every look-up. Two ids of one hash
// only let a check of an item no longer held through, which its use then finds naming no item,
// and which the next purge drops. The hashes are taken as the items are read, while their ids
// are at hand: by the end of a long index they have left the cache.
class HeldIDs {
public:
    // Seeded as the process's own hash tables are, so that no file can choose ids that collide.
    static size_t hashOf(const QString& id) {
        const size_t hash = qHash(id, QHashSeed::globalSeed());
        clearUpperVectors();
        return hash == 0 ? 1 : hash; // 0 marks a free slot
    }

    HeldIDs(const std::vector<size_t>& items, const std::vector<size_t>& hiddenItems) {
        // At most half full, so that a look-up ends within a probe or two.
        slots_.assign(std::bit_ceil((items.size() + hiddenItems.size()) * 2 + 2), 0);
        for (const auto* hashes : {&items, &hiddenItems}) {
            for (const size_t hash : *hashes) {
                size_t* slot = const_cast<size_t*>(find(hash));
                if (*slot == 0) {
                    *slot = hash;
                    ++size_;
                }
            }
        }
    }
    bool contains(const QString& id) const { return *find(hashOf(id)) != 0; }
    // How many distinct ids.
    qsizetype size() const { return size_; }

private:
    const size_t* find(size_t hash) const {
        const size_t mask = slots_.size() - 1;
        size_t i = hash & mask;
        while (slots_[i] != 0 && slots_[i] != hash) {
            i = (i + 1) & mask;
        }
        return &slots_[i];
    }

    std::vector<size_t> slots_;
    qsizetype size_ = 0;
};

// Reads records through `read` and adds the hash of each one's id to `hashes`.
template <typename Read> auto hashingIDs(Read read, std::vector<size_t>& hashes) {
    return [read, &hashes](JsonReader& r) {
        auto record = read(r);
        if (record) {
            if constexpr (std::is_same_v<decltype(*record), HiddenRecord&>) {
                hashes.push_back(HeldIDs::hashOf(record->item.id));
            } else {
                hashes.push_back(HeldIDs::hashOf(record->id));
            }
        }
        return record;
    };
}

// The checks only spare reads, so each entry is read on its own and one that does not read is
// dropped alone, counted in `dropped`. They go straight into the table they are kept in, each
// path made into a text once while its bytes are at hand: a name repeated counts with its last
// value, and one whose last value did not read is kept as a marker (a time that is no number) so
// that it still overrides an earlier repeat. `held` holds the items read so far, which in a file
// of ours are all of them: whether each check names one is then seen while its id is at hand,
// and the table is sized once. True when every entry read and named an item held, so that none
// needs dropping.
bool sourceChecksField(JsonReader& r, Slot<QHash<QString, Store::SourceCheck>>& slot,
                       const HeldIDs& held, qsizetype& dropped) {
    bool clean = true;
    qsizetype bad = 0;
    field(r, slot, Kind::object, [&](Slot<QHash<QString, Store::SourceCheck>>& s) {
        r.beginObject();
        QHash<QString, Store::SourceCheck> checks;
        JsonReader::Name name;
        bool readable = true;
        while (r.member(name, readable)) {
            if (!readable) {
                if (!r.passOver()) {
                    return;
                }
                ++bad;
                continue;
            }
            if (checks.isEmpty()) {
                checks.reserve(held.size());
            }
            QString path = name.toString();
            auto check = alone(r, readSourceCheck);
            bad += check ? 0 : 1;
            // One of an item not read so far is kept still: the items may follow.
            clean = clean && check && held.contains(check->id);
            checks.emplace(std::move(path),
                           check ? std::move(*check) : Store::SourceCheck{{}, Date(std::nan(""))});
            clearUpperVectors();
        }
        s.set(std::move(checks));
    });
    dropped = bad;
    return clean;
}

// A check serves only while its item is held, so one naming no item held is dropped, and no more
// are kept than there are items (those of the first paths in order): an index holding millions
// of them costs neither the memory nor the time at every write. Unless `clean`, each check is
// looked at again.
void keepHeldSourceChecks(QHash<QString, Store::SourceCheck>& checks, const HeldIDs& held,
                          bool clean) {
    if (!clean) {
        checks.removeIf([&held](const auto& entry) {
            const Store::SourceCheck& check = entry.value();
            return !std::isfinite(check.modified.seconds) || !held.contains(check.id);
        });
    }
    if (checks.size() > held.size()) {
        QStringList paths = checks.keys();
        const auto kept = paths.begin() + held.size();
        std::nth_element(paths.begin(), kept, paths.end());
        for (auto it = kept; it != paths.end(); ++it) {
            checks.remove(*it);
        }
    }
    // A table sized for far more than it keeps (many dropped, or more entries than items) is
    // given back; one sized for about the items is left as it is, as rehashing costs more.
    if (checks.capacity() > 4 * held.size() + 64) {
        checks.squeeze();
    }
    clearUpperVectors();
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

// What the index lost in reading: how many elements of each list or table, and which members of
// its own, did not read.
QStringList losses(const std::vector<std::pair<const char*, qsizetype>>& dropped,
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
    return lost;
}

} // namespace

std::optional<Store::Index> Store::Index::decode(QByteArrayView json, QStringList* lost) {
    clearUpperVectors(); // whatever ran before may have left them in use
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
    Slot<QHash<QString, SourceCheck>> sourceChecks;
    Slot<QList<Removal>> removing;
    // The hashes of the ids of the items and hidden items read, and the table of them the source
    // checks were read against; whether those are still all the items held, and whether every
    // check read and named one of them.
    std::vector<size_t> itemHashes, hiddenHashes;
    std::optional<HeldIDs> checksHeld;
    int heldReads = 0, heldReadsAtChecks = -1;
    bool checksClean = false;
    qsizetype badItems = 0, badSessions = 0, badPrompts = 0, badHidden = 0, badRecords = 0;
    qsizetype badDeleted = 0, badPaths = 0, badTitleChecks = 0, badChecks = 0, badNames = 0;
    qsizetype badRemoving = 0;
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
    bool readable = true;
    while (r.member(name, readable)) {
        if (!readable) {
            // A name that is no text: whatever member it was is lost alone.
            r.passOver();
            ++badNames;
        } else if (name == "items") {
            itemHashes.clear();
            ++heldReads;
            member("items", items, list(badItems, hashingIDs(readItem, itemHashes)));
        } else if (name == "sessions") {
            member("sessions", sessions, list(badSessions, readSession));
        } else if (name == "prompts") {
            member("prompts", prompts, list(badPrompts, readPrompt));
        } else if (name == "hiddenItems") {
            hiddenHashes.clear();
            ++heldReads;
            member("hiddenItems", hiddenItems,
                   list(badRecords, hashingIDs(readHiddenRecord, hiddenHashes)));
        } else if (name == "hidden") {
            member("hidden", hidden, list(badHidden, readID));
        } else if (name == "deleted") {
            member("deleted", deleted, dates(badDeleted));
        } else if (name == "deletedPaths") {
            member("deletedPaths", deletedPaths, dates(badPaths));
        } else if (name == "titleChecks") {
            member("titleChecks", titleChecks, dates(badTitleChecks));
        } else if (name == "sourceChecks") {
            checksHeld.emplace(itemHashes, hiddenHashes);
            heldReadsAtChecks = heldReads;
            member("sourceChecks", sourceChecks, [&](auto& slot) {
                checksClean = sourceChecksField(r, slot, *checksHeld, badChecks);
            });
        } else if (name == "removing") {
            member("removing", removing, list(badRemoving, readRemoval));
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
    // Items of which not one reads (another writer's form, a later version's, one damaged item)
    // are read in part like any: their bytes are kept aside, and the marks and offsets that do
    // read are kept. Their files stay, as no write of ours said they would go.
    if (removing.value && removing.value->size() > removingLimit) {
        badRemoving += removing.value->size() - removingLimit;
        removing.value->resize(removingLimit);
    }
    if (lost) {
        *lost = losses({{"items", badItems},
                        {"sessions", badSessions},
                        {"prompts", badPrompts},
                        {"hidden records", badRecords},
                        {"hidden ids", badHidden},
                        {"deletion marks", badDeleted},
                        {"deleted paths", badPaths},
                        {"title checks", badTitleChecks},
                        {"source checks", badChecks},
                        {"names of files to remove", badRemoving},
                        {"members of unreadable name", badNames}},
                       absent);
    }
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
    index.removing = std::move(removing.value);
    if (sourceChecks.value) {
        const bool sameItems = heldReadsAtChecks == heldReads;
        if (!sameItems) {
            checksHeld.emplace(itemHashes, hiddenHashes);
        }
        keepHeldSourceChecks(*sourceChecks.value, *checksHeld, checksClean && sameItems);
        index.sourceChecks = std::move(sourceChecks.value);
    }
    return index;
}

std::optional<QHash<QString, quint64>> Store::decodeOffsets(QByteArrayView json) {
    clearUpperVectors();
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
