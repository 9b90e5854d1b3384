// The journal of captures: what a new item needs to come back, noted before its copy is placed in
// the items folder, so that no copy is ever left that nothing of ours names. A start after a
// process that ended before an index named the item brings it back; an index written after the
// note drops it. A note is synced with the copies, at the commit before the index is written, not
// on its own: a process killed finds it in the page cache, and a power loss takes both or leaves
// a copy that is kept, never one that goes.
//
// "captures.jsonl" holds one line per capture: {"copy":<name in items>,"item":{…},"session":{…}}.
#include "OstrelCore/Records/JsonReader.h"
#include "OstrelCore/Records/JsonWriter.h"
#include "OstrelCore/Records/RecordReading.h"
#include "OstrelCore/Records/Store.h"
#include "OstrelCore/Records/StoreIndexParts.h"
#include "Platform/AtomicFile.h"
#include "Platform/Descriptors.h"
#include "Platform/FileStat.h"
#include "Platform/Log.h"

#include <QFile>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <string_view>
#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

using namespace storeIndexParts;

namespace {

using namespace recordReading;

bool finite(const std::optional<Date>& date) {
    return !date || std::isfinite(date->seconds);
}

bool isDigest(const QString& text) {
    if (text.size() != 64) {
        return false;
    }
    for (const QChar c : text) {
        if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) {
            return false;
        }
    }
    return true;
}

// One line: a note only as Store::decodeJournal() says. A session that does not read, or is not
// the item's, is left out alone.
std::optional<Store::JournalNote> decodeNote(QByteArrayView line) {
    JsonReader r(line);
    if (!r.beginObject()) {
        return std::nullopt;
    }
    Slot<QString> copy;
    std::optional<ShelfItem> item;
    std::optional<Session> session;
    JsonReader::Name name;
    while (r.member(name)) {
        if (name == "copy") {
            stringField(r, copy);
        } else if (name == "item") {
            item = alone(r, readItem);
        } else if (name == "session") {
            session = alone(r, readSession);
        } else {
            r.skip();
        }
    }
    if (!r.finish() || !copy.value || !item || item->kind == ShelfItemKind::artifact ||
        !isDigest(Store::contentKey(item->id)) || !finite(item->createdAt) ||
        !finite(item->seenAt) || (item->sourcePath && FileStat::holdsNul(*item->sourcePath))) {
        return std::nullopt;
    }
    const QByteArray bytes = copy.value->toUtf8();
    if (!ownFileName(std::string_view(bytes.constData(), size_t(bytes.size())), false) ||
        !Store::isCopyName(*copy.value, item->id)) {
        return std::nullopt;
    }
    if (session && (session->id != item->sessionID || !finite(session->startedAt) ||
                    !finite(session->lastActive) || !finite(session->firstPromptAt) ||
                    (session->cwd && FileStat::holdsNul(*session->cwd)))) {
        session.reset();
    }
    return Store::JournalNote{std::move(*copy.value), std::move(*item), std::move(session)};
}

// The first bytes of the open journal, at most `Store::journalLimit` of them; none when they
// cannot be read.
std::optional<QByteArray> readStart(int fd, qint64 size) {
    QByteArray bytes(qsizetype(std::clamp<qint64>(size, 0, Store::journalLimit)),
                     Qt::Uninitialized);
    qsizetype got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + got, size_t(bytes.size() - got), got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        got += n;
    }
    bytes.truncate(got);
    return bytes;
}

// The journal's first bytes with the file's size; none when nothing of ours is there (a link, a
// folder, a pipe) or it cannot be read.
// `file` says which file it was.
std::optional<std::pair<QByteArray, qint64>> readJournal(const QString& path,
                                                         std::optional<FileIdentity>& file) {
    const int fd = Descriptors::open(QFile::encodeName(path).constData(),
                                     O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat st {};
    std::optional<std::pair<QByteArray, qint64>> out;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        if (auto bytes = readStart(fd, st.st_size)) {
            out.emplace(std::move(*bytes), qint64(st.st_size));
            file = FileIdentity::of(st);
        }
    }
    ::close(fd);
    return out;
}

