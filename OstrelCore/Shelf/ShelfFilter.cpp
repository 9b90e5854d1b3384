#include "OstrelCore/Shelf/ShelfFilter.h"

#include "OstrelCore/Shelf/TextOrder.h"

#include <QHash>

#include <algorithm>
#include <vector>

namespace ostrel {

namespace {

// Looks up the project of items by their session id, once per session: the first session listed
// with that id, else a session made from the item alone (its folder depends only on the id).
class ProjectLookup {
public:
    explicit ProjectLookup(const Snapshot& snapshot) {
        sessions_.reserve(snapshot.sessions.size());
        for (const Session& session : snapshot.sessions) {
            if (!sessions_.contains(session.id)) {
                sessions_.insert(session.id, &session);
            }
        }
    }

    struct Project {
        QString name;
        QByteArray key;
    };

    const Project& of(const ShelfItem& item) {
        auto found = projects_.constFind(item.sessionID);
        if (found == projects_.constEnd()) {
            QString name;
            if (const Session* session = sessions_.value(item.sessionID, nullptr)) {
                name = ShelfFilter::projectName(*session);
            } else {
                name =
                    ShelfFilter::projectName(Session(item.sessionID, std::nullopt, std::nullopt,
                                                     std::nullopt, item.createdAt, item.createdAt));
            }
            QByteArray key = TextOrder::key(name);
            found = projects_.insert(item.sessionID, {std::move(name), std::move(key)});
        }
        return found.value();
    }

private:
    QHash<QString, const Session*> sessions_;
    QHash<QString, Project> projects_;
};

} // namespace

QString rawValue(KindFilter filter) {
    switch (filter) {
    case KindFilter::images:
        return QStringLiteral("images");
    case KindFilter::pages:
        return QStringLiteral("pages");
    case KindFilter::documents:
        return QStringLiteral("documents");
    case KindFilter::artifacts:
        return QStringLiteral("artifacts");
    case KindFilter::video:
        return QStringLiteral("video");
    case KindFilter::audio:
        return QStringLiteral("audio");
    case KindFilter::other:
        return QStringLiteral("other");
    }
    return {};
}

std::optional<KindFilter> kindFilterFromRaw(const QString& raw) {
    for (const KindFilter filter : allKindFilters) {
        if (rawValue(filter) == raw) {
            return filter;
        }
    }
    return std::nullopt;
}

QString title(KindFilter filter) {
    switch (filter) {
    case KindFilter::images:
        return QStringLiteral("Images");
    case KindFilter::pages:
        return QStringLiteral("Pages");
    case KindFilter::documents:
        return QStringLiteral("Documents");
    case KindFilter::artifacts:
        return QStringLiteral("Artifacts");
    case KindFilter::video:
        return QStringLiteral("Video");
    case KindFilter::audio:
        return QStringLiteral("Audio");
    case KindFilter::other:
        return QStringLiteral("Other");
    }
    return {};
}

KindFilter kindFilter(ShelfItemKind kind) {
    switch (kind) {
    case ShelfItemKind::image:
        return KindFilter::images;
    case ShelfItemKind::html:
        return KindFilter::pages;
    case ShelfItemKind::pdf:
    case ShelfItemKind::document:
        return KindFilter::documents;
    case ShelfItemKind::artifact:
        return KindFilter::artifacts;
    case ShelfItemKind::video:
        return KindFilter::video;
    case ShelfItemKind::audio:
        return KindFilter::audio;
    case ShelfItemKind::file:
        return KindFilter::other;
    }
    return KindFilter::other;
}

std::optional<QString> ShelfFilter::chipLabel() const {
    const qint64 count = activeCount();
    if (count == 0) {
        return std::nullopt;
    }
    if (count == 1) {
        return kinds.empty() ? QStringLiteral("Only New") : title(*kinds.begin());
    }
    return QString::number(count) + QStringLiteral(" filters");
}

Snapshot ShelfFilter::apply(const Snapshot& snapshot, const QSet<QString>& stillNew) const {
    if (!project && activeCount() == 0) {
        return snapshot;
    }
    const QByteArray projectKey = project ? TextOrder::key(*project) : QByteArray();
    ProjectLookup lookup(snapshot);

    Snapshot kept;
    kept.sessions = snapshot.sessions;
    kept.prompts = snapshot.prompts;
    kept.hidden = snapshot.hidden;
    for (const ShelfItem& item : snapshot.items) {
        if (project && lookup.of(item).key != projectKey) {
            continue;
        }
        if (!kinds.empty() && !kinds.contains(kindFilter(item.kind))) {
            continue;
        }
        if (onlyNew && !item.isUnread() && !stillNew.contains(item.id)) {
            continue;
        }
        kept.items.append(item);
    }
    return kept;
}

QList<ShelfFilter::ProjectCount> ShelfFilter::projects(const Snapshot& snapshot) {
    struct Entry {
        QString name;
        QByteArray key;
        qint64 count = 0;
    };
    // Canonically equivalent names are one project, shown in the spelling met first.
    std::vector<Entry> entries;
    QHash<QByteArray, size_t> index;
    ProjectLookup lookup(snapshot);
    for (const ShelfItem& item : snapshot.items) {
        const auto& project = lookup.of(item);
        auto found = index.constFind(project.key);
        if (found == index.constEnd()) {
            found = index.insert(project.key, entries.size());
            entries.push_back({project.name, project.key, 0});
        }
        ++entries[found.value()].count;
    }
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.count != b.count) {
            return a.count > b.count;
        }
        return TextOrder::compareKeys(a.key, b.key) < 0;
    });
    QList<ProjectCount> result;
    result.reserve(qsizetype(entries.size()));
    for (const Entry& entry : entries) {
        result.append({entry.name, entry.count});
    }
    return result;
}

std::map<KindFilter, qint64> ShelfFilter::kindCounts(const Snapshot& snapshot,
                                                     const QSet<QString>& stillNew) const {
    ShelfFilter anyKind = *this;
    anyKind.kinds.clear();
    std::map<KindFilter, qint64> counts;
    for (const ShelfItem& item : anyKind.apply(snapshot, stillNew).items) {
        ++counts[kindFilter(item.kind)];
    }
    return counts;
}

ShelfFilter ShelfFilter::validated(const Snapshot& snapshot) const {
    if (!project) {
        return *this;
    }
    const QByteArray projectKey = TextOrder::key(*project);
    ProjectLookup lookup(snapshot);
    for (const ShelfItem& item : snapshot.items) {
        if (lookup.of(item).key == projectKey) {
            return *this;
        }
    }
    ShelfFilter cleared = *this;
    cleared.project.reset();
    return cleared;
}

} // namespace ostrel
