// Files of the store removed only on the word of its own writes: the files of removed items, in
// batches that a quit may cut short, right after an index without them is written, which records
// them; and at a start, what such an index recorded and a process that ended did not remove,
// while each is still the file recorded, in the one listing of the store's folders that also
// removes what other processes left half written.
#include "OstrelCore/Records/Store.h"
#include "OstrelCore/Records/StoreIndexParts.h"

#include "Platform/AtomicFile.h"
#include "Platform/Descriptors.h"
#include "Platform/FileStat.h"
#include "Platform/Log.h"

#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <string_view>
#include <utility>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

using namespace storeIndexParts;

namespace {

// One step of a listing reads at most this many entries, for at most this long, so that a folder
// of a hundred thousand copies never holds the writer (and the index writes behind it) for long.
constexpr int listStepEntries = 4096;
constexpr qint64 listStepMs = 20;
// How long one job of the queue judges and removes names before it lets the next job in.
constexpr qint64 judgeStepMs = 10;
// Entries of one folder looked at in all: a folder filled by another hand is not walked for ever.
constexpr qint64 listLimit = 4'000'000;

// Names are kept as hashes: a collision only keeps a file that could have gone.
size_t nameHash(int folder, QByteArrayView name) {
    return qHash(name, size_t(folder));
}

} // namespace

// A name set aside (clearEntry) keeps a user's file and is never ours.
bool storeIndexParts::ownFileName(std::string_view name, bool thumbnail) {
    if (name.empty() || name.size() > 255 || name.front() == '.' ||
        name.find(".unusable-") != std::string_view::npos) {
        return false;
    }
    for (const char c : name) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '~' || c == ':' ||
                           c == '.' || c == '%';
        if (!plain) {
            return false;
        }
    }
    return thumbnail ? name.ends_with(".jpg") : name.find('.') != std::string_view::npos;
}

storeIndexParts::Removed storeIndexParts::removeOwnFile(int folder, const char* name,
                                                        const FileIdentity* recorded) {
    struct stat st {};
    if (std::strchr(name, '/') != nullptr) {
        return Removed::kept;
    }
    if (::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? Removed::absent : Removed::failed;
    }
    // Never a folder, nor a link (nor what it leads to), nor a file with a second name, whose
    // bytes that name keeps; nor one that is no longer the file recorded: the same name may lead
    // to a later capture of the same bytes.
    if (!S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1 ||
        (recorded != nullptr && !FileIdentity::of(st).isSameFile(*recorded))) {
        return Removed::kept;
    }
    if (::unlinkat(folder, name, 0) != 0) {
        return errno == ENOENT ? Removed::absent : Removed::failed;
    }
    return Removed::removed;
}

bool storeIndexParts::removeLeftover(int folder, const char* name) {
    const std::string_view text(name);
    return AtomicFile::isTemporary(text) && !AtomicFile::isOwnTemporary(text) &&
           removeOwnFile(folder, name, nullptr) == Removed::removed;
}

int storeIndexParts::folderOf(const std::array<QString, 2>& folders, const QString& path,
                              QString* name) {
    for (int i = 0; i < int(folders.size()); ++i) {
        const QString& at = folders[size_t(i)];
        if (path.size() > at.size() + 1 && path.startsWith(at) && path.at(at.size()) == u'/' &&
            path.indexOf(u'/', at.size() + 1) < 0) {
            *name = path.mid(at.size() + 1);
            return i;
        }
    }
    return -1;
}

int storeIndexParts::openFolder(const QString& path, bool throughLink) {
    return Descriptors::open(QFile::encodeName(path).constData(),
                             O_RDONLY | O_DIRECTORY | O_CLOEXEC | (throughLink ? 0 : O_NOFOLLOW));
}

DIR* storeIndexParts::listFolder(const QString& path, bool throughLink) {
    const int fd = openFolder(path, throughLink);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (dir == nullptr && fd >= 0) {
        ::close(fd);
    }
    return dir;
}

