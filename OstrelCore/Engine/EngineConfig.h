#pragma once

#include "OstrelCore/Engine/ItemFilter.h"
#include "OstrelCore/Records/ClosedRange.h"
#include "OstrelCore/Records/Env.h"
#include "OstrelCore/Records/OstrelPaths.h"
#include "OstrelCore/Records/Preferences.h"
#include "OstrelCore/Records/ShelfItem.h"

#include <QSet>
#include <QString>
#include <QStringList>

namespace ostrel {

// What an engine runs with: its folders, limits, the capture filter's settings and the user's
// watched folders. Built from the preferences and the environment at start and after every
// settings change; the owner compares the new value with the old to update or replace the
// engine. Known to callers as `Engine::Config`.
struct EngineConfig {
    enum class Change { none, update, restart };

    static constexpr qint64 maxItemsDefault = Preferences::maxItemsDefault;
    static constexpr ClosedRange<qint64> maxItemsRange = Preferences::maxItemsRange;
    static constexpr ClosedRange<qint64> retentionRange = Preferences::retentionRange;

    OstrelPaths paths;
    qint64 retentionDays = 30;
    QStringList ignoreGlobs;
    qint64 maxItems = maxItemsDefault;
    // Seconds a Chrome screenshot is held before it is admitted.
    double chromeHold = 5.0;
    // Look-back of start-up reads, folder scans and rescans; idle time of transcript readers.
    double recentWindow = 600.0;
    ShelfItemKinds fileKinds = ShelfItemKindRules::shownByDefault();
    QSet<QString> extraExtensions;
    bool outsideProjectOnly = true;
    // As the user entered them; may begin with "~".
    QStringList watchedFolders;

    EngineConfig(OstrelPaths paths, qint64 retentionDays, QStringList ignoreGlobs, qint64 maxItems);

    // Preferences with the environment's overrides. Never fails.
    static EngineConfig make(const Preferences& prefs, const Environment& env);

    // Called on the new configuration with the one before: a change of folders needs a new
    // engine, anything else an update in place.
    Change change(const EngineConfig& previous) const;

    // The capture filter this configuration asks for.
    ItemFilter itemFilter() const;
    // The watched folders with "~" expanded and links resolved, in order, duplicates kept.
    QStringList folderRoots() const;

    // "~" or "~/…" to the home folder, "~name/…" to that user's home folder; anything else, or
    // an unknown user, unchanged.
    static QString expandTilde(const QString& path);

    friend bool operator==(const EngineConfig& a, const EngineConfig& b);
};

} // namespace ostrel