// Where the next note goes in a journal of `size` bytes that begins with `bytes`, and how many
// lines come before it: right after its last whole line (a line a kill cut short holds nothing
// placed, as the copy comes after it, and is written over). A journal past its bound is written
// after all it holds, read or not: no note goes in before an index is written.
std::pair<qint64, qsizetype> journalEnd(QByteArrayView bytes, qint64 size) {
    const qsizetype whole = bytes.lastIndexOf('\n') + 1;
    const auto lines = qsizetype(std::count(bytes.begin(), bytes.begin() + whole, '\n'));
    return {size > Store::journalLimit ? size : qint64(whole), lines};
}

// Appends the bytes from `from` to `to` of the open journal to `out`; false when they cannot all
// be read, or are more than any journal of ours holds.
bool readRange(int fd, qint64 from, qint64 to, QByteArray& out) {
    if (to <= from) {
        return true;
    }
    if (to - from > Store::journalLimit) {
        return false;
    }
    const qsizetype start = out.size();
    out.resize(start + qsizetype(to - from));
    qsizetype got = 0;
    while (start + got < out.size()) {
        const ssize_t n =
            ::pread(fd, out.data() + start + got, size_t(out.size() - start - got), from + got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        got += n;
    }
    return true;
}

} // namespace

QList<Store::JournalNote> Store::decodeJournal(QByteArrayView bytes, qsizetype* readTo) {
    QList<JournalNote> notes;
    bytes = bytes.first(std::min<qsizetype>(bytes.size(), journalLimit));
    const qsizetype whole = bytes.lastIndexOf('\n') + 1;
    qsizetype lines = 0;
    qsizetype at = 0;
    while (at < whole && lines++ < journalEntryLimit) {
        const qsizetype end = bytes.indexOf('\n', at);
        if (end - at <= journalLineLimit) {
            if (auto note = decodeNote(bytes.sliced(at, end - at))) {
                notes.append(std::move(*note));
            }
        }
        at = end + 1;
    }
    if (readTo != nullptr) {
        *readTo = at;
    }
    return notes;
}

bool Store::isCopyName(const QString& name, const QString& id) {
    const QString own = safeFileName(id) + u'.';
    return name.startsWith(own) && !QStringView(name).sliced(own.size()).contains(u'.');
}

bool Store::mayNote() const {
    // A journal whose end is not known yet is found out by the note itself.
    return journalSize_ < 0 || (journalLines_ < journalEntryLimit &&
                                journalSize_ <= journalLimit - journalLineLimit - 1);
}

void Store::loadJournal() {
    const QString path = rootPath_ + u'/' + journalName;
    journalFile_.reset();
    const auto read = readJournal(path, journalFile_);
    if (!read) {
        // A regular file that could not be read is written after what it holds.
        const auto st = FileStat::lstat(path);
        journalSize_ = st && st->isRegular() ? -1 : 0;
        return;
    }
    std::tie(journalSize_, journalLines_) = journalEnd(read->first, read->second);
    qsizetype readTo = 0;
    const QList<JournalNote> entries = decodeJournal(read->first, &readTo);
    // Lines past the bound of what a start reads (an earlier version wrote more than that while
    // no index could be written): they stay for a later start. No version of ours writes past
    // the bound's bytes: what lies there is no note.
    const qsizetype whole = read->first.lastIndexOf('\n') + 1;
    if (readTo < whole) {
        unreadFrom_ = readTo;
        unreadTo_ = whole;
        unreadLines_ =
            qsizetype(std::count(read->first.begin() + readTo, read->first.begin() + whole, '\n'));
        qCWarning(lcStore,
                  "%lld lines of %s lie past what a start reads: they stay for the next start",
                  static_cast<long long>(unreadLines_), qUtf8Printable(path));
    }
    // The latest note of an item is the copy it had last.
    qsizetype back = 0;
    QSet<QString> seen;
    for (auto it = entries.crbegin(); it != entries.crend(); ++it) {
        ShelfItem item = it->item;
        item.fileURL = QUrl::fromLocalFile(itemsDir_ + u'/' + it->copy);
        if (const auto held = items_.constFind(item.id); held != items_.constEnd()) {
            // Named by an index, or by a later note. A copy of another name placed for the same
            // item is named by nothing: it goes with the next index.
            if (!held->fileURL || held->fileURL->fileName() != it->copy) {
                markForRemoval(item.fileURL->toLocalFile());
            }
            continue;
        }
        if (hiddenItems_.contains(item.id) || seen.contains(item.id)) {
            continue;
        }
        seen.insert(item.id);
        // Hidden or deleted since (by what an index says), or its copy did not come whole (a
        // power loss): it cannot come back, and the files placed for it go with the next index.
        if (isHidden(item.id) || isDeleted(item.id, item.sourcePath, item.createdAt) ||
            !hashesTo(item.fileURL->toLocalFile(), contentKey(item.id))) {
            removeFiles(item);
            continue;
        }
        replaceItem(item);
        if (it->session && !sessions_.contains(it->session->id)) {
            sessions_.insert(it->session->id, *it->session);
        }
        ++back;
    }
    if (back > 0) {
        qCWarning(lcStore, "%lld items captured after the last index was written are back",
                  static_cast<long long>(back));
    }
    if (back > 0 || !pendingRemovals_.isEmpty()) {
        markDirty(false);
    }
}

