#include "OstrelCore/Engine/ChromeScreenshots.h"

#include "OstrelCore/Engine/ScratchpadScanner.h"
#include "OstrelCore/Records/OstrelPaths.h"
#include "Platform/FileStat.h"

namespace ostrel::ChromeScreenshots {

namespace {

// A screenshot folder as it stands: a link planted under the name is not followed, whatever it
// points at.
bool isTrustedFolder(const QString& path) {
    const auto st = FileStat::lstat(path);
    return st && st->isDirectory() && ScratchpadScanner::isTrustedDirectory(path);
}

} // namespace

bool matches(const QString& path) {
    if (!path.contains(u'/' + QString(folderPrefix))) {
        return false;
    }
    const qsizetype slash = path.lastIndexOf(u'/');
    if (slash <= 0) {
        return false;
    }
    const qsizetype folderSlash = path.lastIndexOf(u'/', slash - 1);
    const QStringView folder = QStringView(path).mid(folderSlash + 1, slash - folderSlash - 1);
    if (!folder.startsWith(folderPrefix)) {
        return false;
    }
    const QStringView name = QStringView(path).mid(slash + 1);
    if (!name.startsWith(filePrefix)) {
        return false;
    }
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 && name.mid(dot + 1).toString().toLower() == fileExtension;
}

bool accepts(const QString& path) {
    if (!matches(path)) {
        return false;
    }
    const auto st = FileStat::lstat(path);
    if (!st || !st->isRegular()) {
        return false;
    }
    return isTrustedFolder(path.left(path.lastIndexOf(u'/')));
}

QList<QUrl>
files(const QUrl& folder, double seconds, Date now,
      const std::function<void(const QString& folder, const QString& reason)>& refused) {
    const QString base = OstrelPaths::canonical(folder.toLocalFile());
    const Date cutoff = now.adding(-seconds);
    const auto names = ScratchpadScanner::names(base);
    if (!names) {
        return {};
    }
    QList<QUrl> result;
    for (const QString& name : *names) {
        if (!name.startsWith(folderPrefix)) {
            continue;
        }
        const QString folderPath = base + u'/' + name;
        if (!isTrustedFolder(folderPath)) {
            if (refused) {
                const auto st = FileStat::lstat(folderPath);
                if (st && st->isSymlink()) {
                    refused(folderPath, QStringLiteral("a link"));
                } else if (const auto reason = ScratchpadScanner::distrust(folderPath)) {
                    refused(folderPath, *reason);
                }
            }
            continue;
        }
        const auto files = ScratchpadScanner::names(folderPath);
        if (!files) {
            continue;
        }
        for (const QString& file : *files) {
            const QString path = folderPath + u'/' + file;
            if (!matches(path)) {
                continue;
            }
            const auto st = FileStat::lstat(path);
            if (!st || !st->isRegular() || st->modified < cutoff) {
                continue;
            }
            result.append(QUrl::fromLocalFile(path));
        }
    }
    return result;
}

} // namespace ostrel::ChromeScreenshots
