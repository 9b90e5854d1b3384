#include "OstrelCore/Records/OwnFolder.h"

#include <QFile>

#include <sys/stat.h>

namespace ostrel {

namespace {

std::optional<FileIdentity> folderAt(const QString& root) {
    struct stat st {};
    if (FileStat::holdsNul(root) || ::stat(QFile::encodeName(root).constData(), &st) != 0 ||
        !S_ISDIR(st.st_mode)) {
        return std::nullopt;
    }
    return FileIdentity::of(st);
}

} // namespace

bool OwnFolder::takeFolder(const QString& root) {
    folder_ = folderAt(root);
    return folder_.has_value();
}

void OwnFolder::takeIndex(const QString& index) {
    index_ = FileIdentity::at(index);
}

OwnFolder::Look OwnFolder::look(const QString& root, const QString& index) const {
    if (!folder_) {
        return Look::own;
    }
    // The folder's own size and date change with every file made in it: only which one it is.
    const auto folder = folderAt(root);
    if (!folder || !folder->isEntry(*folder_)) {
        return Look::otherFolder;
    }
    // An index gone (the user's doing) is none this store could replace: writing brings its own
    // back. One that cannot be looked at cannot be replaced either.
    const auto now = FileIdentity::at(index);
    if (now && now != index_) {
        return Look::otherIndex;
    }
    return Look::own;
}

} // namespace ostrel
