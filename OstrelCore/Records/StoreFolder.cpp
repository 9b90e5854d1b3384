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

void Store::checkFolder() {
    // A folder that cannot be used is said once, by the shell, where it is opened; no file is
    // tried in it meanwhile, each to say the same.
    unusable_ = unusableFolder(rootPath_);
    if (unusable_) {
        folderCheckedAt_ = clock();
    }
}

bool Store::folderUsable(bool now) {
    if (!unusable_) {
        return true;
    }
    // The store's clock set back counts as time gone by.
    const Date at = clock();
    if (!now && folderCheckedAt_ && at.since(*folderCheckedAt_) >= 0 &&
        at.since(*folderCheckedAt_) < folderRecheckInterval) {
        return false;
    }
    folderCheckedAt_ = at;
    if (auto problem = unusableFolder(rootPath_)) {
        unusable_ = std::move(problem);
        return false;
    }
    {
        const std::lock_guard lock(folderClaim().mutex);
        if (folderClaim().claim && !folderClaim().claim(rootPath_)) {
            return false;
        }
    }
    unusable_.reset();
    qCInfo(lcStore, "support folder %s can be written again: what this run holds is saved there",
           qUtf8Printable(rootPath_));

    // From here on as at any start: our own folders, and the files that load could not write.
    AtomicFile::makeOwnFolder(itemsDir_, 0700);
    AtomicFile::makeOwnFolder(thumbsDir_, 0700);
    canonicalItemsDir_ = OstrelPaths::canonical(itemsDir_);
    canonicalThumbsDir_ = OstrelPaths::canonical(thumbsDir_);
    // An index found missing at load that stands there now was written by another process
    // meanwhile; one that could not be read at load is no more ours to replace now.
    const QString index = rootPath_ + u'/' + indexName;
    if (indexWritable_ && isFirstRun_ && !indexSetAside_ && FileStat::exists(index)) {
        qCCritical(lcStore,
                   "%s appeared while the support folder could not be used: left in "
                   "place, not replaced during this run",
                   qUtf8Printable(index));
        indexWritable_ = false;
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

} // namespace ostrel