QList<Store::Removal> Store::removalsToRecord() const {
    // A file marked again since an index recorded it is recorded as it is now.
    QHash<QString, FileIdentity> files = recordedRemovals_;
    for (auto it = pendingRemovals_.cbegin(); it != pendingRemovals_.cend(); ++it) {
        files.insert(it.key(), it.value());
    }
    QList<Removal> out;
    out.reserve(files.size());
    const QString root = rootPath_ + u'/';
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        if (it.key().startsWith(root)) {
            out.append(Removal{it.key().mid(root.size()), it.value()});
        }
    }
    std::sort(out.begin(), out.end(),
              [](const Removal& a, const Removal& b) { return a.name < b.name; });
    return out;
}

void Store::carryOutRemovals() {
    if (!mayRemove()) {
        pendingRemovals_.clear(); // left where they are
        return;
    }
    const std::array<QString, 2> paths{itemsDir_, thumbsDir_};
    // Through the folders themselves: a link or a mount put in their place since is passed by,
    // and what stands beneath it is removed another time.
    const std::array<int, 2> folders{openSubfolder(OwnFolder::Subfolder::items),
                                     openSubfolder(OwnFolder::Subfolder::thumbs)};
    qsizetype looked = 0;
    for (auto it = pendingRemovals_.cbegin(); it != pendingRemovals_.cend(); ++it) {
        // A quit ends within a batch: the index written records the files left, and the next
        // start removes them (as every index written meanwhile records them).
        if (looked > 0 && looked % Store::removalBatch == 0 && halted()) {
            for (; it != pendingRemovals_.cend(); ++it) {
                recordedRemovals_.insert(it.key(), it.value());
            }
            break;
        }
        ++looked;
        QString name;
        const int in = folderOf(paths, it.key(), &name);
        if (in < 0) {
            continue;
        }
        const int folder = folders[size_t(in)];
        if (folder < 0 || removeOwnFile(folder, QFile::encodeName(name).constData(), &it.value()) ==
                              Removed::failed) {
            recordedRemovals_.insert(it.key(), it.value()); // tried again by the next start
        }
    }
    for (const int fd : folders) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    pendingRemovals_.clear();
}

// What a tidying holds between its steps. The listing is the writer's, one step at a time; the
// rest is the queue's.
struct Store::Tidying {
    std::array<QString, 2> folders;
    // The folders within as the store took them: only those are listed.
    OwnFolder own;
    // Whether the folders are listed for what other processes left half written.
    bool leftovers = false;
    std::function<bool()> halted;
    // The files recorded as to be removed when the tidying began, and the items and hidden records
    // held then, until the names those give their files are taken from them (on the writer) and
    // the queue lets them go.
    QStringList recorded;
    QHash<QString, ShelfItem> items;
    QHash<QString, HiddenRecord> hiddenItems;
    bool started = false;
    int folder = 0;
    DIR* dir = nullptr;
    qint64 listed = 0;
    qint64 removed = 0;
    qint64 judged = 0;
    qint64 leftoversRemoved = 0;

    struct Step {
        // Recorded files, in either folder, that no item held when the tidying began names...
        QStringList paths;
        // ...and those that one names: they only leave the record.
        QStringList named;
        // How many of them were judged.
        qsizetype at = 0;
        bool done = false;
    };
    // The step under way: made on the writer, then judged on the queue.
    Step current;

    Tidying() = default;
    Tidying(const Tidying&) = delete;
    Tidying& operator=(const Tidying&) = delete;
    ~Tidying() {
        if (dir != nullptr) {
            ::closedir(dir);
        }
    }

