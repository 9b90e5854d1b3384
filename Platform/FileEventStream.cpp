#include "Platform/FileEventStream.h"

#include "Platform/Descriptors.h"
#include "Platform/FileStat.h"
#include "Platform/Log.h"
#include "Platform/PseudoFileSystem.h"

#include <QDir>
#include <QFile>
#include <QHash>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr uint32_t treeMask = IN_CREATE | IN_CLOSE_WRITE | IN_MODIFY | IN_MOVED_TO | IN_MOVED_FROM |
                              IN_ATTRIB | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF;
// In the root of a shallow stream only folders coming and going matter; leaving the file events
// out keeps the churn of a temporary folder out of the kernel's queue altogether.
constexpr uint32_t shallowRootMask =
    IN_CREATE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr uint32_t ancestorMask = IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr uint32_t folderOnly = IN_ONLYDIR | IN_DONT_FOLLOW;
// Reads per wake-up before the reader looks at its deadline again, so that a steady stream of
// events cannot hold a batch back.
constexpr int readsPerWake = 64;

QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}

std::optional<QString> realPath(const QString& path) {
    char* resolved = ::realpath(native(path).constData(), nullptr);
    if (resolved == nullptr) {
        return std::nullopt;
    }
    QString out = QFile::decodeName(resolved);
    std::free(resolved);
    return out;
}

