// Loading, recovering and saving the two files of the store.
#include "OstrelCore/Records/Json.h"
#include "OstrelCore/Records/JsonWriter.h"
#include "OstrelCore/Records/OstrelPaths.h"
#include "OstrelCore/Records/Store.h"
#include "Platform/AtomicFile.h"
#include "Platform/FileStat.h"
#include "Platform/Log.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocale>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace ostrel {

namespace {

const QString indexName = QStringLiteral("index.json");
const QString offsetsName = QStringLiteral("offsets.json");

// A strict map of dates: absent gives none; anything but an object of numbers fails.
bool readDates(const QJsonObject& o, const QString& key, std::optional<QHash<QString, Date>>& out) {
    const QJsonValue v = o.value(key);
    if (Json::isAbsent(v)) {
        return true;
    }
    if (!v.isObject()) {
        return false;
    }
    QHash<QString, Date> map;
    const QJsonObject inner = v.toObject();
    for (auto it = inner.begin(); it != inner.end(); ++it) {
        const auto d = Json::date(it.value());
        if (!d.value) {
            return false;
        }
        map.insert(it.key(), *d.value);
    }
    out = map;
    return true;
}

void logNotSaved(const QString& label, const Error& error) {
    // The reason in words ("no space left on device"), then the error's family and number.
    qCCritical(lcStore, "%s not saved: %s (%s %ld)", qUtf8Printable(label),
               qUtf8Printable(Error::describe(error)), qUtf8Printable(error.domain), error.code);
}

// An offset as written, 0 to 2^64 - 1. Offsets are written clamped to the signed range, so one
// beyond it, as another writer may have left it, reads as that bound.
std::optional<quint64> offsetValue(const QJsonValue& v) {
    if (!v.isDouble()) {
        return std::nullopt;
    }
    const double d = v.toDouble();
    // 2^64 - 1 itself arrives rounded to 2^64, the nearest double.
    if (!std::isfinite(d) || d < 0 || std::floor(d) != d || d > 18446744073709551616.0) {
        return std::nullopt;
    }
    constexpr auto largest = static_cast<quint64>(std::numeric_limits<qint64>::max());
    const qint64 exact = v.toInteger(-1);
    if (exact >= 0) {
        return static_cast<quint64>(exact);
    }
    return largest;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// The index format

QByteArray Store::Index::encode() const {
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
        for (const auto& record : records) {
            record.write(out);
        }
        out.endArray();
    };
    out.beginObject();
    dates(u"deleted", deleted);
    dates(u"deletedPaths", deletedPaths);
    if (hidden) {
        out.key(u"hidden");
        out.beginArray();
        for (const QString& id : *hidden) {
            out.string(id);
        }
        out.endArray();
    }
    if (hiddenItems) {
        list(u"hiddenItems", *hiddenItems);
    }
    list(u"items", items);
    if (lastRunAt) {
        out.key(u"lastRunAt");
        out.date(*lastRunAt);
    }
    list(u"prompts", prompts);
    list(u"sessions", sessions);
    dates(u"titleChecks", titleChecks);
    out.key(u"version");
    out.integer(version);
    out.endObject();
    return out.take();
}

std::optional<Store::Index> Store::Index::decode(const QByteArray& json) {
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        return std::nullopt;
    }
    const QJsonObject o = doc.object();
    Index index;

    const auto version = Json::integer(o, QStringLiteral("version"));
    if (!version.ok) {
        return std::nullopt;
    }
    const auto lastRun = Json::date(o, QStringLiteral("lastRunAt"));
    if (!lastRun.ok) {
        return std::nullopt;
    }
    index.lastRunAt = lastRun.value;

    const QJsonValue items = o.value(QStringLiteral("items"));
    const QJsonValue sessions = o.value(QStringLiteral("sessions"));
    const QJsonValue prompts = o.value(QStringLiteral("prompts"));
    if (!items.isArray() || !sessions.isArray() || !prompts.isArray()) {
        return std::nullopt;
    }
    for (const QJsonValue& element : items.toArray()) {
        const Lossy<ShelfItem> lossy{ShelfItem::fromJson(element)};
        if (lossy.value) {
            index.items.append(*lossy.value);
        }
    }
    for (const QJsonValue& element : sessions.toArray()) {
        const auto session = Session::fromJson(element);
        if (!session) {
            return std::nullopt;
        }
        index.sessions.append(*session);
    }
    for (const QJsonValue& element : prompts.toArray()) {
        const auto prompt = Prompt::fromJson(element);
        if (!prompt) {
            return std::nullopt;
        }
        index.prompts.append(*prompt);
    }

