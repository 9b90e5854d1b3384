#pragma once

#include "OstrelCore/Records/Session.h"
#include "OstrelCore/Records/ShelfItem.h"
#include "OstrelCore/Records/Snapshot.h"

#include <QList>
#include <QSet>
#include <QString>

#include <array>
#include <map>
#include <optional>
#include <set>

namespace ostrel {

// The choices of the kind menu, in menu order; each stands for one or two item kinds.
enum class KindFilter { images, pages, documents, artifacts, video, audio, other };

inline constexpr std::array<KindFilter, 7> allKindFilters{
    KindFilter::images, KindFilter::pages, KindFilter::documents, KindFilter::artifacts,
    KindFilter::video,  KindFilter::audio, KindFilter::other};

using KindFilters = std::set<KindFilter>;

QString rawValue(KindFilter filter);
std::optional<KindFilter> kindFilterFromRaw(const QString& raw);
QString title(KindFilter filter);
KindFilter kindFilter(ShelfItemKind kind);

// The user's narrowing of the open shelf: one project, some kinds, new items only.
struct ShelfFilter {
    // A `Session::folder()`; none shows every project. Canonically equivalent spellings match.
    std::optional<QString> project;
    // Empty shows every kind.
    KindFilters kinds;
    bool onlyNew = false;

    struct ProjectCount {
        QString name;
        qint64 count = 0;
        friend bool operator==(const ProjectCount&, const ProjectCount&) = default;
    };

    // Kinds chosen, plus one for new-only; the project is not counted.
    qint64 activeCount() const { return qint64(kinds.size()) + (onlyNew ? 1 : 0); }
    bool isFiltering() const { return activeCount() > 0; }
    // The filter button's label; none while nothing counts as active.
    std::optional<QString> chipLabel() const;

    static QString projectName(const Session& session) { return session.folder(); }

    // The snapshot with only the items that pass, in their order; `stillNew` holds ids that count
    // as new although they have been seen.
    Snapshot apply(const Snapshot& snapshot, const QSet<QString>& stillNew) const;
    // Every project that has items, with its count: largest first, equal counts by name.
    static QList<ProjectCount> projects(const Snapshot& snapshot);
    // Items per kind among those the project and new-only choices let through; kinds without
    // items are absent.
    std::map<KindFilter, qint64> kindCounts(const Snapshot& snapshot,
                                            const QSet<QString>& stillNew) const;
    // The filter without its project when no item belongs to that project any more.
    ShelfFilter validated(const Snapshot& snapshot) const;

    friend bool operator==(const ShelfFilter&, const ShelfFilter&) = default;
};

} // namespace ostrel
