#pragma once

#include "Platform/Error.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <sys/types.h>

namespace ostrel::AtomicFile {

// Replaces the file at `path` whole: a reader finds the old content or the new, never a part.
// The data is synced before the rename and the folder after it, so a crash cannot leave an empty
// file behind. Returns the failure, or nothing when the file was written.
std::optional<Error> write(const QString& path, const QByteArray& data, mode_t mode = 0600);

// Creates the folder with its missing parents; the folders created get `mode`. With `adjust`, a
// leaf of ours that existed is brought to `mode` too; without, an existing leaf is left as it
// is. Returns false when the folder is not there afterwards.
bool makeFolder(const QString& path, mode_t mode = 0700, bool adjust = true);

} // namespace ostrel::AtomicFile