std::optional<Error> Store::noteCapture(const ShelfItem& item,
                                        const std::optional<Session>& session) {
    // Looked at for each note, however soon after the last look: a note cuts the journal back to
    // the notes this run knows of, which in another folder are none of its own. Two looks cost
    // little beside the note's own write.
    if (!folderUsable(true)) {
        return *rights_.unusable();
    }
    if (!item.fileURL) {
        return std::nullopt; // nothing is placed
    }
    // While the items folder is known not to be ours, no note is written for a copy that cannot
    // be placed: each capture held and tried again would add one. Looked at again here, once.
    if (subfolderLost_[size_t(OwnFolder::Subfolder::items)]) {
        if (auto problem = subfolderProblem(OwnFolder::Subfolder::items)) {
            return problem;
        }
    }
    const auto noteOf = [&item](const std::optional<Session>& with) {
        JsonWriter out;
        out.beginObject();
        out.key(u"copy");
        out.string(item.fileURL->fileName());
        out.key(u"item");
        item.write(out);
        if (with) {
            out.key(u"session");
            with->write(out);
        }
        out.endObject();
        return out.take();
    };
    // No longer than a line the journal's reader takes. A session's first prompt may be a whole
    // pasted file: the note goes without it, as the item comes back without a session that does
    // not read. An item that long is held, as one with no room is.
    QByteArray line = noteOf(session);
    if (line.size() > journalLineLimit && session) {
        line = noteOf(std::nullopt);
    }
    if (line.size() > journalLineLimit) {
        return Error::posix(EFBIG);
    }
    line.append('\n');

    const QString path = rootPath_ + u'/' + journalName;
    const QByteArray name = QFile::encodeName(journalName);
    // Opened in the folder looked at: a note never goes into a folder put at its path since.
    const Descriptors::Owned folder(openOwnFolder());
    if (!folder && rights_.own().hasFolder()) {
        leaveFolder();
        return *rights_.unusable();
    }
    const int at = folder ? folder.get() : AT_FDCWD;
    const QByteArray entry = folder ? name : QFile::encodeName(path);
    int fd = -1;
    bool created = false;
    struct stat st {};
    // Whatever stands at its name that is not a plain file of ours (a link, a folder, a file of
    // another name too) is set aside first, once.
    for (int attempt = 0; attempt < 2 && fd < 0; ++attempt) {
        fd = Descriptors::openAt(at, entry.constData(),
                                 O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        created = fd >= 0;
        if (fd < 0 && errno == EEXIST) {
            fd = Descriptors::openAt(at, entry.constData(),
                                     O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        }
        if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() ||
                        st.st_nlink != 1)) {
            ::close(fd);
            fd = -1;
            errno = EEXIST;
        }
        if (fd < 0 && (attempt > 0 ||
                       !(folder ? AtomicFile::clearEntryAt(at, name, AtomicFile::Entry::file, path)
                                : AtomicFile::clearEntry(path, AtomicFile::Entry::file)))) {
            return Error::fromErrno();
        }
    }
    const bool measured = journalFile_ && journalFile_->isEntry(FileIdentity::of(st));
    if (created) {
        journalSize_ = 0;
        journalLines_ = 0;
        unreadFrom_ = unreadTo_ = 0;
        unreadLines_ = 0;
        journalFile_ = FileIdentity::of(st);
    } else if (journalSize_ < 0 || !measured || st.st_size < journalSize_) {
        // Not read at load, another file than the one measured (put there by another hand), or
        // cut back by another hand since: its end is found as a start would find it, and what it
        // holds is left for the next start to read.
        const auto bytes = readStart(fd, st.st_size);
        if (!bytes) {
            const Error error = Error::fromErrno();
            ::close(fd);
            return error;
        }
        std::tie(journalSize_, journalLines_) = journalEnd(*bytes, st.st_size);
        journalFile_ = FileIdentity::of(st);
        unreadFrom_ = 0;
        unreadTo_ = bytes->lastIndexOf('\n') + 1;
        unreadLines_ = journalLines_;
    }
    // A line a kill cut short, or one whose write failed, is written over.
    const auto fail = [&](const Error& error) {
        [[maybe_unused]] const int cut = ::ftruncate(fd, journalSize_);
        ::close(fd);
        return error;
    };
    // The bounds of what a start reads back. Reached only while no index can be written: every
    // one written empties the journal (of all but the notes this run's start did not read).
    if (journalLines_ >= journalEntryLimit || journalSize_ + line.size() > journalLimit) {
        ::close(fd);
        return Error::posix(EFBIG);
    }
    if (st.st_size > journalSize_ && ::ftruncate(fd, journalSize_) != 0) {
        return fail(Error::fromErrno());
    }
    for (qsizetype written = 0; written < line.size();) {
        const ssize_t n = ::pwrite(fd, line.constData() + written, size_t(line.size() - written),
                                   journalSize_ + written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return fail(n < 0 ? Error::fromErrno() : Error::posix(ENOSPC));
        }
        written += n;
    }
    ::close(fd);
    noteUnsynced(path);
    journalSize_ += line.size();
    ++journalLines_;
    return std::nullopt;
}

