#pragma once

#include <QByteArray>

#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char** environ;

namespace ostrel::bench {

// Nanoseconds of the monotonic clock, which every process of the machine shares: a child can
// say when something happened in it, and its parent subtract the moment it started it.
inline qint64 monotonicNs() {
    timespec t{};
    ::clock_gettime(CLOCK_MONOTONIC, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// What one whole process cost, as its parent saw it.
struct ProcessCost {
    bool ok = false;
    // From before the spawn to after the reap.
    double wall = 0;
    // User and system time the kernel counted for it and for the children it reaped.
    double cpu = 0;
    // Its peak resident size, in MiB.
    double peakMiB = 0;
    // monotonicNs() just before the spawn.
    qint64 spawnedAt = 0;
    QByteArray output;
};

// Runs a program to its end with posix_spawnp, its standard output read from a pipe (grep stops
// at its first match when it writes to /dev/null), and reaps it with wait4.
inline ProcessCost runProcess(const std::vector<std::string>& arguments) {
    ProcessCost cost;
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        return cost;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    std::vector<char*> argv;
    for (const std::string& a : arguments) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    cost.spawnedAt = monotonicNs();
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    char buffer[4096];
    for (ssize_t n; rc == 0 && (n = ::read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
        if (n > 0) {
            cost.output.append(buffer, n);
        }
    }
    ::close(pipeFds[0]);
    rusage usage{};
    int status = 0;
    if (rc != 0 || ::wait4(pid, &status, 0, &usage) < 0) {
        return cost;
    }
    cost.wall = double(monotonicNs() - cost.spawnedAt) / 1e9;
    const auto seconds = [](const timeval& t) {
        return double(t.tv_sec) + double(t.tv_usec) / 1e6;
    };
    cost.cpu = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    cost.peakMiB = double(usage.ru_maxrss) / 1024.0;
    cost.output = cost.output.trimmed();
    cost.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return cost;
}

} // namespace ostrel::bench
