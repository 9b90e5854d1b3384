#include "OstrelCore/Engine/ItemFilter.h"

#include "OstrelCore/Records/Text.h"

#include <QFile>

#include <fnmatch.h>

namespace ostrel {

Verdict ItemFilter::accepts(const FilterInput& input) const {
    // 1. A kind the shelf shows at all.
    if (!input.kind) {
        return Verdict::reject(QStringLiteral("not a file type the shelf shows"));
    }
    const ShelfItemKind kind = *input.kind;
    // 2. Turned on in Settings (an extra extension's `file` kind is never turned off here).
    if (kind != ShelfItemKind::file && kinds.count(kind) == 0) {
        return Verdict::reject(rawValue(kind) + QStringLiteral(" is turned off in Settings"));
    }
    // 3. Retention.
    if (oldest && input.createdAt < *oldest) {
        return Verdict::reject(QStringLiteral("older than retention"));
    }
    // 4. Ignore patterns, matched by fnmatch(3) without flags against the whole path.
    if (input.sourcePath) {
        const QByteArray path = QFile::encodeName(*input.sourcePath);
        for (const QString& pattern : ignoreGlobs) {
            const QByteArray native = QFile::encodeName(pattern);
            if (::fnmatch(native.constData(), path.constData(), 0) == 0) {
                return Verdict::reject(QStringLiteral("matches OSTREL_IGNORE_GLOBS ") + pattern);
            }
        }
    }
    // 5. Inside the session's own project folder (never for watched folders).
    const bool fromFolder = input.source && *input.source == Source::folder;
    if (outsideProjectOnly && !fromFolder && input.projectFolder && input.sourcePath &&
        isInside(*input.sourcePath, *input.projectFolder)) {
        return Verdict::reject(QStringLiteral("inside the session's project folder"));
    }
    // 6. Artifacts are links: no size tests.
    if (kind == ShelfItemKind::artifact) {
        return Verdict::accept();
    }
    // 7. Size floor.
    if (input.byteCount < minBytes) {
        return Verdict::reject(QStringLiteral("under ") + QString::number(minBytes) +
                               QStringLiteral(" bytes"));
    }
    // 8. Only raster images have a pixel test.
    if (kind != ShelfItemKind::image) {
        return Verdict::accept();
    }
    // 9. Vector images have no pixel size that matters.
    if (input.fileExtension.toLower() == QStringLiteral("svg")) {
        return Verdict::accept();
    }
    // 10. A raster image whose size cannot be read.
    if (!input.pixelWidth || !input.pixelHeight) {
        return Verdict::reject(QStringLiteral("unreadable image"));
    }
    // 11. Both sides at least the minimum.
    if (*input.pixelWidth >= minPixels && *input.pixelHeight >= minPixels) {
        return Verdict::accept();
    }
    return Verdict::reject(QStringLiteral("smaller than ") + QString::number(minPixels) +
                           QStringLiteral(" px"));
}

QStringList ItemFilter::globs(const Environment& env) {
    QStringList out;
    const auto value = Env::string(QStringLiteral("OSTREL_IGNORE_GLOBS"), env);
    if (!value) {
        return out;
    }
    const QStringList pieces = value->split(u',', Qt::SkipEmptyParts);
    for (const QString& piece : pieces) {
        const QString trimmed = Text::trimBlanks(piece);
        if (!trimmed.isEmpty()) {
            out.append(trimmed);
        }
    }
    return out;
}

bool ItemFilter::isInside(const QString& path, const QString& folder) {
    QString base = folder;
    if (base.endsWith(u'/')) {
        base.chop(1);
    }
    if (base.size() < 2) {
        return false;
    }
    if (path == base) {
        return true;
    }
    return path.size() > base.size() && path.startsWith(base) && path.at(base.size()) == u'/';
}

} // namespace ostrel
