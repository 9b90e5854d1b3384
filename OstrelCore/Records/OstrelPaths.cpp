#include "OstrelCore/Records/OstrelPaths.h"

#include "Platform/FileStat.h"
#include "Platform/Log.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cstdlib>

#include <climits>
#include <fcntl.h>
#include <unistd.h>

namespace ostrel {

QUrl OstrelPaths::folderURL(const QString& path) {
    QString clean = path;
    while (clean.size() > 1 && clean.endsWith(u'/')) {
        clean.chop(1);
    }
    return QUrl::fromLocalFile(clean);
}

QUrl OstrelPaths::defaultScratchRoot(const Environment& env) {
    if (const auto root = Env::string(QStringLiteral("OSTREL_SCRATCH_ROOT"), env)) {
        return folderURL(*root);
    }
    return folderURL(QStringLiteral("/tmp/claude-") + QString::number(::getuid()));
}

QUrl OstrelPaths::projectsRoot() const {
    return folderURL(claudeHome.toLocalFile() + QStringLiteral("/projects"));
}

OstrelPaths OstrelPaths::resolve(const Environment& env, const std::optional<QString>& claudeHome,
                                 const std::optional<QString>& scratchRoot) {
    const QString home = QDir::homePath();
    OstrelPaths paths;

    if (const auto fromEnv = Env::string(QStringLiteral("OSTREL_CLAUDE_HOME"), env)) {
        paths.claudeHome = folderURL(*fromEnv);
    } else if (claudeHome) {
        paths.claudeHome = folderURL(*claudeHome);
    } else {
        paths.claudeHome = folderURL(home + QStringLiteral("/.claude"));
    }

    if (Env::string(QStringLiteral("OSTREL_SCRATCH_ROOT"), env) || !scratchRoot) {
        paths.scratchRoot = defaultScratchRoot(env);
    } else {
        paths.scratchRoot = folderURL(*scratchRoot);
    }

    if (const auto fromEnv = Env::string(QStringLiteral("OSTREL_SUPPORT_DIR"), env)) {
        paths.supportDir = folderURL(*fromEnv);
    } else {
        // The XDG data folder stands in for the original "Library/Application Support".
        const QString dataHome = env.value(QStringLiteral("XDG_DATA_HOME"));
        const QString base =
            dataHome.startsWith(u'/') ? dataHome : home + QStringLiteral("/.local/share");
        paths.supportDir = folderURL(base + QStringLiteral("/Ostrel"));
    }

    paths.chromeRoot = folderURL(QDir::tempPath());
    return paths;
}

QString OstrelPaths::canonical(const QString& path) {
    if (FileStat::holdsNul(path)) {
        return path; // resolving would resolve the part before the NUL
    }
    const QByteArray native = QFile::encodeName(path);
    // The kernel resolves the whole path in one walk; realpath(3) asks about every component
    // again (a file deep in a scratchpad costs it ten calls, this three).
    const int fd = ::open(native.constData(), O_PATH | O_CLOEXEC);
    if (fd >= 0) {
        char link[PATH_MAX];
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(fd);
        const ssize_t n = ::readlink(self.constData(), link, sizeof link);
        ::close(fd);
        const QByteArrayView target(link, n > 0 ? n : 0);
        // Anything else (no /proc, a file removed meanwhile) is left to realpath(3).
        if (n > 0 && n < static_cast<ssize_t>(sizeof link) && link[0] == '/' &&
            !target.endsWith(" (deleted)")) {
            return QFile::decodeName(QByteArray(link, n));
        }
    }
    char* resolved = ::realpath(native.constData(), nullptr);
    if (resolved == nullptr) {
        return path;
    }
    const QString out = QFile::decodeName(resolved);
    std::free(resolved);
    return out;
}

bool OstrelPaths::refusesNul(const QString& path, const QLoggingCategory& category,
                             const char* from) {
    if (!FileStat::holdsNul(path)) {
        return false;
    }
    qCWarning(category).noquote() << QStringLiteral(
                                         "path refused: it holds a NUL character (%1): %2")
                                         .arg(QLatin1String(from), Log::privateArg(path));
    return true;
}

bool operator==(const OstrelPaths& a, const OstrelPaths& b) {
    const auto same = [](const QUrl& x, const QUrl& y) {
        return x.toString(QUrl::FullyEncoded) == y.toString(QUrl::FullyEncoded);
    };
    return same(a.claudeHome, b.claudeHome) && same(a.scratchRoot, b.scratchRoot) &&
           same(a.supportDir, b.supportDir) && same(a.chromeRoot, b.chromeRoot);
}

} // namespace ostrel