    const QJsonValue hidden = o.value(QStringLiteral("hidden"));
    if (!Json::isAbsent(hidden)) {
        if (!hidden.isArray()) {
            return std::nullopt;
        }
        QStringList ids;
        for (const QJsonValue& id : hidden.toArray()) {
            if (!id.isString()) {
                return std::nullopt;
            }
            ids.append(id.toString());
        }
        index.hidden = ids;
    }
    const QJsonValue hiddenItems = o.value(QStringLiteral("hiddenItems"));
    if (!Json::isAbsent(hiddenItems)) {
        if (!hiddenItems.isArray()) {
            return std::nullopt;
        }
        QList<HiddenRecord> records;
        for (const QJsonValue& element : hiddenItems.toArray()) {
            const Lossy<HiddenRecord> lossy{HiddenRecord::fromJson(element)};
            if (lossy.value) {
                records.append(*lossy.value);
            }
        }
        index.hiddenItems = records;
    }
    if (!readDates(o, QStringLiteral("deleted"), index.deleted) ||
        !readDates(o, QStringLiteral("deletedPaths"), index.deletedPaths) ||
        !readDates(o, QStringLiteral("titleChecks"), index.titleChecks)) {
        return std::nullopt;
    }
    return index;
}

// ---------------------------------------------------------------------------------------------
// Construction and loading

std::shared_ptr<Store> Store::make(const QUrl& root, Clock now,
                                   std::shared_ptr<SerialQueue> autosave, double debounce,
                                   double offsetsDebounce) {
    std::shared_ptr<Store> store(
        new Store(root, std::move(now), std::move(autosave), debounce, offsetsDebounce));
    store->load();
    return store;
}

Store::Store(const QUrl& root, Clock now, std::shared_ptr<SerialQueue> autosave, double debounce,
             double offsetsDebounce)
    : rootPath_(QDir::cleanPath(root.toLocalFile())),
      itemsDir_(rootPath_ + QStringLiteral("/items")),
      thumbsDir_(rootPath_ + QStringLiteral("/thumbs")), now_(std::move(now)),
      autosave_(std::move(autosave)), debounce_(debounce), offsetsDebounce_(offsetsDebounce) {}

void Store::load() {
    // The support folder holds screenshots and prompt texts: private to the user. One that was
    // already there may be the user's own choice of folder, with the modes they gave it: it is
    // left as it is, and only said to be open. Our files inside are 0600 either way.
    AtomicFile::makeFolder(rootPath_, 0700, false);
    AtomicFile::makeFolder(itemsDir_, 0700);
    AtomicFile::makeFolder(thumbsDir_, 0700);
    if (const auto st = FileStat::stat(rootPath_); st && (st->mode & 077) != 0) {
        qCWarning(lcStore,
                  "support folder %s is open to others (mode %04o); its files stay private",
                  qUtf8Printable(rootPath_), static_cast<unsigned>(st->mode & 07777));
    }
    canonicalItemsDir_ = OstrelPaths::canonical(itemsDir_);
    canonicalThumbsDir_ = OstrelPaths::canonical(thumbsDir_);

    loadIndex();
    loadOffsets();
    launchedAt_ = now_();
    rebuildLookups();
}