    // On the writer: first the recorded files that no item names, then, a listing step at a
    // time, the removal of what other processes left.
    Step next() {
        Step step;
        if (!started) {
            started = true;
            if (!recorded.isEmpty()) {
                unnamed(step);
                return step;
            }
        }
        if (!leftovers) {
            step.done = true;
            return step;
        }
        QElapsedTimer timer;
        timer.start();
        while (folder < int(folders.size())) {
            if (dir == nullptr) {
                const auto subfolder =
                    folder == 0 ? OwnFolder::Subfolder::items : OwnFolder::Subfolder::thumbs;
                dir = listFolder(folders[size_t(folder)], own.throughLink(subfolder));
                if (dir != nullptr && !own.isSubfolder(::dirfd(dir), subfolder)) {
                    ::closedir(dir);
                    dir = nullptr;
                }
                if (dir == nullptr) {
                    ++folder;
                    continue;
                }
                listed = 0;
            }
            for (int read = 0; read < listStepEntries; ++read) {
                const dirent* entry = ::readdir(dir);
                if (entry == nullptr || ++listed > listLimit) {
                    ::closedir(dir);
                    dir = nullptr;
                    ++folder;
                    return step;
                }
                if (AtomicFile::isTemporary(entry->d_name)) {
                    leftoversRemoved += removeLeftover(::dirfd(dir), entry->d_name) ? 1 : 0;
                }
                if (read % 256 == 255 && timer.elapsed() > listStepMs) {
                    return step;
                }
            }
            return step;
        }
        step.done = true;
        return step;
    }

    void unnamed(Step& step) {
        std::vector<size_t> named;
        named.reserve(size_t(2 * (items.size() + hiddenItems.size())));
        const auto add = [&named](const ShelfItem& item) {
            if (item.fileURL) {
                named.push_back(nameHash(0, QFile::encodeName(item.fileURL->fileName())));
            }
            if (item.remoteURL) {
                named.push_back(nameHash(0, QFile::encodeName(linkFileName(item.id))));
            }
            named.push_back(
                nameHash(1, QFile::encodeName(safeFileName(item.id) + QStringLiteral(".jpg"))));
        };
        for (const ShelfItem& item : std::as_const(items)) {
            add(item);
        }
        for (const HiddenRecord& record : std::as_const(hiddenItems)) {
            add(record.item);
        }
        std::sort(named.begin(), named.end());
        for (const QString& path : std::as_const(recorded)) {
            QString name;
            const int in = folderOf(folders, path, &name);
            const bool isNamed =
                in < 0 || std::binary_search(named.begin(), named.end(),
                                             nameHash(in, QFile::encodeName(name)));
            (isNamed ? step.named : step.paths).append(path);
        }
        recorded = {};
    }
};

void Store::tidyFolders() {
    // A folder that cannot be written has nothing removed from it, leftovers included; nor has
    // another than the one this run read.
    if (tidying_ || !mayTidy()) {
        return;
    }
    auto tidying = std::make_shared<Tidying>();
    tidying->folders = {itemsDir_, thumbsDir_};
    tidying->own = rights_.own();
    tidying->leftovers = folderHeld();
    tidying->halted = halted_;
    if (!recordedRemovals_.isEmpty()) {
        tidying->recorded = recordedRemovals_.keys();
        // Shared, not copied: the names are taken from them on the writer at its first step.
        tidying->items = items_;
        tidying->hiddenItems = hiddenItems_;
    } else if (!tidying->leftovers) {
        return;
    }
    tidying_ = tidying;
    if (writer_ && autosave_) {
        tidyStep(tidying);
        return;
    }
    for (;;) {
        tidying->current = tidying->next();
        if (halted() || removeRecorded(*tidying, false) < 0 || tidying->current.done) {
            break;
        }
    }
    endTidying(tidying);
}

void Store::tidyStep(const std::shared_ptr<Tidying>& tidying) {
    // The store is never held on the writer: its last reference must not go there.
    writer_->async([tidying, weak = weak_from_this(), autosave = autosave_] {
        if (tidying->halted && tidying->halted()) {
            return; // the process ends: the next start tidies again
        }
        tidying->current = tidying->next();
        autosave->async([weak, tidying] {
            if (const auto self = weak.lock()) {
                self->tidyJudge(tidying);
            }
        });
    });
}

