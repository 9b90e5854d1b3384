#pragma once

namespace ostrel::MallocArenas {

// Caps glibc's malloc at two arenas for the process. By default every thread that allocates may
// get an arena of its own (eight per core), and what the decoding workers free stays spread over
// them: the peak then grows with the number of cores. Two arenas keep it flat at no cost in
// speed. Called first thing in main, before any thread starts; MALLOC_ARENA_MAX in the
// environment still decides when it is set.
//
// It also keeps what it frees for the next request. A picture's pixels are megabytes, taken and
// given back for every picture of a backlog; glibc raises its thresholds only as it meets larger
// blocks, and until then hands them back to the system, so that they come back as fresh pages,
// each one faulted in and cleared again (a tenth of a first start went to that). Both thresholds
// start at the highest glibc would raise them to; release() hands what is kept back once a
// backlog is through. MALLOC_MMAP_THRESHOLD_ or MALLOC_TRIM_THRESHOLD_ set leaves both alone.
void limit();

// Gives the memory malloc keeps free back to the system.
void release();

// glibc's DEFAULT_MMAP_THRESHOLD_MAX on 64-bit systems, and twice that, as it sets them.
inline constexpr int mmapThreshold = 32 * 1024 * 1024;
inline constexpr int trimThreshold = 2 * mmapThreshold;

} // namespace ostrel::MallocArenas
