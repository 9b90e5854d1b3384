#pragma once

#include <QString>

namespace ostrel::PrivateFolder {

// Makes `path` a fresh, empty folder of ours: whatever stands there is removed without following
// links, the folder is created 0700, and `lstat` must then show a real folder owned by this user
// that nobody else may enter. False when any of that fails.
bool makeFresh(const QString& path);

// Makes sure `path` is a real folder of ours, 0700 (created with its parents when missing). A link
// or another user's folder there is refused, never followed.
bool ensure(const QString& path);

// Removes whatever stands at `path`; a folder is emptied by a walk that never follows a link.
bool remove(const QString& path);

} // namespace ostrel::PrivateFolder
