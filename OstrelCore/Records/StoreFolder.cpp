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

namespace ostrel {

using namespace storeIndexParts;

namespace {

struct FolderClaim {
    std::mutex mutex;
    std::function<bool(const QString&)> claim;
};

// Reached from a flush that exit() may bring about: held on the heap and never freed.
FolderClaim& folderClaim() {
    static FolderClaim* const c = new FolderClaim;
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
    unusable_ = unusableFolder(rootPath_);
    folderCheckedAt_ = clock();
    // The folder this run reads, when there is one to read (read-only, it is still this one).
    own_.takeFolder(rootPath_);
}

bool Store::folderUsable(bool now) {
    // The store's clock set back counts as time gone by: a look is never put off by it.
    const Date at = clock();
    const double since = folderCheckedAt_ ? at.since(*folderCheckedAt_) : folderRecheckInterval;
    if (!now && since >= 0 && since < folderRecheckInterval) {
        return !unusable_;
    }
    folderCheckedAt_ = at;
    if (!unusable_) {
        return stillOwn();
    }
    if (auto problem = unusableFolder(rootPath_)) {
        unusable_ = std::move(problem);
        return false;
    }
    // Another folder in the place of this run's (a file system mounted over it) stays unused
    // until this run's is back; its lock is held meanwhile, so that no second shelf starts there
    // and takes for its own what it finds.
    if (own_.look(rootPath_, rootPath_ + u'/' + indexName) == OwnFolder::Look::otherFolder) {
        claimFolder(rootPath_);
        return false;
    }
    if (!claimFolder(rootPath_)) {
        return false;
    }
    unusable_.reset();
    qCInfo(lcStore, "support folder %s can be written again: what this run holds is saved there",
           qUtf8Printable(rootPath_));

    // From here on as at any start: our own folders, and the files that load could not write.
    AtomicFile::makeOwnFolder(itemsDir_, 0700);
    AtomicFile::makeOwnFolder(thumbsDir_, 0700);
    canonicalItemsDir_ = OstrelPaths::canonical(itemsDir_);
    canonicalThumbsDir_ = OstrelPaths::canonical(thumbsDir_);
    // A folder that could not be found at load is this run's from now on, with no index: one that
    // stands there now was written by another process meanwhile, and one that could not be read
    // at load is no more ours to replace now.
    if (!own_.hasFolder()) {
        own_.takeFolder(rootPath_);
    }
    if (!stillOwn()) {
        return false;
    }
    if (!indexWritable_) {
        offsetsWritable_ = false;
    }
    if (indexBehind_) {
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
    switch (own_.look(rootPath_, rootPath_ + u'/' + indexName)) {
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
    if (indexWritable_) {
        qCCritical(lcStore,
                   "%s is not the index this run read or wrote: left in place, not replaced "
                   "during this run, and no file it may name is removed",
                   qUtf8Printable(rootPath_ + u'/' + indexName));
        indexWritable_ = false;
    }
    // Its transcript positions go with it; the files of items this run removed may be its items'.
    offsetsWritable_ = false;
    doomedFiles_.clear();
    removing_.clear();
    sweep_.reset();
}

void Store::leaveFolder() {
    unusable_ = Error{QStringLiteral("Store"), 1,
                      QStringLiteral("not the support folder this shelf read at its start")};
    if (!std::exchange(otherFolderSaid_, true)) {
        qCCritical(lcStore,
                   "support folder %s is not the folder this shelf read at its start (a file "
                   "system mounted over it, or another folder put in its place): nothing is "
                   "saved or removed there and its index is left as it is; what comes meanwhile "
                   "waits for the folder this shelf read. Start the shelf again to use this one",
                   qUtf8Printable(rootPath_));
    }
    claimFolder(rootPath_);
}

bool Store::mayRemove() {
    return folderUsable(true) && indexWritable_;
}

} // namespace ostrel
