#pragma once

#include "OstrelCore/Records/Env.h"
#include "OstrelCore/Records/OstrelPaths.h"
#include "Platform/Date.h"

#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <optional>

#include <unistd.h>

namespace ostrel {

// One file of a session's scratchpad.
struct ScratchFile {
    // Shared by the engine's tables and the item made of it: a start may list a hundred
    // thousand of these.
    QString path;
    // The project folder's name.
    QString slug;
    // The session folder's name.
    QString sessionID;
    qint64 size = 0;
    // The modification date where the file system records no birth time.
    Date created;
    Date modified;

    friend bool operator==(const ScratchFile&, const ScratchFile&) = default;
};

// Finds the files of Claude Code's per-session scratchpads under the scratch root:
// root/<project slug>/<session id>/scratchpad/<file>. Reads folders and file properties only.
class ScratchpadScanner {
public:
    QUrl root;
    // Lower case, without the dot: extensions the user added to the known ones.
    QSet<QString> extraExtensions;

    ScratchpadScanner(QUrl root, QSet<QString> extraExtensions)
        : root(std::move(root)), extraExtensions(std::move(extraExtensions)) {}

    static QUrl defaultRoot(const Environment& env) { return OstrelPaths::defaultScratchRoot(env); }

    // The root lies in the shared temporary folder: it is read only when, links resolved, it is
    // a directory of this user that no one else may write into.
    bool rootIsTrusted() const;

    // Every scratch file of every session, newest-created first; empty under an untrusted root.
    QList<ScratchFile> files() const;
    // The files directly in one "scratchpad" folder, in listing order. Regular files only: a
    // symbolic link is never followed into a capture.
    QList<ScratchFile> files(const QUrl& scratchpad) const;
    // The "scratchpad" folder that holds a changed path (or is it), under a trusted root.
    std::optional<QUrl> scratchpad(const QString& containing) const;

    // The trust test itself: links resolved, a directory owned by the real user id, neither
    // group- nor other-writable.
    static bool isTrustedDirectory(const QString& path);
    // Why a folder that is there fails the trust test ("owned by user 0", "writable by others",
    // ...); none when it passes or when nothing is there to judge.
    static std::optional<QString> distrust(const QString& path);
    // The names in a folder, hidden ones included, in the order the file system lists them;
    // none when it cannot be listed.
    static std::optional<QStringList> names(const QString& folder);
};

} // namespace ostrel
