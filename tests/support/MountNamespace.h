#pragma once

#include <QString>
#include <QStringList>

#include <optional>

#include <sys/types.h>

namespace ostrel::test {

// A mount namespace of the test's own, where file systems are mounted without touching the
// machine's: a small tmpfs to fill up, one mounted over a folder in use. A child process keeps it
// for as long as this object lives and mounts there what it is asked to; programs started through
// launcher() run in it, and this process reaches the same files through inside(). With a network
// of its own it has nothing but a loopback, where any port is free.
class MountNamespace {
public:
    explicit MountNamespace(bool ownNetwork = false);
    ~MountNamespace();
    MountNamespace(const MountNamespace&) = delete;
    MountNamespace& operator=(const MountNamespace&) = delete;

    // False where no namespace can be had (no privilege): the test skips.
    bool ok() const { return holder_ > 0; }
    // A tmpfs with `options` ("size=256k") at `at`, a folder that exists; false when none can be.
    bool mountTmpfs(const QString& at, const QString& options) const;
    bool unmount(const QString& at) const;
    // `path` as it is seen inside.
    QString inside(const QString& path) const;
    // The namespace's mount table, which a change there marks as /proc/self/mountinfo is marked.
    QString mountTable() const;
    // The program and arguments (util-linux's `nsenter`) that start a program inside, as the user
    // `uid` when given; the program and its own arguments follow them.
    QStringList launcher(std::optional<uid_t> uid = std::nullopt) const;
    // A TCP socket listening on 127.0.0.1:`port` of the namespace's own network; -1 when none.
    int listen(quint16 port) const;

private:
    bool ask(char what, const QString& at, const QString& options) const;

    bool ownNetwork_ = false;
    pid_t holder_ = -1;
    int requests_ = -1;
    int answers_ = -1;
};

} // namespace ostrel::test
