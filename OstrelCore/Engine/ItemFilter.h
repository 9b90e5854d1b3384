#pragma once

#include "OstrelCore/Records/Env.h"
#include "OstrelCore/Records/ShelfItem.h"
#include "Platform/Date.h"

#include <QSet>
#include <QString>
#include <QStringList>

#include <optional>

namespace ostrel {

// What ingest measured of one capture, handed to the item filter.
struct FilterInput {
    std::optional<ShelfItemKind> kind;
    QString fileExtension;
    qint64 byteCount = 0;
    std::optional<qint64> pixelWidth;
    std::optional<qint64> pixelHeight;
    std::optional<QString> sourcePath;
    std::optional<Source> source;
    std::optional<QString> projectFolder;
    Date createdAt;
};

// The filter's answer: accept, or reject with a reason text for the log.
struct Verdict {
    enum class Kind { reject, accept };

    Kind kind = Kind::accept;
    QString reason;

    static Verdict accept() { return Verdict{Kind::accept, {}}; }
    static Verdict reject(QString reason) { return Verdict{Kind::reject, std::move(reason)}; }

    bool isAccept() const { return kind == Kind::accept; }

    friend bool operator==(const Verdict& a, const Verdict& b) {
        return a.kind == b.kind && (a.kind == Kind::accept || a.reason == b.reason);
    }
};

// Decides whether a capture becomes a shelf item.
struct ItemFilter {
    static constexpr qint64 defaultMinBytes = 512;
    static constexpr qint64 defaultMinPixels = 32;

    qint64 minBytes = defaultMinBytes;
    qint64 minPixels = defaultMinPixels;
    QStringList ignoreGlobs;
    std::optional<Date> oldest;
    ShelfItemKinds kinds = ShelfItemKindRules::shownByDefault();
    // Lower case, no dot; captured as kind `file`. Read by ingest, not by accepts().
    QSet<QString> extraExtensions;
    bool outsideProjectOnly = true;

    ItemFilter() = default;
    ItemFilter(QStringList ignoreGlobs, std::optional<Date> oldest = std::nullopt,
               ShelfItemKinds kinds = ShelfItemKindRules::shownByDefault(),
               QSet<QString> extraExtensions = {}, bool outsideProjectOnly = true)
        : ignoreGlobs(std::move(ignoreGlobs)), oldest(oldest), kinds(std::move(kinds)),
          extraExtensions(std::move(extraExtensions)), outsideProjectOnly(outsideProjectOnly) {}

    // The tests in a fixed order; the first that decides gives the verdict. Pure.
    Verdict accepts(const FilterInput& input) const;

    // "OSTREL_IGNORE_GLOBS" split at ",", each piece trimmed of spaces and tabs, empties dropped.
    static QStringList globs(const Environment& env);

    // True when `path` is `folder` or lies below it (texts compared as given).
    static bool isInside(const QString& path, const QString& folder);

    friend bool operator==(const ItemFilter&, const ItemFilter&) = default;
};

} // namespace ostrel