// Follows links: a root may be reached through one.
bool isFolder(const QString& path) {
    struct stat st {};
    return ::stat(native(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

QString parentOf(const QString& path) {
    const qsizetype slash = path.lastIndexOf(u'/');
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

QString join(const QString& folder, const QString& name) {
    return folder == QLatin1String("/") ? u'/' + name : folder + u'/' + name;
}

bool isLimit(int error) {
    return error == ENOSPC || error == ENOMEM;
}

struct Entry {
    QString name;
    bool folder = false;
    // A regular file whose status changed at or after the moment the listing was given.
    bool changed = false;
};

// A folder's entries; a link is never taken for a folder. None when it cannot be listed.
std::optional<std::vector<Entry>> list(const QString& folder,
                                       const std::optional<Date>& changedSince = std::nullopt) {
    DIR* dir = Descriptors::openDir(native(folder).constData());
    if (dir == nullptr) {
        return std::nullopt;
    }
    std::vector<Entry> out;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
            continue;
        }
        bool folderEntry = entry->d_type == DT_DIR;
        bool changed = false;
        if (entry->d_type == DT_UNKNOWN || (changedSince && entry->d_type == DT_REG)) {
            struct stat st {};
            if (::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
                folderEntry = S_ISDIR(st.st_mode);
                changed = changedSince && S_ISREG(st.st_mode) &&
                          Date::fromTimespec(st.st_ctim) >= *changedSince;
            }
        }
        // A name that is not valid UTF-8 has no path of ours; the capture side's own listings
        // say so once per folder.
        if (auto exact = FileStat::exactName(name)) {
            out.push_back(Entry{std::move(*exact), folderEntry, changed});
        }
    }
    ::closedir(dir);
    return out;
}

} // namespace

struct FileEventStream::Reader {
    struct Box {
        std::mutex lock;
        Handler handler;
    };

    enum class Role { tree, shallowRoot, subfolder, ancestor };

    struct Watch {
        QString path;
        Role role = Role::tree;
        // Moved away from its path; silent until it turns up again inside the root.
        bool away = false;
    };

    // A folder moved away, kept until the end of the read in case it turns up inside the root.
    struct MovedAway {
        QString path;
        std::vector<int> wds;
    };

    // One inotify instance per root: the kernel gives one watch per folder and instance, so
    // roots that overlap, or a waiting root whose ancestors lie in another root's tree, would
    // otherwise share watches.
    struct Root {
        QString given;
        QString base;
        int fd = -1;
        bool armed = false;
        int nearestWd = -1;
        QString awaited;
        // The watch limit was reported for this arming.
        bool limitNoted = false;
        std::unordered_map<int, Watch> watches;
        std::unordered_map<uint32_t, MovedAway> movedAway;
    };

    std::vector<Root> roots;
    std::shared_ptr<SerialQueue> queue;
    std::shared_ptr<Box> box = std::make_shared<Box>();
    Options options;
    std::thread thread;
    int wakeFd = -1;
    std::mutex control;
    bool started = false;
    bool stopped = false;
    std::atomic<qsizetype> watchTotal{0};
    // Set by stop() before it wakes the reader: a walk in progress gives up at its next folder.
    std::atomic<bool> stopping{false};

    // The batch being gathered; the reader's alone once it runs.
    std::vector<QString> order;
    std::vector<quint32> flags;
    QHash<QString, std::size_t> position;
    bool overflowed = false;
    SteadyClock::time_point deadline;
    SteadyClock::time_point lastFlush = SteadyClock::time_point::min();

    SteadyClock::duration latency() const {
        return std::chrono::duration_cast<SteadyClock::duration>(
            std::chrono::duration<double>(std::max(0.0, options.latency)));
    }

    // --- The batch ---

    void note(const QString& path, quint32 flag) {
        if (overflowed && flag == 0) {
            return;
        }
        if (const auto it = position.constFind(path); it != position.constEnd()) {
            flags[*it] |= flag;
            return;
        }
        if (flag == 0 && static_cast<qsizetype>(order.size()) >= options.batchLimit) {
            dropBatch();
            return;
        }
        if (order.empty()) {
            const auto now = SteadyClock::now();
            if (!options.noDefer) {
                deadline = now + latency();
            } else if (lastFlush == SteadyClock::time_point::min() ||
                       now - lastFlush >= latency()) {
                deadline = now;
            } else {
                deadline = lastFlush + latency();
            }
        }
        position.insert(path, order.size());
        order.push_back(path);
        flags.push_back(flag);
    }

    // The batch grew past its limit: what it held is replaced by a rescan of every root.
    void dropBatch() {
        order.clear();
        flags.clear();
        position.clear();
        overflowed = true;
        for (const Root& root : roots) {
            note(root.base, mustScanSubDirs | userDropped);
        }
    }

    void flush() {
        if (order.empty()) {
            return;
        }
        QStringList paths;
        QList<quint32> words;
        paths.reserve(static_cast<qsizetype>(order.size()));
        words.reserve(static_cast<qsizetype>(order.size()));
        for (std::size_t i = 0; i < order.size(); ++i) {
            paths.append(std::move(order[i]));
            words.append(flags[i]);
        }
        order.clear();
        flags.clear();
        position.clear();
        overflowed = false;
        lastFlush = SteadyClock::now();
        // The handler is looked up when the batch runs, so that one queued before stop() never
        // reaches it afterwards.
        queue->async([box = box, paths = std::move(paths), words = std::move(words)] {
            Handler handler;
            {
                std::lock_guard guard(box->lock);
                handler = box->handler;
            }
            if (handler) {
                handler(paths, words);
            }
        });
    }

    // --- Watches ---

    int add(Root& root, const QString& path, uint32_t mask, Role role) {
        const int wd = ::inotify_add_watch(root.fd, native(path).constData(), mask);
        if (wd < 0) {
            const int error = errno;
            if (isLimit(error) && !root.limitNoted) {
                root.limitNoted = true;
                note(root.base, mustScanSubDirs);
            }
            errno = error;
            return -1;
        }
        if (root.watches.insert_or_assign(wd, Watch{path, role}).second) {
            ++watchTotal;
        }
        return wd;
    }

    void drop(Root& root, int wd) {
        if (root.watches.erase(wd) > 0) {
            --watchTotal;
            ::inotify_rm_watch(root.fd, wd);
        }
    }

    void clear(Root& root) {
        for (const auto& [wd, watch] : root.watches) {
            ::inotify_rm_watch(root.fd, wd);
        }
        watchTotal -= static_cast<qsizetype>(root.watches.size());
        root.watches.clear();
        root.movedAway.clear();
        root.armed = false;
        root.nearestWd = -1;
        root.awaited.clear();
        root.limitNoted = false;
    }

    // Watches `top` and every folder below it, each before it is listed; reports what the
    // listings find when `report` is set, else the files they find changed since `changedSince`
    // when that is set. Returns the error of watching `top` itself (0 when watched).
    int addTree(Root& root, const QString& top, bool report,
                const std::optional<Date>& changedSince = std::nullopt) {
        int topError = 0;
        struct stat topStat {};
        ::stat(native(top).constData(), &topStat);
        // Each folder with the device it lies on: pseudo file systems are mounted, so only a
        // change of device can lead into one.
        std::vector<std::pair<QString, dev_t>> stack{{top, topStat.st_dev}};
        while (!stack.empty() && !stopping.load()) {
            const auto [path, device] = std::move(stack.back());
            stack.pop_back();
            const int wd = add(root, path, treeMask | folderOnly, Role::tree);
            if (wd < 0) {
                if (path == top) {
                    topError = errno;
                }
                continue;
            }
            const auto entries = list(path, report ? std::nullopt : changedSince);
            if (!entries) {
                // Made unreadable between the watch and the listing: without its watch, the
                // permission change that makes it readable again lists it then.
                if (errno == EACCES && path != root.base) {
                    drop(root, wd);
                }
                continue;
            }
            for (const Entry& entry : *entries) {
                const QString child = join(path, entry.name);
                if (report || entry.changed) {
                    note(child, 0);
                }
                if (!entry.folder) {
                    continue;
                }
                struct stat st {};
                if (::lstat(native(child).constData(), &st) != 0 || !S_ISDIR(st.st_mode) ||
                    (st.st_dev != device && PseudoFileSystem::holds(child))) {
                    continue;
                }
                stack.emplace_back(child, st.st_dev);
            }
        }
        return topError;
    }

    // A folder that could not be watched for want of permission is watched and listed, as a new
    // one, once a change of its mode lets it be read. Its parent reports every change of the
    // folder's attributes: one already watched is left alone, so that a folder flipping between
    // readable and not is watched and reported once.
    void watchIfUnwatched(Root& root, const QString& path) {
        const std::size_t before = root.watches.size();
        if (add(root, path, treeMask | folderOnly, Role::tree) >= 0 &&
            root.watches.size() > before) {
            addTree(root, path, true);
        }
    }

    void addSubfolder(Root& root, const QString& path, bool report) {
        if (add(root, path, treeMask | folderOnly, Role::subfolder) < 0 || !report) {
            return;
        }
        if (const auto entries = list(path)) {
            for (const Entry& entry : *entries) {
                if (!entry.folder) {
                    note(join(path, entry.name), 0);
                }
            }
        }
    }

    int addShallow(Root& root, const QString& top, bool report) {
        if (add(root, top, shallowRootMask | IN_ONLYDIR, Role::shallowRoot) < 0) {
            return errno;
        }
        if (const auto entries = list(top)) {
            for (const Entry& entry : *entries) {
                if (entry.folder && options.subfolders(entry.name)) {
                    const QString child = join(top, entry.name);
                    if (report) {
                        note(child, 0);
                    }
                    addSubfolder(root, child, report);
                }
            }
        }
        return 0;
    }

    // Watches the root when it is there, else the chain of its existing ancestors, without
    // recursion, until it appears. `appearing`: the root is new, so what it holds is reported;
    // else, in a whole tree, the files changed since `changedSince` when that is set.
    void arm(Root& root, bool appearing, const std::optional<Date>& changedSince = std::nullopt) {
        for (int round = 0; round < 8; ++round) {
            clear(root);
            if (isFolder(root.given)) {
                root.base = realPath(root.given).value_or(root.given);
                if (appearing) {
                    note(root.base, 0);
                }
                const int error = options.subfolders
                                      ? addShallow(root, root.base, appearing)
                                      : addTree(root, root.base, appearing, changedSince);
                if (error == 0) {
                    root.armed = true;
                    return;
                }
                // There but not watchable (no permission, or a link to a file): wait on its
                // parent for it to be replaced.
                clear(root);
                waitOnAncestors(root);
                return;
            }
            const QString nearest = waitOnAncestors(root);
            if (!isFolder(join(nearest, root.awaited))) {
                return;
            }
            // The awaited folder appeared while the ancestors were being watched.
            appearing = true;
        }
    }

    // Returns the nearest existing ancestor as given (unresolved).
    QString waitOnAncestors(Root& root) {
        QString nearest = root.given;
        QString awaited;
        do {
            awaited = nearest.mid(nearest.lastIndexOf(u'/') + 1);
            nearest = parentOf(nearest);
        } while (nearest != QLatin1String("/") && !isFolder(nearest));

        const QString resolved = realPath(nearest).value_or(nearest);
        const QString rest = root.given.mid(nearest == QLatin1String("/") ? 1 : nearest.size() + 1);
        root.base = join(resolved, rest);

        QString folder = resolved;
        for (bool first = true;; first = false) {
            const int wd = add(root, folder, ancestorMask | IN_ONLYDIR, Role::ancestor);
            if (first) {
                root.nearestWd = wd;
            }
            if (folder == QLatin1String("/")) {
                break;
            }
            folder = parentOf(folder);
        }
        root.awaited = awaited;
        return nearest;
    }

    // What the first arming reports as changed: the owner's moment, less the slack.
    std::optional<Date> firstChanges() const {
        if (!options.changedSince) {
            return std::nullopt;
        }
        return options.changedSince->adding(-changeTimeSlack);
    }

    // After lost events the tree may hold folders that were never watched.
    void resync(Root& root) {
        if (!root.armed) {
            arm(root, true);
        } else if (options.subfolders) {
            addShallow(root, root.base, false);
        } else {
            addTree(root, root.base, false);
        }
    }

    // --- Events ---

    void handle(Root& root, const inotify_event& event) {
        if ((event.mask & IN_Q_OVERFLOW) != 0) {
            note(root.base, mustScanSubDirs | kernelDropped);
            resync(root);
            return;
        }
        const auto it = root.watches.find(event.wd);
        if (it == root.watches.end()) {
            return;
        }
        const Watch watch = it->second;
        const bool isTop = watch.role == Role::ancestor ||
                           ((watch.role == Role::tree || watch.role == Role::shallowRoot) &&
                            watch.path == root.base);
        if ((event.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) != 0) {
            if ((event.mask & IN_IGNORED) != 0 && root.watches.erase(event.wd) > 0) {
                --watchTotal;
            }
            if (isTop) {
                arm(root, true);
            }
            return;
        }
        if (event.len == 0 || watch.away) {
            return;
        }
        const auto exact = FileStat::exactName(event.name);
        if (!exact) {
            if (watch.role == Role::tree || watch.role == Role::subfolder) {
                FileStat::notePassedOver(watch.path, event.name);
            }
            return;
        }
        const QString& name = *exact;
        const QString path = join(watch.path, name);
        const bool folder = (event.mask & IN_ISDIR) != 0;
        switch (watch.role) {
        case Role::ancestor:
            if (event.wd == root.nearestWd && name == root.awaited &&
                (event.mask & (IN_CREATE | IN_MOVED_TO)) != 0) {
                arm(root, true);
            }
            return;
        case Role::shallowRoot:
            if (!folder || !options.subfolders(name)) {
                return;
            }
            note(path, 0);
            if ((event.mask & (IN_CREATE | IN_MOVED_TO)) != 0) {
                addSubfolder(root, path, true);
            } else if ((event.mask & IN_MOVED_FROM) != 0) {
                for (const auto& [wd, w] : std::vector(root.watches.begin(), root.watches.end())) {
                    if (w.path == path) {
                        drop(root, wd);
                    }
                }
            }
            return;
        case Role::subfolder:
            if (!folder) {
                note(path, 0);
            }
            return;
        case Role::tree:
            note(path, 0);
            if (!folder) {
                return;
            }
            if ((event.mask & (IN_CREATE | IN_MOVED_TO)) != 0) {
                if ((event.mask & IN_MOVED_TO) != 0) {
                    root.movedAway.erase(event.cookie);
                }
                // Re-watching a folder that moved within the root only renames its watches.
                addTree(root, path, true);
            } else if ((event.mask & IN_ATTRIB) != 0) {
                watchIfUnwatched(root, path);
            } else if ((event.mask & IN_MOVED_FROM) != 0) {
                MovedAway moved{path, {}};
                const QString prefix = path + u'/';
                for (auto& [wd, w] : root.watches) {
                    if (w.path == path || w.path.startsWith(prefix)) {
                        w.away = true;
                        moved.wds.push_back(wd);
                    }
                }
                root.movedAway.insert_or_assign(event.cookie, std::move(moved));
            }
            return;
        }
    }

    // Folders moved out of the root: their watches would report paths that no longer exist.
    void forgetMovedAway(Root& root) {
        for (const auto& [cookie, moved] : root.movedAway) {
            for (const int wd : moved.wds) {
                const auto it = root.watches.find(wd);
                if (it != root.watches.end() && it->second.away) {
                    drop(root, wd);
                }
            }
        }
        root.movedAway.clear();
    }

    void drain(Root& root, std::vector<char>& buffer) {
        for (int i = 0; i < readsPerWake; ++i) {
            const ssize_t length = ::read(root.fd, buffer.data(), buffer.size());
            if (length <= 0) {
                return;
            }
            for (ssize_t offset = 0; offset < length;) {
                // The kernel pads every record so that the next one starts aligned.
                const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + offset);
                handle(root, *event);
                offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
    }

    void run() {
        if (options.armInBackground) {
            if (options.beforeArming) {
                options.beforeArming();
            }
            for (Root& root : roots) {
                if (root.fd >= 0 && !stopping.load()) {
                    arm(root, false, firstChanges());
                }
            }
        }
        std::vector<pollfd> fds;
        fds.push_back(pollfd{wakeFd, POLLIN, 0});
        for (const Root& root : roots) {
            fds.push_back(pollfd{root.fd, POLLIN, 0});
        }
        const std::size_t minimum = sizeof(inotify_event) + NAME_MAX + 1;
        // Heap memory is aligned for any type, so the first record is.
        std::vector<char> buffer(
            std::max<std::size_t>(minimum, static_cast<std::size_t>(options.readBuffer)));
        for (;;) {
            int timeout = -1;
            if (!order.empty()) {
                const auto left = deadline - SteadyClock::now();
                const double ms = std::chrono::duration<double, std::milli>(left).count();
                timeout = ms <= 0 ? 0 : static_cast<int>(std::min(std::ceil(ms), 1.0e9));
            }
            if (options.beforeRead) {
                options.beforeRead();
            }
            const int ready = ::poll(fds.data(), fds.size(), timeout);
            if (ready < 0 && errno != EINTR) {
                qCWarning(lcPlatform) << "file events: poll failed" << std::strerror(errno);
                return;
            }
            if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
                return;
            }
            for (std::size_t i = 0; ready > 0 && i < roots.size(); ++i) {
                if ((fds[i + 1].revents & (POLLIN | POLLERR | POLLHUP)) != 0) {
                    drain(roots[i], buffer);
                    forgetMovedAway(roots[i]);
                }
            }
            if (!order.empty() && SteadyClock::now() >= deadline) {
                flush();
            }
            if (!options.noDefer && ready > 0) {
                // Without no-defer nothing goes out before the latency anyway: letting the kernel
                // gather events for a moment turns a folder's steady churn into a few reads
                // instead of a wake-up per event.
                const int pause = static_cast<int>(std::min(options.latency * 250.0, 50.0));
                pollfd wake{wakeFd, POLLIN, 0};
                if (pause > 0 && ::poll(&wake, 1, pause) > 0) {
                    return;
                }
            }
        }
    }
};

FileEventStream::FileEventStream(QStringList roots, std::shared_ptr<SerialQueue> queue,
                                 Handler handler)
    : FileEventStream(std::move(roots), std::move(queue), std::move(handler), Options{}) {}

FileEventStream::FileEventStream(QStringList roots, std::shared_ptr<SerialQueue> queue,
                                 Handler handler, Options options)
    : reader_(std::make_shared<Reader>()) {
    reader_->queue = std::move(queue);
    reader_->box->handler = std::move(handler);
    reader_->options = std::move(options);
    for (const QString& root : roots) {
        Reader::Root state;
        state.given = QDir::cleanPath(
            QDir::isAbsolutePath(root) ? root : QDir::current().absoluteFilePath(root));
        state.base = state.given;
        reader_->roots.push_back(std::move(state));
    }
}

FileEventStream::~FileEventStream() {
    stop();
}

bool FileEventStream::start() {
    Reader& r = *reader_;
    std::lock_guard guard(r.control);
    if (r.started || r.stopped) {
        return r.started && !r.stopped;
    }
    r.wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (r.wakeFd < 0) {
        qCWarning(lcPlatform) << "file events: no eventfd:" << std::strerror(errno);
        return false;
    }
    bool any = false;
    for (Reader::Root& root : r.roots) {
        root.fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (root.fd < 0) {
            Descriptors::note(errno);
            qCWarning(lcPlatform) << "file events: no inotify instance:" << std::strerror(errno);
            continue;
        }
        any = true;
        if (!r.options.armInBackground) {
            r.arm(root, false, r.firstChanges());
        }
    }
    if (!any && !r.roots.empty()) {
        ::close(r.wakeFd);
        r.wakeFd = -1;
        return false;
    }
    r.started = true;
    r.thread = std::thread([reader = reader_.get()] { reader->run(); });
    return true;
}

void FileEventStream::stop() {
    Reader& r = *reader_;
    {
        std::lock_guard guard(r.box->lock);
        r.box->handler = nullptr;
    }
    std::lock_guard guard(r.control);
    if (r.stopped) {
        return;
    }
    r.stopped = true;
    if (!r.started) {
        return;
    }
    r.stopping = true;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(r.wakeFd, &one, sizeof one);
    if (r.thread.joinable()) {
        r.thread.join();
    }
    for (Reader::Root& root : r.roots) {
        if (root.fd >= 0) {
            ::close(root.fd);
            root.fd = -1;
        }
    }
    r.watchTotal = 0;
    ::close(r.wakeFd);
    r.wakeFd = -1;
}

qsizetype FileEventStream::watchCount() const {
    return reader_->watchTotal.load();
}

} // namespace ostrel
