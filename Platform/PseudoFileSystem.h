#pragma once

#include <QString>

namespace ostrel::PseudoFileSystem {

// True for a folder on one of the kernel's pseudo file systems (proc, sysfs, devtmpfs, cgroup,
// devpts, debugfs, tracefs and their kind): their files are views of the running system that
// change all the time and number in the hundreds of thousands, never anything to capture, so a
// walk over "/" must not descend into them. False when the folder cannot be looked at.
bool holds(const QString& folder);

} // namespace ostrel::PseudoFileSystem
