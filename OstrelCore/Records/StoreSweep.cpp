// Files of the store removed only on the word of its own writes: the files of removed items, in
// batches that a quit may cut short, right after an index without them is written, which records
// them; and at a start, what such an index recorded and a process that ended did not remove,
// in the one listing of the store's folders that also removes what other processes left half
// written.
#include "OstrelCore/Records/Store.h"
#include "OstrelCore/Records/StoreIndexParts.h"

#include "Platform/AtomicFile.h"
#include "Platform/FileStat.h"
#include "Platform/Log.h"

#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <array>
#include <cerrno>
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

bool storeIndexParts::removeLeftover(int folder, const char* name) {
    const std::string_view text(name);
    if (!AtomicFile::isTemporary(text) || AtomicFile::isOwnTemporary(text)) {
        return false;
    }
    // Only plain files go: never a folder, nor a link (nor what it leads to).
    struct stat st {};
    return ::fstatat(folder, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
           ::unlinkat(folder, name, 0) == 0;
}

int storeIndexParts::openFolder(const QString& path, bool throughLink) {
    return ::open(QFile::encodeName(path).constData(),
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

QStringList Store::removingNames() const {
    QSet<QString> paths = removing_;
    paths.unite(doomedFiles_);
    QStringList names;
    names.reserve(paths.size());
    const QString root = rootPath_ + u'/';
    for (const QString& path : std::as_const(paths)) {
        if (path.startsWith(root)) {
            names.append(path.mid(root.size()));
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

void Store::removeDoomedFiles() {
    if (!mayRemove()) {
        doomedFiles_.clear(); // left where they are
        return;
    }
    qsizetype looked = 0;
    for (auto it = doomedFiles_.cbegin(); it != doomedFiles_.cend(); ++it) {
        const QString& path = *it;
        // A quit ends within a batch: the index written records the files left, and the next
        // start removes them (as every index written meanwhile records them).
        if (looked > 0 && looked % Store::removalBatch == 0 && halted()) {
            for (; it != doomedFiles_.cend(); ++it) {
                removing_.insert(*it);
            }
            break;
        }
        ++looked;
        const auto st = FileStat::lstat(path);
        if (st && !st->isDirectory() && isOwnFile(path) &&
            ::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT) {
            removing_.insert(path); // tried again by the next start
        }
    }
    doomedFiles_.clear();
}

// What a sweep holds between its steps. The listing is the writer's, one step at a time; the
// rest is the queue's.
struct Store::Sweep {
    std::array<QString, 2> folders;
    // Whether the folders are listed for what other processes left half written.
    bool leftovers = false;
    std::function<bool()> halted;
    // The files recorded as to be removed when the sweep began, and the items and hidden records
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
        // Recorded files, in either folder, that no item held when the sweep began names...
        QStringList paths;
        // ...and those that one names: they only leave the record.
        QStringList named;
        // How many of them were judged.
        qsizetype at = 0;
        bool done = false;
    };
    // The step under way: made on the writer, then judged on the queue.
    Step current;

    Sweep() = default;
    Sweep(const Sweep&) = delete;
    Sweep& operator=(const Sweep&) = delete;
    ~Sweep() {
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
                dir = listFolder(folders[size_t(folder)]);
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

    // The folder of a recorded path (0 items, 1 thumbnails) and its name there, or -1.
    int folderOf(const QString& path, QString* name) const {
        for (int i = 0; i < int(folders.size()); ++i) {
            const QString& at = folders[size_t(i)];
            if (path.size() > at.size() + 1 && path.startsWith(at) && path.at(at.size()) == u'/') {
                *name = path.mid(at.size() + 1);
                return i;
            }
        }
        return -1;
    }

    void unnamed(Step& step) {
        std::vector<size_t> named;
        named.reserve(size_t(2 * (items.size() + hiddenItems.size())));
        const auto add = [&named](const ShelfItem& item) {
            if (item.fileURL) {
                named.push_back(nameHash(0, QFile::encodeName(item.fileURL->fileName())));
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
            const int in = folderOf(path, &name);
            const bool isNamed =
                in < 0 || std::binary_search(named.begin(), named.end(),
                                             nameHash(in, QFile::encodeName(name)));
            (isNamed ? step.named : step.paths).append(path);
        }
        recorded = {};
    }
};

void Store::sweepOrphans() {
    // A folder that cannot be written has nothing removed from it, leftovers included; nor has
    // another than the one this run read.
    if (sweep_ || !maySweep()) {
        return;
    }
    auto sweep = std::make_shared<Sweep>();
    sweep->folders = {itemsDir_, thumbsDir_};
    sweep->leftovers = folderHeld();
    sweep->halted = halted_;
    if (!removing_.isEmpty()) {
        sweep->recorded = QStringList(removing_.begin(), removing_.end());
        // Shared, not copied: the names are taken from them on the writer at its first step.
        sweep->items = items_;
        sweep->hiddenItems = hiddenItems_;
    } else if (!sweep->leftovers) {
        return;
    }
    sweep_ = sweep;
    if (writer_ && autosave_) {
        sweepStep(sweep);
        return;
    }
    for (;;) {
        sweep->current = sweep->next();
        if (halted() || sweepNames(*sweep, false) < 0 || sweep->current.done) {
            break;
        }
    }
    endSweep(sweep);
}

void Store::sweepStep(const std::shared_ptr<Sweep>& sweep) {
    // The store is never held on the writer: its last reference must not go there.
    writer_->async([sweep, weak = weak_from_this(), autosave = autosave_] {
        if (sweep->halted && sweep->halted()) {
            return; // the process ends: the next start sweeps again
        }
        sweep->current = sweep->next();
        autosave->async([weak, sweep] {
            if (const auto self = weak.lock()) {
                self->sweepJudge(sweep);
            }
        });
    });
}

void Store::sweepJudge(const std::shared_ptr<Sweep>& sweep) {
    // Let go here, after the writer took their names: let go there, the queue's next change
    // could find them unshared and change them in place with nothing ordering that after the
    // writer's reads.
    sweep->items = {};
    sweep->hiddenItems = {};
    if (sweep_ != sweep) {
        return;
    }
    // Looked at before each step: nothing goes from another folder, nor beside another index.
    if (!maySweep() || sweep_ != sweep) {
        endSweep(sweep);
        return;
    }
    const int left = halted() ? -1 : sweepNames(*sweep, true);
    if (left < 0 || (left == 0 && sweep->current.done)) {
        endSweep(sweep);
    } else if (left > 0) {
        // The rest of the step in a job of its own: captures waiting on the queue come first.
        autosave_->async([weak = weak_from_this(), sweep] {
            if (const auto self = weak.lock()) {
                self->sweepJudge(sweep);
            }
        });
    } else {
        sweepStep(sweep);
    }
}

int Store::sweepNames(Sweep& sweep, bool bounded) {
    Sweep::Step& step = sweep.current;
    for (const QString& path : std::exchange(step.named, {})) {
        sweep.judged += removing_.remove(path) ? 1 : 0;
    }
    if (step.at >= step.paths.size()) {
        return 0;
    }
    std::array<int, 2> folders{-1, -1};
    for (size_t i = 0; i < folders.size(); ++i) {
        folders[i] = openFolder(sweep.folders[i]);
    }
    QElapsedTimer timer;
    timer.start();
    for (; step.at < step.paths.size(); ++step.at) {
        // A removal can wait on a slow disk: the queue is held this long at most, and a step
        // goes on in the next job.
        if (bounded && timer.elapsed() > judgeStepMs) {
            break;
        }
        // Judged here, on the queue, at the moment of removal: an item stored since the sweep
        // began (a capture of the same bytes, one brought back) took its files out of the record
        // (keepFromSweep()).
        const QString& path = step.paths.at(step.at);
        QString name;
        const int in = sweep.folderOf(path, &name);
        if (!removing_.contains(path) || in < 0 || folders[size_t(in)] < 0) {
            continue;
        }
        const int folder = folders[size_t(in)];
        const QByteArray file = QFile::encodeName(name);
        struct stat st {};
        // Only a plain file of ours with no other name goes; the record leaves anything else
        // that stands there now (a user's link, a folder) as it is. What cannot be looked at or
        // removed now stays recorded, for a later start.
        if (::fstatat(folder, file.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) {
                continue;
            }
        } else if (S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && st.st_nlink == 1) {
            if (::unlinkat(folder, file.constData(), 0) == 0) {
                ++sweep.removed;
            } else if (errno != ENOENT) {
                continue;
            }
        }
        ++sweep.judged;
        removing_.remove(path);
    }
    for (const int fd : folders) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
    return step.at < step.paths.size() ? 1 : 0;
}

void Store::endSweep(const std::shared_ptr<Sweep>& sweep) {
    if (sweep_ != sweep) {
        return;
    }
    sweep_.reset();
    // What went leaves the record with the next index written.
    if (sweep->judged > 0) {
        markDirty(false);
    }
    if (sweep->leftoversRemoved > 0) {
        qCInfo(lcStore, "removed %lld unfinished files from %s",
               static_cast<long long>(sweep->leftoversRemoved), qUtf8Printable(rootPath_));
    }
    if (sweep->removed > 0) {
        qCInfo(lcStore, "removed %lld files of removed items from %s",
               static_cast<long long>(sweep->removed), qUtf8Printable(rootPath_));
    }
}

void Store::keepFromSweep(const ShelfItem& item) {
    if (removing_.isEmpty()) {
        return;
    }
    if (item.fileURL) {
        removing_.remove(itemsDir_ + u'/' + item.fileURL->fileName());
    }
    removing_.remove(thumbURL(item.id).toLocalFile());
}

} // namespace ostrel
