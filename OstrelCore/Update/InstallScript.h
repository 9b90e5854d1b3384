#pragma once

#include <QByteArray>

namespace ostrel::InstallScript {

// The shell script that swaps the install folder after the application quits. Arguments: the
// application's process id, the verified new copy inside its staging folder, the install folder
// to replace (canonical) and the reserved trash path for the old copy.
//
// It waits up to ten seconds for the process to end, moves the old copy to the trash, copies the
// new one into place, removes the staging folder and starts the new copy detached. A failed move
// changes nothing (exit 1); a failed copy puts the old copy back and starts it (exit 1). It
// refuses to touch "/" or the home folder, removes only a staging folder that sits beside the
// script itself, and drops the trash record when the old copy did not end up in the trash.
QByteArray text();

} // namespace ostrel::InstallScript
