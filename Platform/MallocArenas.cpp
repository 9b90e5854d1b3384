#include "Platform/MallocArenas.h"

#include <cstdlib>

#include <malloc.h>

namespace ostrel::MallocArenas {

void limit() {
    if (std::getenv("MALLOC_ARENA_MAX") == nullptr) {
        ::mallopt(M_ARENA_MAX, 2);
    }
    if (std::getenv("MALLOC_TRIM_THRESHOLD_") == nullptr &&
        std::getenv("MALLOC_MMAP_THRESHOLD_") == nullptr) {
        ::mallopt(M_MMAP_THRESHOLD, mmapThreshold);
        ::mallopt(M_TRIM_THRESHOLD, trimThreshold);
    }
}

void release() {
    ::malloc_trim(0);
}

} // namespace ostrel::MallocArenas
