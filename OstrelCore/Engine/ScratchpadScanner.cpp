#include "OstrelCore/Engine/ScratchpadScanner.h"

#include "OstrelCore/Records/ShelfItem.h"
#include "Platform/Descriptors.h"
#include "Platform/FileStat.h"

#include <QFile>
#include <QStringBuilder>

#include <algorithm>
#include <dirent.h>
#include <sys/stat.h>

namespace ostrel {

namespace {

// The extension as a file URL reports it: after the last dot of the name, none for a name whose
// only dot leads it.
QString extension(const QString& name) {
    const qsizetype dot = name.lastIndexOf(u'.');
    if (dot <= 0) {
        return {};
    }
    return name.mid(dot + 1);
}

} // namespace

std::optional<QStringList> ScratchpadScanner::names(const QString& folder) {
    const QByteArray native = QFile::encodeName(folder);
    DIR* dir = Descriptors::openDir(native.constData());
    if (dir == nullptr) {
        return std::nullopt;
    }
    QStringList result;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
            continue;
        }
        if (auto exact = FileStat::exactName(name)) {
            result.append(std::move(*exact));
        } else {
            FileStat::notePassedOver(folder, name);
        }
    }
    ::closedir(dir);
    return result;
}

bool ScratchpadScanner::isTrustedDirectory(const QString& path) {
    const auto st = FileStat::lstat(OstrelPaths::canonical(path));
    if (!st || !st->isDirectory()) {
        return false;
    }
    if (st->owner != ::getuid()) {
        return false;
    }
    return (st->mode & (S_IWGRP | S_IWOTH)) == 0;
}

std::optional<QString> ScratchpadScanner::distrust(const QString& path) {
    const auto st = FileStat::lstat(OstrelPaths::canonical(path));
    if (!st) {
        return std::nullopt;
    }
    if (!st->isDirectory()) {
        return QStringLiteral("not a folder");
    }
    if (st->owner != ::getuid()) {
        return QStringLiteral("owned by user %1, not by user %2").arg(st->owner).arg(::getuid());
    }
    const bool group = (st->mode & S_IWGRP) != 0;
    const bool others = (st->mode & S_IWOTH) != 0;
    if (group || others) {
        return QStringLiteral("writable by %1 (mode %2)")
            .arg(group && others ? QStringLiteral("its group and others")
                 : group         ? QStringLiteral("its group")
                                 : QStringLiteral("others"))
            .arg(st->mode & 07777, 4, 8, QLatin1Char('0'));
    }
    return std::nullopt;
}

bool ScratchpadScanner::rootIsTrusted() const {
    return isTrustedDirectory(root.toLocalFile());
}

QList<ScratchFile> ScratchpadScanner::files() const {
    if (!rootIsTrusted()) {
        return {};
    }
    const QString base = root.toLocalFile();
    const auto projects = names(base);
    if (!projects) {
        return {};
    }
    QList<ScratchFile> result;
    for (const QString& project : *projects) {
        const QString projectPath = base + u'/' + project;
        const auto sessions = names(projectPath);
        if (!sessions) {
            continue;
        }
        for (const QString& session : *sessions) {
            result.append(files(
                QUrl::fromLocalFile(projectPath + u'/' + session + QStringLiteral("/scratchpad"))));
        }
    }
    std::stable_sort(result.begin(), result.end(), [](const ScratchFile& a, const ScratchFile& b) {
        return a.created > b.created;
    });
    return result;
}

QList<ScratchFile> ScratchpadScanner::files(const QUrl& scratchpad) const {
    const QString folder = scratchpad.toLocalFile();
    DIR* dir = Descriptors::openDir(QFile::encodeName(folder).constData());
    if (dir == nullptr) {
        return {};
    }
    const QStringList parts = folder.split(u'/', Qt::SkipEmptyParts);
    const QString sessionID = parts.size() >= 2 ? parts.at(parts.size() - 2) : QString();
    const QString slug = parts.size() >= 3 ? parts.at(parts.size() - 3) : QString();

    QList<ScratchFile> result;
    while (const dirent* entry = ::readdir(dir)) {
        const char* native = entry->d_name;
        if (native[0] == '.' && (native[1] == '\0' || (native[1] == '.' && native[2] == '\0'))) {
            continue;
        }
        const auto name = FileStat::exactName(native);
        if (!name) {
            FileStat::notePassedOver(folder, native);
            continue;
        }
        if (!ShelfItemKindRules::forExtension(extension(*name), extraExtensions)) {
            continue;
        }
        // Not followed: a link in a scratchpad may point anywhere, so it is never taken for a
        // file. Looked at by name in the folder already open.
        const auto st = FileStat::lstatAt(::dirfd(dir), native);
        if (!st || !st->isRegular()) {
            continue;
        }
        result.append(ScratchFile{folder % u'/' % *name, slug, sessionID, st->size, st->created,
                                  st->modified});
    }
    ::closedir(dir);
    return result;
}

std::optional<QUrl> ScratchpadScanner::scratchpad(const QString& containing) const {
    if (!containing.contains(QLatin1String("/scratchpad"))) {
        return std::nullopt;
    }
    const QString base = OstrelPaths::canonical(root.toLocalFile());
    if (!containing.startsWith(base + u'/')) {
        return std::nullopt;
    }
    if (!rootIsTrusted()) {
        return std::nullopt;
    }
    const QStringList parts = containing.mid(base.size() + 1).split(u'/', Qt::SkipEmptyParts);
    if (parts.size() < 3 || parts.at(2) != QLatin1String("scratchpad")) {
        return std::nullopt;
    }
    return QUrl::fromLocalFile(base + u'/' + parts.at(0) + u'/' + parts.at(1) +
                               QStringLiteral("/scratchpad"));
}

} // namespace ostrel