void Store::loadIndex() {
    const QString path = rootPath_ + u'/' + indexName;
    if (!FileStat::exists(path)) {
        if (errno != ENOENT && errno != ENOTDIR) {
            // The path cannot even be looked at; its content may be fine. Keep it, and never
            // replace it during this run.
            qCCritical(lcStore, "index not readable, left in place: %s",
                       qUtf8Printable(Error::fromErrno().message));
            indexWritable_ = false;
        }
        return; // first run
    }

    // A link the user made is followed: only what is not a regular file at its end is set aside.
    std::optional<Index> index;
    const auto st = FileStat::stat(path);
    if (!st && errno != ENOENT && errno != ELOOP && errno != ENOTDIR) {
        qCCritical(lcStore, "index not readable, left in place: %s",
                   qUtf8Printable(Error::fromErrno().message));
        indexWritable_ = false;
        return;
    }
    if (st && st->isRegular()) {
        QFile file(path);
        errno = 0;
        if (!file.open(QIODevice::ReadOnly)) {
            const int err = errno;
            qCCritical(lcStore, "index not readable, left in place: %s",
                       qUtf8Printable(err ? Error::posix(err).message : file.errorString()));
            indexWritable_ = false;
            return;
        }
        errno = 0;
        const QByteArray bytes = file.readAll();
        if (file.error() != QFileDevice::NoError) {
            const int err = errno;
            qCCritical(lcStore, "index not readable, left in place: %s",
                       qUtf8Printable(err ? Error::posix(err).message : file.errorString()));
            indexWritable_ = false;
            return;
        }
        index = Index::decode(bytes);
    }

    if (!index) {
        // Read and not decodable, or not a file at all: set it aside and start afresh.
        indexSetAside_ = true;
        if (!moveUnreadableIndex(path, now_())) {
            qCCritical(lcStore, "unreadable index could not be set aside; not writing an index "
                                "during this run");
            indexWritable_ = false;
        }
        return;
    }

    isFirstRun_ = false;
    previousRunAt_ = index->lastRunAt;
    for (const ShelfItem& item : index->items) {
        if (!items_.contains(item.id)) {
            items_.insert(item.id, item);
        }
    }
    for (const Session& session : index->sessions) {
        if (!sessions_.contains(session.id)) {
            sessions_.insert(session.id, session);
        }
    }
    for (const Prompt& prompt : index->prompts) {
        if (!prompts_.contains(prompt.id)) {
            prompts_.insert(prompt.id, prompt);
        }
    }
    if (index->hidden) {
        hidden_ = QSet<QString>(index->hidden->begin(), index->hidden->end());
    }
    if (index->hiddenItems) {
        for (const HiddenRecord& record : *index->hiddenItems) {
            if (!hiddenItems_.contains(record.item.id)) {
                hiddenItems_.insert(record.item.id, record);
            }
        }
    }
    deleted_ = index->deleted.value_or(QHash<QString, Date>());
    deletedPaths_ = index->deletedPaths.value_or(QHash<QString, Date>());
    titleChecks_ = index->titleChecks.value_or(QHash<QString, Date>());
}

void Store::loadOffsets() {
    const QString path = rootPath_ + u'/' + offsetsName;
    if (indexSetAside_) {
        // The offsets say which transcript lines the lost index already holds: with the index
        // gone they would keep those lines from ever being read again.
        setOffsetsAside(path);
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return;
    }
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        return;
    }
    QHash<QString, quint64> offsets;
    const QJsonObject o = doc.object();
    for (auto it = o.begin(); it != o.end(); ++it) {
        const auto value = offsetValue(it.value());
        if (!value) {
            return;
        }
        offsets.insert(it.key(), *value);
    }
    offsets_ = offsets;
}

void Store::setOffsetsAside(const QString& path) {
    if (!FileStat::exists(path)) {
        return;
    }
    if (const auto target = moveAside(path, QStringLiteral("offsets"), now_())) {
        qCWarning(lcStore, "offsets set aside with the index: %s moved to %s", qUtf8Printable(path),
                  qUtf8Printable(*target));
        return;
    }
    // Not movable: an empty file in its place serves as well.
    if (const auto error = AtomicFile::write(path, "{}")) {
        logNotSaved(QStringLiteral("offsets"), *error);
    }
}

void Store::rebuildLookups() {
    idsByContent_.clear();
    idsByPath_.clear();
    hiddenIDsByPath_.clear();
    for (const ShelfItem& item : std::as_const(items_)) {
        idsByContent_[contentKey(item.id)].insert(item.id);
        if (item.sourcePath) {
            idsByPath_[*item.sourcePath].insert(item.id);
        }
    }
    for (const HiddenRecord& record : std::as_const(hiddenItems_)) {
        if (record.item.sourcePath) {
            hiddenIDsByPath_[*record.item.sourcePath].insert(record.item.id);
        }
    }
}

QString Store::stamp(Date at) {
    return QLocale::c().toString(at.toDateTime(), QStringLiteral("yyyyMMdd'T'HHmmss"));
}

std::optional<QString> Store::moveAside(const QString& path, const QString& base, Date at) {
    const QString folder = QFileInfo(path).absolutePath();
    const QString stampText = stamp(at);
    const QString prefix = folder + u'/' + base + QStringLiteral(".unreadable-") + stampText;
    QString target = prefix + QStringLiteral(".json");
    if (FileStat::exists(target)) {
        target = prefix + u'-' + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() +
                 QStringLiteral(".json");
    }
    const QByteArray from = QFile::encodeName(path);
    const QByteArray to = QFile::encodeName(target);
    if (::rename(from.constData(), to.constData()) == 0) {
        return target;
    }
    // A move can fail where a copy works (a read-only file on some file systems, a bind mount):
    // keep the content whole either way.
    const auto st = FileStat::stat(path);
    if (st && st->isRegular()) {
        QFile source(path);
        if (source.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = source.readAll();
            if (source.error() == QFileDevice::NoError && !AtomicFile::write(target, bytes)) {
                return target;
            }
        }
    }
    return std::nullopt;
}