void Store::tidyJudge(const std::shared_ptr<Tidying>& tidying) {
    // Let go here, after the writer took their names: let go there, the queue's next change
    // could find them unshared and change them in place with nothing ordering that after the
    // writer's reads.
    tidying->items = {};
    tidying->hiddenItems = {};
    if (tidying_ != tidying) {
        return;
    }
    // Looked at before each step: nothing goes from another folder, nor beside another index.
    if (!mayTidy() || tidying_ != tidying) {
        endTidying(tidying);
        return;
    }
    const int left = halted() ? -1 : removeRecorded(*tidying, true);
    if (left < 0 || (left == 0 && tidying->current.done)) {
        endTidying(tidying);
    } else if (left > 0) {
        // The rest of the step in a job of its own: captures waiting on the queue come first.
        autosave_->async([weak = weak_from_this(), tidying] {
            if (const auto self = weak.lock()) {
                self->tidyJudge(tidying);
            }
        });
    } else {
        tidyStep(tidying);
    }
}

int Store::removeRecorded(Tidying& tidying, bool bounded) {
    Tidying::Step& step = tidying.current;
    for (const QString& path : std::exchange(step.named, {})) {
        tidying.judged += recordedRemovals_.remove(path) ? 1 : 0;
    }
    if (step.at >= step.paths.size()) {
        return 0;
    }
    const std::array<int, 2> folders{openSubfolder(OwnFolder::Subfolder::items),
                                     openSubfolder(OwnFolder::Subfolder::thumbs)};
    QElapsedTimer timer;
    timer.start();
    for (; step.at < step.paths.size(); ++step.at) {
        // A removal can wait on a slow disk: the queue is held this long at most, and a step
        // goes on in the next job.
        if (bounded && timer.elapsed() > judgeStepMs) {
            break;
        }
        // Judged here, on the queue, at the moment of removal: an item stored since the tidying
        // began (a capture of the same bytes, one brought back) took its files out of the record
        // (keepFiles()).
        const QString& path = step.paths.at(step.at);
        QString name;
        const int in = folderOf(tidying.folders, path, &name);
        const auto recorded = recordedRemovals_.constFind(path);
        if (recorded == recordedRemovals_.cend() || in < 0 || folders[size_t(in)] < 0) {
            continue;
        }
        // The record leaves anything else that stands there now (a user's link, a folder, a
        // later file of the same name) as it is. What cannot be looked at or removed now stays
        // recorded, for a later start.
        const Removed done =
            removeOwnFile(folders[size_t(in)], QFile::encodeName(name).constData(), &*recorded);
        if (done == Removed::failed) {
            continue;
        }
        tidying.removed += done == Removed::removed ? 1 : 0;
        ++tidying.judged;
        recordedRemovals_.remove(path);
    }
    for (const int fd : folders) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    return step.at < step.paths.size() ? 1 : 0;
}

void Store::endTidying(const std::shared_ptr<Tidying>& tidying) {
    if (tidying_ != tidying) {
        return;
    }
    tidying_.reset();
    // What went leaves the record with the next index written.
    if (tidying->judged > 0) {
        markDirty(false);
    }
    if (tidying->leftoversRemoved > 0) {
        qCInfo(lcStore, "removed %lld unfinished files from %s",
               static_cast<long long>(tidying->leftoversRemoved), qUtf8Printable(rootPath_));
    }
    if (tidying->removed > 0) {
        qCInfo(lcStore, "removed %lld files of removed items from %s",
               static_cast<long long>(tidying->removed), qUtf8Printable(rootPath_));
    }
}

void Store::keepFiles(const ShelfItem& item) {
    if (recordedRemovals_.isEmpty()) {
        return;
    }
    if (item.fileURL) {
        recordedRemovals_.remove(itemsDir_ + u'/' + item.fileURL->fileName());
    }
    recordedRemovals_.remove(thumbURL(item.id).toLocalFile());
    if (item.remoteURL) {
        recordedRemovals_.remove(itemsDir_ + u'/' + linkFileName(item.id));
    }
}

} // namespace ostrel
