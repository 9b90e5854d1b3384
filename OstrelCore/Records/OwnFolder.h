#pragma once

#include "Platform/FileStat.h"

#include <QString>

#include <optional>

namespace ostrel {

// What a store knows to be its own at the support folder's path: the folder it read (or first
// used, when it could not be used at load), and the index at its name as the store read it or
// last wrote it, or that none stood there. Before the store writes its index, or removes a file,
// it asks whether the path still leads there: a file system mounted over the folder after the
// start, another folder put in its place, or an index put there by another hand is not its own.
// Kept with the other facts that decide what the store may do (StoreRights.h). A plain value: the
// index's writer asks a copy on its own thread.
class OwnFolder {
public:
    enum class Look {
        own,         // the folder, with the index this store read or wrote, or none
        otherFolder, // another folder at the path, or no folder at all
        otherIndex,  // the folder, holding an index this store neither read nor wrote
    };

    // Takes the folder `root` leads to now; false when no folder stands there.
    bool takeFolder(const QString& root);
    // Takes what stands at `index` now as the index read (nothing: none was there).
    void takeIndex(const QString& index);
    // The index this store has just written.
    void wrote(const FileIdentity& index) { index_ = index; }
    bool hasFolder() const { return folder_.has_value(); }
    // Own while no folder was taken.
    Look look(const QString& root, const QString& index) const;

private:
    std::optional<FileIdentity> folder_;
    std::optional<FileIdentity> index_;
};

} // namespace ostrel
