#pragma once

#include <functional>
#include <memory>

#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

namespace ostrel {

// Wraps a job that another thread will run. Qt's event queues synchronise inside Qt, which
// ThreadSanitizer cannot see, so under TSan the hand-off is declared explicitly: everything the
// posting thread wrote before posting happens before the job. Otherwise the job is unchanged.
inline std::function<void()> handOff(std::function<void()> job) {
#if defined(__SANITIZE_THREAD__)
    auto token = std::make_shared<char>();
    __tsan_release(token.get());
    return [token, job = std::move(job)] {
        __tsan_acquire(token.get());
        job();
    };
#else
    return job;
#endif
}

// The other direction, for a caller that waits for a job: the job calls `release(token)` as it
// ends and the waiting caller `acquire(token)` once it returns. No-ops outside TSan builds.
inline void release([[maybe_unused]] void* token) {
#if defined(__SANITIZE_THREAD__)
    __tsan_release(token);
#endif
}
inline void acquire([[maybe_unused]] void* token) {
#if defined(__SANITIZE_THREAD__)
    __tsan_acquire(token);
#endif
}

// Runs the job on the main thread's event loop; false when there is no application object.
bool postToMain(std::function<void()> job);

} // namespace ostrel
