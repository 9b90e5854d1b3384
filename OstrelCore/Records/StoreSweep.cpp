// Files of the store that no item names: removed in batches that a quit may cut short, and swept
// at a start when a process ended before it could remove them, in the one listing of the store's
// folders that also removes what other processes left half written.
#include "OstrelCore/Records/Store.h"
#include "OstrelCore/Records/StoreIndexParts.h"

#include "Platform/AtomicFile.h"
#include "Platform/FileStat.h"
#include "Platform/Log.h"

#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <array>
#include <cmath>
#include <ctime>
#include <limits>
#include <string_view>
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
// A file system dates its files by a clock a tick behind the wall clock's: a file written just
// after a moment could seem older than it.
constexpr qint64 dateMargin = 2;

// When this process began, by the clock files are dated with: a temporary file dated after it may
// be a write of this process under way, whatever made it.
const qint64 processBegan = ::time(nullptr);

// Names are kept as hashes: a collision only keeps a file that could have gone.
size_t nameHash(QByteArrayView name) {
    return qHash(name, 0);
}

} // namespace

// A name set aside (clearEntry) keeps a user's file and is never ours.
bool storeIndexParts::ownFileName(std::string_view name, bool thumbnail) {
    if (name.empty() || name.front() == '.' || name.find(".unusable-") != std::string_view::npos) {
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
           st.st_mtim.tv_sec < processBegan - dateMargin && ::unlinkat(folder, name, 0) == 0;
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

void Store::removeDoomedFiles() {
    if (!mayRemove()) {
        doomedFiles_.clear(); // left where they are
        return;
    }
    qsizetype looked = 0;
    for (const QString& path : std::as_const(doomedFiles_)) {
        // A quit ends within a batch: the index written names none of the files left, and the
        // next start sweeps them.
        if (looked > 0 && looked % Store::removalBatch == 0 && halted()) {
            break;
        }
        ++looked;
        const auto st = FileStat::lstat(path);
        if (st && !st->isDirectory() && isOwnFile(path)) {
            QFile::remove(path);
        }
    }
    doomedFiles_.clear();
}

// What a sweep holds between its steps. The listing is the writer's, one step at a time; the
// rest is the queue's.
struct Store::Sweep {
    std::array<QString, 2> folders;
    // Whether files no item names are judged, or only what other processes left removed.
    bool orphans = false;
    // Files dated before this (seconds since the epoch) are from earlier runs...
    qint64 before = 0;
    // ...and those dated before this from an index lost before this line of indexes was begun.
    qint64 after = std::numeric_limits<qint64>::min();
    std::function<bool()> halted;
    // The items and hidden records as they stood when the sweep began, until the hashes of the
    // names they give their files are taken from them (on the writer) and the queue lets them go.
    QHash<QString, ShelfItem> items;
    QHash<QString, HiddenRecord> hiddenItems;
    std::vector<size_t> named;
    bool started = false;
    int folder = 0;
    DIR* dir = nullptr;
    qint64 listed = 0;
    qint64 removed = 0;
    qint64 leftovers = 0;

    struct Step {
        int folder = 0;
        QList<QByteArray> names;
        // How many of them were judged.
        qsizetype at = 0;
        bool done = false;
    };
    // The step under way: listed on the writer, then judged on the queue.
    Step current;

    Sweep() = default;
    Sweep(const Sweep&) = delete;
    Sweep& operator=(const Sweep&) = delete;
    ~Sweep() {
        if (dir != nullptr) {
            ::closedir(dir);
        }
    }

    // On the writer: removes what other processes left, and gives the next names that may be
    // orphans.
    Step next() {
        if (!started) {
            started = true;
            if (orphans) {
                takeNames();
            }
        }
        QElapsedTimer timer;
        timer.start();
        Step step;
        while (folder < int(folders.size())) {
            if (dir == nullptr) {
                dir = listFolder(folders[size_t(folder)]);
                if (dir == nullptr) {
                    ++folder;
                    continue;
                }
                listed = 0;
            }
            step.folder = folder;
            for (int read = 0; read < listStepEntries; ++read) {
                const dirent* entry = ::readdir(dir);
                if (entry == nullptr || ++listed > listLimit) {
                    ::closedir(dir);
                    dir = nullptr;
                    ++folder;
                    return step;
                }
                const std::string_view name(entry->d_name);
                if (AtomicFile::isTemporary(name)) {
                    leftovers += removeLeftover(::dirfd(dir), entry->d_name) ? 1 : 0;
                } else if (orphans && ownFileName(name, folder == 1) &&
                           !std::binary_search(named.begin(), named.end(), nameHash(name))) {
                    // Links and folders are told apart on the queue, at the moment of removal.
                    step.names.append(QByteArray(name.data(), qsizetype(name.size())));
                    if (step.names.size() >= sweepBatch) {
                        return step;
                    }
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

    void takeNames() {
        named.reserve(size_t(2 * (items.size() + hiddenItems.size())));
        const auto add = [this](const ShelfItem& item) {
            if (item.fileURL) {
                named.push_back(nameHash(QFile::encodeName(item.fileURL->fileName())));
            }
            named.push_back(
                nameHash(QFile::encodeName(safeFileName(item.id) + QStringLiteral(".jpg"))));
        };
        for (const ShelfItem& item : std::as_const(items)) {
            add(item);
        }
        for (const HiddenRecord& record : std::as_const(hiddenItems)) {
            add(record.item);
        }
        std::sort(named.begin(), named.end());
    }
};

bool Store::readIndexWhole() const {
    // No index read (none there, renamed, empty, set aside, kept unread), one read only in part
    // (its text kept aside or not), or the bytes of one kept aside: every file there may be an
    // item's that no index this run holds names. An index read whole that this run may not
    // replace names, on disk, all the run loaded.
    return !isFirstRun_ && !readInPart_ && !asideAtLoad_;
}

void Store::sweepOrphans() {
    // A folder that cannot be written has nothing removed from it, leftovers included; nor has
    // another than the one this run read.
    if (sweep_ || !folderUsable(true)) {
        return;
    }
    auto sweep = std::make_shared<Sweep>();
    sweep->folders = {itemsDir_, thumbsDir_};
    sweep->orphans = readIndexWhole();
    sweep->before = loadedAtWall_ - dateMargin;
    if (begunAt_) {
        // Whole seconds, as the files are compared; a date beyond any file's spares them all.
        const double after = std::ceil(begunAt_->toUnix()) + double(dateMargin);
        sweep->after = !(after < 9.0e18) ? std::numeric_limits<qint64>::max()
                       : after > -9.0e18 ? qint64(after)
                                         : std::numeric_limits<qint64>::min();
    }
    sweep->halted = halted_;
    if (sweep->orphans) {
        // Shared, not copied: the names are taken from them on the writer at its first step.
        sweep->items = items_;
        sweep->hiddenItems = hiddenItems_;
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
    if (!folderUsable(true) || sweep_ != sweep) {
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
    if (step.at >= step.names.size()) {
        return 0;
    }
    const QString& folder = sweep.folders[size_t(step.folder)];
    const int fd = openFolder(folder);
    if (fd < 0) {
        return -1;
    }
    QElapsedTimer timer;
    timer.start();
    for (; step.at < step.names.size(); ++step.at) {
        // A removal can wait on a slow disk: the queue is held this long at most, and a step
        // goes on in the next job.
        if (bounded && timer.elapsed() > judgeStepMs) {
            break;
        }
        const QByteArray& name = step.names.at(step.at);
        // Judged here, on the queue, at the moment of removal: an item stored since the sweep
        // began names its files in `sweepKept_`, and a file whose removal waits for an index
        // without it may still be named by the index on disk.
        const QString fileName = QFile::decodeName(name);
        const QString path = folder + u'/' + fileName;
        if (sweepKept_.contains(fileName) || doomedFiles_.contains(path) ||
            doomedWriting_.contains(path)) {
            continue;
        }
        struct stat st {};
        if (::fstatat(fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(st.st_mode) || st.st_uid != ::geteuid() || st.st_nlink != 1 ||
            st.st_mtim.tv_sec >= sweep.before || st.st_mtim.tv_sec < sweep.after) {
            continue;
        }
        if (::unlinkat(fd, name.constData(), 0) == 0) {
            ++sweep.removed;
        }
    }
    ::close(fd);
    return step.at < step.names.size() ? 1 : 0;
}

void Store::endSweep(const std::shared_ptr<Sweep>& sweep) {
    if (sweep_ != sweep) {
        return;
    }
    sweep_.reset();
    sweepKept_ = {};
    if (sweep->leftovers > 0) {
        qCInfo(lcStore, "removed %lld unfinished files from %s",
               static_cast<long long>(sweep->leftovers), qUtf8Printable(rootPath_));
    }
    if (sweep->removed > 0) {
        qCInfo(lcStore, "removed %lld files that no item names from %s",
               static_cast<long long>(sweep->removed), qUtf8Printable(rootPath_));
    }
}

void Store::keepFromSweep(const ShelfItem& item) {
    if (!sweep_ || !sweep_->orphans) {
        return;
    }
    if (item.fileURL) {
        sweepKept_.insert(item.fileURL->fileName());
    }
    sweepKept_.insert(safeFileName(item.id) + QStringLiteral(".jpg"));
}

} // namespace ostrel
