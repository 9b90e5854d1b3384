#pragma once

#include "Platform/Date.h"
#include "Platform/SerialQueue.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace ostrel {

// Reports the paths that change under a few folders, in batches, on a serial queue. Built on
// inotify: every folder below a root gets a watch of its own, added before the folder is listed,
// so that what a program writes into a folder it has just made is never missed.
//
// - Roots are resolved once with realpath, and every reported path is built from the resolved
//   root: a root reached through a symbolic link reports the link's target.
// - A root that does not exist yet is waited for by watching the chain of its existing ancestors
//   without recursion (never a recursive watch over "/", the home folder or the temporary
//   folder); once it appears it is watched, listed and reported. A root that is removed or moved
//   away is waited for again the same way.
// - Symbolic links to folders are never followed below a root, and no folder on a pseudo file
//   system (proc, sysfs, devtmpfs, cgroup...) is watched below one.
// - When the kernel's watch limit is reached, the root is flagged for a rescan once per arming,
//   not once per folder that could not be watched.
// - When events were lost (the kernel's queue overflowed, the watch limit was reached, or a
//   batch grew past its limit), the root's own path is delivered with `mustScanSubDirs` and a
//   dropped flag; ordinary paths carry no flags.
class FileEventStream {
public:
    // The flag bits a delivered path may carry. The lowest three all mean "scan this root again".
    static constexpr quint32 mustScanSubDirs = 0x1;
    static constexpr quint32 userDropped = 0x2;
    static constexpr quint32 kernelDropped = 0x4;
    // Seconds a file's status-change time may lie before `Options::changedSince` and still count
    // as a change since then: some file systems keep whole or even two seconds, and the kernel
    // stamps files from a clock that may lag the one the moment was read from.
    static constexpr double changeTimeSlack = 2.0;

    // Paths and one flag word per path, in the order the changes were read; a path appears once
    // per batch.
    using Handler = std::function<void(const QStringList& paths, const QList<quint32>& flags)>;

    struct Options {
        // Seconds a batch is held to gather later events.
        double latency = 0.25;
        // The first event after a quiet period of `latency` goes out at once; later ones wait for
        // the latency. Off: every batch goes out `latency` after its first event.
        bool noDefer = true;
        // Unset: each root is watched with everything below it. Set: each root is watched one
        // level deep for the folders directly inside it whose names this accepts, and only those
        // folders' own files are reported — for a root full of unrelated churn such as the
        // temporary folder.
        std::function<bool(const QString& name)> subfolders;
        // Most distinct paths one batch gathers; past it the batch is replaced by a rescan flag
        // on every root, so that a queue that falls behind never holds an unbounded batch.
        qsizetype batchLimit = 65536;
        // Bytes asked of the kernel per read (at least one event with the longest name).
        qsizetype readBuffer = 64 * 1024;
        // Runs on the reader thread before it waits for events; lets tests hold the reader back
        // until the kernel's queue overflows.
        std::function<void()> beforeRead;
        // Adds the watches on the reader thread instead of in start(), for a root that may be as
        // large as "/": start() returns at once, and events are reported only from the moment
        // each folder's watch is in place. stop() ends such a walk within a folder.
        bool armInBackground = false;
        // Set: the first arming of a whole tree also reports the files in it whose status changed
        // at or after this moment (less `changeTimeSlack`). An owner that lists the tree itself
        // from this moment on thus misses nothing written into a folder it had listed before the
        // folder's watch was in place; a rename or a copy that keeps the modification time still
        // sets the status-change time.
        std::optional<Date> changedSince;
        // Runs on the reader thread before a background arming begins; lets tests hold it back.
        // stop() waits for it.
        std::function<void()> beforeArming;
    };

    FileEventStream(QStringList roots, std::shared_ptr<SerialQueue> queue, Handler handler,
                    Options options);
    FileEventStream(QStringList roots, std::shared_ptr<SerialQueue> queue, Handler handler);
    ~FileEventStream();

    FileEventStream(const FileEventStream&) = delete;
    FileEventStream& operator=(const FileEventStream&) = delete;

    // Adds the watches before it returns (events from then on are reported) and starts reading.
    // False, with nothing watched, when no inotify instance can be had. A second call does
    // nothing; a stopped stream does not start again.
    bool start();

    // Drops the handler first, so that a batch already queued finds none, then ends the reader.
    // Safe from any thread, the queue's own included, and safe to repeat.
    void stop();

    // Folders watched right now, ancestors of missing roots included.
    qsizetype watchCount() const;

private:
    struct Reader;
    std::shared_ptr<Reader> reader_;
};

} // namespace ostrel
