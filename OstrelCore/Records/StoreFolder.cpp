// Whether the support folder takes the store's files, and the folder looked at again while it
// does not.
#include "OstrelCore/Records/OstrelPaths.h"
#include "OstrelCore/Records/Store.h"
#include "OstrelCore/Records/StoreIndexParts.h"
#include "Platform/AtomicFile.h"
#include "Platform/FileStat.h"
#include "Platform/Log.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>
#include <utility>

namespace ostrel {

using namespace storeIndexParts;

namespace {

// What the shell says of the support folder's lock, process-wide.
struct FolderLockAnswers {
    std::mutex mutex;
    std::function<bool(const QString&)> claim;
    std::function<bool(const QString&)> held;
};

// Reached from a flush or a start that exit() may bring about: held on the heap and never freed.
FolderLockAnswers& folderClaim() {
    static FolderLockAnswers* const c = new FolderLockAnswers;
    return *c;
}

// Why the folder at `root` cannot hold our files, made when it is missing: not a folder, not
// ours to write, on a read-only file system. Other failures (a full disk) are found by the
// writes themselves, each of which says so.
std::optional<Error> unusableFolder(const QString& root) {
    if (AtomicFile::makeFolder(root, 0700, false) &&
        ::faccessat(AT_FDCWD, QFile::encodeName(root).constData(), W_OK | X_OK, AT_EACCESS) == 0) {
        return std::nullopt;
    }
    if (errno == ENOTDIR || errno == EACCES || errno == EPERM || errno == EROFS) {
        return Error::fromErrno();
    }
    return std::nullopt;
}

} // namespace

void Store::setFolderClaim(std::function<bool(const QString& root)> claim) {
    const std::lock_guard lock(folderClaim().mutex);
    folderClaim().claim = std::move(claim);
}

void Store::setFolderHeld(std::function<bool(const QString& root)> held) {
    const std::lock_guard lock(folderClaim().mutex);
    folderClaim().held = std::move(held);
}

bool Store::folderHeld() const {
    const std::lock_guard lock(folderClaim().mutex);
    return folderClaim().held && folderClaim().held(rootPath_);
}

namespace {

// Whether this process may keep the folder at `root` now (a shell claims its lock first).
bool claimFolder(const QString& root) {
    const std::lock_guard lock(folderClaim().mutex);
    return !folderClaim().claim || folderClaim().claim(root);
}

} // namespace

void Store::checkFolder() {
    // A folder that cannot be used is said once, by the shell, where it is opened; no file is
    // tried in it meanwhile, each to say the same.
    rights_.loadFolder(rootPath_, unusableFolder(rootPath_), clock());
}

bool Store::folderUsable(bool now) {
    const Date at = clock();
    if (!rights_.lookDue(at, now)) {
        return rights_.mayPlace();
    }
    if (rights_.mayPlace()) {
        return stillOwn();
    }
    if (auto problem = unusableFolder(rootPath_)) {
        rights_.stillUnusable(std::move(*problem));
        return false;
    }
    // Another folder in the place of this run's (a file system mounted over it) stays unused
    // until this run's is back; its lock is held meanwhile, so that no second shelf starts there
    // and takes for its own what it finds.
    if (rights_.look(rootPath_, rootPath_ + u'/' + indexName) == OwnFolder::Look::otherFolder) {
        claimFolder(rootPath_);
        return false;
    }
    if (!claimFolder(rootPath_)) {
        return false;
    }
    rights_.usableAgain(rootPath_);
    qCInfo(lcStore, "support folder %s can be written again: what this run holds is saved there",
           qUtf8Printable(rootPath_));

    // From here on as at any start: our own folders, and the files that load could not write.
    takeSubfolders();
    canonicalItemsDir_ = OstrelPaths::canonical(itemsDir_);
    canonicalThumbsDir_ = OstrelPaths::canonical(thumbsDir_);
    if (!stillOwn()) {
        return false;
    }
    if (rights_.indexBehind()) {
        if (!indexDirty_) {
            indexDirty_ = true;
            dirtySince_ = at;
        }
        armIndexWrite();
    }
    if (offsetsDirty_) {
        scheduleOffsetsSave();
    }
    if (startDue_) {
        writeStart();
    }
    return true;
}

bool Store::stillOwn() {
    const QString index = rootPath_ + u'/' + indexName;
    OwnFolder::Look found = rights_.look(rootPath_, index);
    // The write under way may have put its index there already, before the queue hears of it.
    if (found == OwnFolder::Look::otherIndex) {
        if (writtenUnderWay()) {
            found = rights_.look(rootPath_, index);
        }
    }
    switch (found) {
    case OwnFolder::Look::own:
        return true;
    case OwnFolder::Look::otherIndex:
        leaveIndex();
        return true;
    case OwnFolder::Look::otherFolder:
        leaveFolder();
        return false;
    }
    return false;
}

void Store::leaveIndex() {
    if (rights_.leaveIndex()) {
        qCCritical(lcStore,
                   "%s is not the index this run read or wrote: left in place, not replaced "
                   "during this run, and no file it may name is removed",
                   qUtf8Printable(rootPath_ + u'/' + indexName));
    }
    // Its transcript positions go with it; the files of items this run removed may be its items'.
    pendingRemovals_.clear();
    recordedRemovals_.clear();
    tidying_.reset();
}

void Store::leaveFolder() {
    if (rights_.leaveFolder()) {
        qCCritical(lcStore,
                   "support folder %s is not the folder this shelf read at its start (a file "
                   "system mounted over it, or another folder put in its place): nothing is "
                   "saved or removed there and its index is left as it is; what comes meanwhile "
                   "waits for the folder this shelf read. Start the shelf again to use this one",
                   qUtf8Printable(rootPath_));
    }
    claimFolder(rootPath_);
}

void Store::takeSubfolders(bool atLoad) {
    for (const auto subfolder : {OwnFolder::Subfolder::items, OwnFolder::Subfolder::thumbs}) {
        // One the run took already (an engine started again) is waited for, never made anew.
        if (rights_.own().hasSubfolder(subfolder)) {
            continue;
        }
        // A link of the user's standing there at the start is the user's choice of folder, as
        // one at the support folder is: followed, and its folder left as the user made it.
        if (atLoad && rights_.takeSubfolder(rootPath_, subfolder, true)) {
            if (rights_.own().throughLink(subfolder)) {
                qCInfo(lcStore,
                       "%s is a link of the user's: this shelf uses the folder it leads to",
                       qUtf8Printable(subfolderPath(subfolder)));
            }
            continue;
        }
        AtomicFile::makeOwnFolder(subfolderPath(subfolder), 0700);
        rights_.takeSubfolder(rootPath_, subfolder);
    }
}

std::optional<Error> Store::subfolderProblem(OwnFolder::Subfolder subfolder) {
    const QString path = subfolderPath(subfolder);
    bool& lost = subfolderLost_[size_t(subfolder)];
    bool here = false;
    if (rights_.own().hasSubfolder(subfolder)) {
        here = rights_.own().subfolderHere(rootPath_, subfolder);
    } else {
        // None taken yet (it could not be made at load): made now, as a start would.
        AtomicFile::makeOwnFolder(path, 0700);
        here = rights_.takeSubfolder(rootPath_, subfolder);
    }
    if (here) {
        if (std::exchange(lost, false)) {
            qCInfo(lcStore, "%s is this shelf's folder again: what waited is written there",
                   qUtf8Printable(path));
        }
        return std::nullopt;
    }
    if (!std::exchange(lost, true)) {
        qCCritical(lcStore,
                   "%s is not the folder this shelf uses (a link, a file system mounted over "
                   "it, or another folder put in its place): nothing is written into it or "
                   "removed from it, and what comes meanwhile waits for that folder to be back",
                   qUtf8Printable(path));
    }
    return Error{QStringLiteral("Store"), notTheSubfolder,
                 QStringLiteral("not the folder this shelf uses")};
}

int Store::openSubfolder(OwnFolder::Subfolder subfolder) const {
    const int fd = openFolder(subfolderPath(subfolder), rights_.own().throughLink(subfolder));
    if (fd >= 0 && !rights_.own().isSubfolder(fd, subfolder)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool Store::writesNow(StoreRights::File file, bool& dirty) {
    // A file never to be written costs no look; a look may find it never is.
    if (rights_.mayWrite(file) == StoreRights::May::never) {
        return false;
    }
    if (!folderUsable(true)) {
        dirty = true; // written once the folder can be
        return false;
    }
    return rights_.mayWrite(file) == StoreRights::May::now;
}

bool Store::mayRemove() {
    return folderUsable(true) && rights_.mayRemove();
}

bool Store::mayTidy() {
    return folderUsable(true) && rights_.mayTidy();
}

} // namespace ostrel
