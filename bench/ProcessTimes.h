#pragma once

// What another process spends, read from /proc: the benchmarks that run the real binary measure
// it from outside.
#include <QDir>
#include <QFile>
#include <QMap>
#include <QString>

namespace ostrel::bench {

// Time on a CPU of every thread of `pid`, in seconds, by thread id (the scheduler's nanoseconds:
// clock ticks are too coarse for a fraction of a percent over a few seconds).
inline QMap<QString, double> threadSeconds(qint64 pid) {
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    QMap<QString, double> byThread;
    for (const QString& tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(tasks + u'/' + tid + QStringLiteral("/schedstat"));
        if (stat.open(QIODevice::ReadOnly)) {
            byThread[tid] = stat.readAll().split(' ').value(0).toDouble() / 1e9;
        }
    }
    return byThread;
}

// What the threads spent between two readings; a thread that ended in between takes its last
// stretch with it, so the figure errs low by that, never below zero.
inline double cpuSpent(const QMap<QString, double>& before, const QMap<QString, double>& after) {
    double total = 0;
    for (auto it = after.cbegin(); it != after.cend(); ++it) {
        total += it.value() - before.value(it.key());
    }
    return total;
}

} // namespace ostrel::bench
