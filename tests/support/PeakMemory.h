#pragma once

#include <QByteArray>
#include <QFile>

#include <cstring>
#include <functional>

namespace ostrel::test {

// A field of /proc/self/status ("VmRSS:", "VmHWM:") in MiB.
inline double statusMiB(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(field)) {
            return line.mid(qsizetype(std::strlen(field))).trimmed().split(' ')[0].toDouble() /
                   1024.0;
        }
    }
    return 0;
}

// Starts the peak resident size ("VmHWM:") again from what is resident now.
inline void resetPeak() {
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly)) {
        clear.write("5");
    }
}

// How far the peak resident size rose above what was resident while `run` ran, in MiB. Memory
// freed earlier and still resident may be reused unseen: measure in a fresh process.
inline double peakGrowthMiB(const std::function<void()>& run) {
    resetPeak();
    const double before = statusMiB("VmRSS:");
    run();
    return statusMiB("VmHWM:") - before;
}

} // namespace ostrel::test
