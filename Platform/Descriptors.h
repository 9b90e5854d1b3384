#pragma once

#include <dirent.h>
#include <sys/types.h>

namespace ostrel::Descriptors {

// open(2) and opendir(3) for the files the store and the engine read and write. A
// failure for want of descriptors (EMFILE: the process's limit, ENFILE: the system's) is said once
// in the log for the life of the process: each such failure alone is too small a thing to log (a
// capture skipped, a listing come up empty), and together they stop captures and saves without a
// word. errno is left as the call set it.
int open(const char* path, int flags, mode_t mode = 0);
DIR* openDir(const char* path);

// The same for another call that makes a descriptor and failed with `error`.
void note(int error);

} // namespace ostrel::Descriptors
