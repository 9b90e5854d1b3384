#pragma once

#include "OstrelCore/Records/ShelfItem.h"

#include <QList>
#include <QStringList>

namespace ostrel::test {

// The ids of items, in their order: the usual thing to compare in a test.
inline QStringList ids(const QList<ShelfItem>& items) {
    QStringList out;
    out.reserve(items.size());
    for (const ShelfItem& item : items) {
        out.append(item.id);
    }
    return out;
}

} // namespace ostrel::test