bool Store::moveUnreadableIndex(const QString& path, Date at) {
    const auto target = moveAside(path, QStringLiteral("index"), at);
    if (target) {
        qCWarning(lcStore,
                  "unreadable index set aside: %s moved to %s; transcripts are read again "
                  "from their start",
                  qUtf8Printable(path), qUtf8Printable(*target));
    }
    return target.has_value();
}

// ---------------------------------------------------------------------------------------------
// Saving

void Store::markDirty(bool bumpRevision) {
    if (bumpRevision) {
        ++revision_;
    }
    indexDirty_ = true;
    if (autosave_ && !indexWritePending_) {
        indexWritePending_ = true;
        autosave_->after(debounce_, [weak = weak_from_this()] {
            const auto self = weak.lock();
            if (!self) {
                return;
            }
            self->indexWritePending_ = false;
            if (self->indexDirty_) {
                self->save();
            }
        });
    }
}

void Store::scheduleOffsetsSave() {
    offsetsDirty_ = true;
    if (autosave_ && !offsetsWritePending_) {
        offsetsWritePending_ = true;
        autosave_->after(offsetsDebounce_, [weak = weak_from_this()] {
            const auto self = weak.lock();
            if (!self) {
                return;
            }
            self->offsetsWritePending_ = false;
            if (self->indexDirty_) {
                self->save();
            }
            if (self->offsetsDirty_) {
                self->offsetsDirty_ = false;
                self->writeOffsets(self->offsets_, self->rootPath_ + u'/' + offsetsName);
            }
        });
    }
}

void Store::save() {
    indexDirty_ = false;
    Index index;
    index.version = 1;
    index.lastRunAt = clock();
    index.items = items_.values();
    index.sessions = sessions_.values();
    index.prompts = prompts_.values();
    QStringList hidden(hidden_.begin(), hidden_.end());
    std::sort(hidden.begin(), hidden.end());
    index.hidden = hidden;
    QList<HiddenRecord> records = hiddenItems_.values();
    std::sort(records.begin(), records.end(),
              [](const HiddenRecord& a, const HiddenRecord& b) { return a.item.id < b.item.id; });
    index.hiddenItems = records;
    index.deleted = deleted_;
    index.deletedPaths = deletedPaths_;
    index.titleChecks = titleChecks_;
    writeIndex(index, rootPath_ + u'/' + indexName);
}

bool Store::writeIndex(const Index& index, const QString& path) {
    if (!indexWritable_) {
        return false;
    }
    if (const auto error = AtomicFile::write(path, index.encode())) {
        logNotSaved(QStringLiteral("index"), *error);
        return false;
    }
    return true;
}

bool Store::writeOffsets(const QHash<QString, quint64>& offsets, const QString& path) {
    JsonWriter out;
    // Offsets are file sizes; a value beyond the signed range cannot occur in practice.
    static constexpr auto largest = static_cast<quint64>(std::numeric_limits<qint64>::max());
    out.sortedObject(offsets, [&out](quint64 offset) {
        out.integer(static_cast<qint64>(std::min(offset, largest)));
    });
    if (const auto error = AtomicFile::write(path, out.take())) {
        logNotSaved(QStringLiteral("offsets"), *error);
        return false;
    }
    return true;
}

void Store::setOffset(quint64 offset, const QString& path) {
    const auto it = offsets_.constFind(path);
    if (it != offsets_.constEnd() && it.value() == offset) {
        return;
    }
    offsets_.insert(path, offset);
    scheduleOffsetsSave();
}

void Store::setTitleChecked(const QString& sessionID, Date modified) {
    const auto it = titleChecks_.constFind(sessionID);
    if (it != titleChecks_.constEnd() && it.value() == modified) {
        return;
    }
    if (!std::isfinite(modified.seconds)) {
        return;
    }
    titleChecks_.insert(sessionID, modified);
    markDirty(false);
}

void Store::setNeedsSave() {
    markDirty(true);
}

void Store::flush() {
    save();
    offsetsDirty_ = false;
    writeOffsets(offsets_, rootPath_ + u'/' + offsetsName);
}

} // namespace ostrel
