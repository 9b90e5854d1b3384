#pragma once

// What the files of the store's index share; nothing outside them includes this.
//   StoreIndex.cpp        loading, recovering and saving the index and offsets files
//   StoreIndexFormat.cpp  the text of both files: written from the tables, read back strictly

#include "OstrelCore/Records/Store.h"

#include <QByteArray>
#include <QHash>
#include <QString>

namespace ostrel::storeIndexParts {

// The index text for the small parts of `rest` and the store's tables given apart, the hidden
// records sorted by id.
QByteArray encodeIndex(const Store::Index& rest, const QHash<QString, ShelfItem>& items,
                       const QHash<QString, HiddenRecord>& hiddenItems,
                       const QHash<QString, Session>& sessions,
                       const QHash<QString, Prompt>& prompts);

} // namespace ostrel::storeIndexParts
