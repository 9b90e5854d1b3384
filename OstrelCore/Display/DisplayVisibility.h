#pragma once

#include <QHash>
#include <QSet>
#include <QString>
#include <QtGlobal>

#include <optional>

namespace ostrel {

// Which items are on view on which display: thumbnails report appearing and disappearing (counted,
// since a view may report twice), scrolled strips report the items inside their visible region.
class DisplayVisibility {
public:
    using Ids = QSet<QString>;

    void appear(const QString& id, quint32 display);
    void disappear(const QString& id, quint32 display);
    // False when the region already held exactly this set; the caller then has nothing to redo.
    bool setRegion(const QString& name, const Ids& ids, quint32 display);
    Ids visible(std::optional<quint32> display) const;
    void keep(const QSet<quint32>& displays);
    void clear(quint32 display);

    const QHash<quint32, QHash<QString, int>>& appeared() const { return appeared_; }
    const QHash<quint32, QHash<QString, Ids>>& regions() const { return regions_; }

    friend bool operator==(const DisplayVisibility&, const DisplayVisibility&) = default;

private:
    QHash<quint32, QHash<QString, int>> appeared_;
    QHash<quint32, QHash<QString, Ids>> regions_;
};

} // namespace ostrel
