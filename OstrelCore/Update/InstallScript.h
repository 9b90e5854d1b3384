#pragma once

#include <QByteArray>

namespace ostrel::InstallScript {

// The shell script that swaps the install folder after the application quits. Arguments: the
// application's process id, the verified new copy inside its staging folder, the install folder
// to replace (canonical), the reserved trash path for the old copy, and the install folder's
// device and inode as checked ("device:inode", as `stat -c %d:%i` prints them).
//
// It waits up to ten seconds for the process to end, moves the old copy to the trash, copies the
// new one into place, removes the staging folder and starts the new copy detached, with the
// script's own standard error. A path that no longer is the folder checked (another folder, a
// link) is left alone (exit 1). A failed move starts the old copy again where it is (exit 1); a
// failed copy puts the old copy back, or starts it from the trash when it cannot come back
// (exit 1). Each failure says why on standard error. Whichever copy it starts, it first waits up
// to another minute for the old process to end, so that the copy started is not turned away by
// the one still quitting. It refuses to touch "/" or the home folder, removes only a staging
// folder that sits beside the script itself, and drops the trash record when the old copy did
// not end up in the trash.
QByteArray text();

} // namespace ostrel::InstallScript
