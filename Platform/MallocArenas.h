#pragma once

namespace ostrel::MallocArenas {

// Caps glibc's malloc at two arenas for the process. By default every thread that allocates may
// get an arena of its own (eight per core), and what the decoding workers free stays spread over
// them: the peak then grows with the number of cores. Two arenas keep it flat at no cost in
// speed. Called first thing in main, before any thread starts; MALLOC_ARENA_MAX in the
// environment still decides when it is set.
void limit();

} // namespace ostrel::MallocArenas
