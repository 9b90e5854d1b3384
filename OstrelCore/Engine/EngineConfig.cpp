#include "OstrelCore/Engine/EngineConfig.h"

#include <QDir>
#include <QFile>

#include <pwd.h>

namespace ostrel {

EngineConfig::EngineConfig(OstrelPaths paths, qint64 retentionDays, QStringList ignoreGlobs,
                           qint64 maxItems)
    : paths(std::move(paths)), retentionDays(retentionDays), ignoreGlobs(std::move(ignoreGlobs)),
      maxItems(maxItems) {}

EngineConfig EngineConfig::make(const Preferences& prefs, const Environment& env) {
    EngineConfig config(
        OstrelPaths::resolve(env, prefs.claudeHome, prefs.scratchRoot),
        Env::integer(QStringLiteral("OSTREL_RETENTION_DAYS"), prefs.retentionDays, retentionRange,
                     env),
        ItemFilter::globs(env),
        Env::integer(QStringLiteral("OSTREL_MAX_ITEMS"), prefs.maxItems, maxItemsRange, env));
    config.fileKinds = prefs.fileKinds;
    config.extraExtensions =
        QSet<QString>(prefs.extraExtensions.begin(), prefs.extraExtensions.end());
    config.outsideProjectOnly = prefs.outsideProjectOnly;
    config.watchedFolders = prefs.watchedFolders;
    return config;
}

EngineConfig::Change EngineConfig::change(const EngineConfig& previous) const {
    if (!(paths == previous.paths)) {
        return Change::restart;
    }
    return *this == previous ? Change::none : Change::update;
}

ItemFilter EngineConfig::itemFilter() const {
    return ItemFilter(ignoreGlobs, std::nullopt, fileKinds, extraExtensions, outsideProjectOnly);
}

QString EngineConfig::expandTilde(const QString& path) {
    if (!path.startsWith(u'~')) {
        return path;
    }
    const qsizetype slash = path.indexOf(u'/');
    const QString user = path.mid(1, slash < 0 ? -1 : slash - 1);
    const QString rest = slash < 0 ? QString() : path.mid(slash);
    if (user.isEmpty()) {
        return QDir::homePath() + rest;
    }
    const passwd* entry = ::getpwnam(QFile::encodeName(user).constData());
    if (entry == nullptr || entry->pw_dir == nullptr) {
        return path;
    }
    return QFile::decodeName(entry->pw_dir) + rest;
}

QStringList EngineConfig::folderRoots() const {
    QStringList roots;
    roots.reserve(watchedFolders.size());
    for (const QString& folder : watchedFolders) {
        roots.append(OstrelPaths::canonical(expandTilde(folder)));
    }
    return roots;
}

bool operator==(const EngineConfig& a, const EngineConfig& b) {
    return a.paths == b.paths && a.retentionDays == b.retentionDays &&
           a.ignoreGlobs == b.ignoreGlobs && a.maxItems == b.maxItems &&
           a.chromeHold == b.chromeHold && a.recentWindow == b.recentWindow &&
           a.fileKinds == b.fileKinds && a.extraExtensions == b.extraExtensions &&
           a.outsideProjectOnly == b.outsideProjectOnly && a.watchedFolders == b.watchedFolders;
}

} // namespace ostrel
