#pragma once

#include <dirent.h>
#include <sys/types.h>
#include <unistd.h>

#include <utility>

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

// openat(2), the same way: relative to the folder open as `folder`.
int openAt(int folder, const char* name, int flags, mode_t mode = 0);

// A descriptor closed with it.
class Owned {
public:
    Owned() = default;
    explicit Owned(int fd) : fd_(fd) {}
    Owned(Owned&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) {
            reset(std::exchange(other.fd_, -1));
        }
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { reset(); }

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release() { return std::exchange(fd_, -1); }
    void reset(int fd = -1) {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

} // namespace ostrel::Descriptors