void Store::dropJournal(qint64 upTo) {
    // Not from another folder now at the path, nor beside an index put there since: the notes
    // bring back what that index lacks.
    if (upTo <= 0 || journalSize_ <= 0 || !mayRemove()) {
        return;
    }
    // Only ever the plain file the notes went into, in the folder looked at.
    const Descriptors::Owned folder(openOwnFolder());
    if (!folder || !journalFile_) {
        return;
    }
    const QByteArray name = QFile::encodeName(journalName);
    const int fd = Descriptors::openAt(folder.get(), name.constData(),
                                       O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        !journalFile_->isEntry(FileIdentity::of(st))) {
        if (fd >= 0) {
            ::close(fd);
        }
        return;
    }
    if (upTo >= journalSize_ && unreadFrom_ == 0) {
        // Synced, so that a power loss does not bring back notes of items deleted since.
        if (::ftruncate(fd, unreadTo_) == 0 && ::fdatasync(fd) == 0) {
            journalSize_ = unreadTo_;
            journalLines_ = unreadLines_;
        }
        ::close(fd);
        return;
    }
    // The notes this run did not read, then those made while the index was written, alone.
    QByteArray rest;
    const bool whole = readRange(fd, unreadFrom_, unreadTo_, rest) &&
                       readRange(fd, std::max(upTo, unreadTo_), journalSize_, rest);
    ::close(fd);
    std::optional<FileIdentity> placed;
    if (whole && !AtomicFile::writeAt(folder.get(), name, rest, 0600, &placed,
                                      rootPath_ + u'/' + journalName)) {
        journalFile_ = placed;
        journalSize_ = rest.size();
        journalLines_ = rest.count('\n');
        unreadTo_ -= unreadFrom_;
        unreadFrom_ = 0;
    }
}

} // namespace ostrel
