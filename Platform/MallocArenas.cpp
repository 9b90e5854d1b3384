#include "Platform/MallocArenas.h"

#include <cstdlib>

#include <malloc.h>

namespace ostrel::MallocArenas {

void limit() {
    if (std::getenv("MALLOC_ARENA_MAX") == nullptr) {
        ::mallopt(M_ARENA_MAX, 2);
    }
}

} // namespace ostrel::MallocArenas
