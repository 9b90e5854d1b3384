#include "OstrelCore/Records/StoreRights.h"

#include <algorithm>
#include <utility>

namespace ostrel {

void StoreRights::loadFolder(const QString& root, std::optional<Error> unusable, Date at) {
    unusable_ = std::move(unusable);
    lookedAt_ = at;
    own_.takeFolder(root);
}

QHash<QString, quint64> StoreRights::offsetsToWrite(const QHash<QString, quint64>& offsets) const {
    if (!indexBehind_) {
        return offsets;
    }
    // A transcript position past captures that only this run's memory holds would lose them
    // for good: a start after a crash, or after this index could not be written, reads their
    // lines again from where the index on disk left off. Reading a line twice costs nothing.
    QHash<QString, quint64> out;
    for (auto it = offsets.constBegin(); it != offsets.constEnd(); ++it) {
        if (const auto old = offsetsOfIndex_.constFind(it.key());
            old != offsetsOfIndex_.constEnd()) {
            out.insert(it.key(), std::min(*old, it.value()));
        }
    }
    return out;
}

bool StoreRights::lookDue(Date at, bool now) {
    // The store's clock set back counts as time gone by: a look is never put off by it.
    const double since = lookedAt_ ? at.since(*lookedAt_) : lookInterval;
    if (!now && since >= 0 && since < lookInterval) {
        return false;
    }
    lookedAt_ = at;
    return true;
}

bool StoreRights::leaveFolder() {
    unusable_ = Error{QStringLiteral("Store"), 1,
                      QStringLiteral("not the support folder this shelf read at its start")};
    return !std::exchange(otherFolderSaid_, true);
}

bool StoreRights::leaveIndex() {
    offsetsKept_ = true;
    return !std::exchange(indexKept_, true);
}

void StoreRights::usableAgain(const QString& root) {
    unusable_.reset();
    // A folder that could not be found at load is this run's from now on, with no index: one
    // that stands there now was written by another process meanwhile.
    if (!own_.hasFolder()) {
        own_.takeFolder(root);
    }
    // An index that could not be read at load is no more ours to replace now, nor its offsets.
    if (indexKept_) {
        offsetsKept_ = true;
    }
}

bool StoreRights::indexWritten(const QHash<QString, quint64>& offsetsOfWrite, bool changedSince) {
    indexBehind_ = changedSince;
    if (offsetsOfIndex_ == offsetsOfWrite) {
        return false;
    }
    offsetsOfIndex_ = offsetsOfWrite;
    return true;
}

} // namespace ostrel
