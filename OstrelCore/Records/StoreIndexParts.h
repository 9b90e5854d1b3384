#pragma once

// What the files of the store's index share; nothing outside them includes this.
//   StoreIndex.cpp        loading and recovering the index and offsets files
//   StoreSave.cpp         saving them: debounced, in the background, after the files they name
//   StoreStart.cpp        the moment of a start that has not run to its end
//   StoreSweep.cpp        removing the files the index recorded, and listing the store's folders
//   StoreJournal.cpp      the captures noted before their copies are placed
//   StoreIndexFormat.cpp  the text of the files: written from the tables, read back element by
//                         element (the records themselves in RecordReading.cpp)

#include "OstrelCore/Records/Store.h"
#include "Platform/Error.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <array>
#include <dirent.h>
#include <optional>
#include <string_view>

namespace ostrel::storeIndexParts {

inline const QString indexName = QStringLiteral("index.json");
inline const QString offsetsName = QStringLiteral("offsets.json");
inline const QString unfinishedStartName = QStringLiteral("unfinished-start.json");
inline const QString journalName = QStringLiteral("captures.jsonl");
// Far above what any history writes (an index of the most items allowed and years of hidden
// ones stays within a few tens of MB), and low enough to read into memory at once.
inline constexpr qint64 indexLimit = qint64(1) << 30;
inline constexpr qint64 offsetsLimit = qint64(64) << 20;
// One date; anything larger is not ours.
inline constexpr qint64 unfinishedStartLimit = 4096;

// Says in the log that `label` ("index", "offsets", "start") was not written, and why.
void logNotSaved(const QString& label, const Error& error);

// Writes the index text at `path`; a failure is logged and answered false. `placed` says which
// file stands at the name once the text was put there, also when the write failed after that.
bool writeIndexText(const QByteArray& json, const QString& path,
                    std::optional<FileIdentity>* placed = nullptr);

// The name under which the bytes of an index from which reading dropped something are kept
// aside in the support folder.
inline constexpr std::string_view partlyUnreadableIndexPrefix = "index.partly-unreadable-";

// A name Store::safeFileName() makes of an id, with the extension of a copy, or ".jpg" for a
// thumbnail.
bool ownFileName(std::string_view name, bool thumbnail);

// The one rule by which the store removes a file of its folders: the entry `name` of the folder
// open as `folder` goes only when it is a plain file of this process's user with no other name,
// and, when `recorded`, still the file recorded (the same entry, size and modification time).
enum class Removed {
    removed,
    absent, // nothing at the name
    kept,   // something there that is not to go
    failed, // could not be looked at or removed now
};
Removed removeOwnFile(int folder, const char* name, const FileIdentity* recorded);

// Removes the entry `name` of the folder open as `folder` when it is a temporary file another
// process left there: a file of our temporary naming, not of this process, that removeOwnFile()
// lets go. Only for a folder this process holds, where no other process of ours writes. True
// when it went.
bool removeLeftover(int folder, const char* name);

// Which of `folders` (the items and thumbnails folders) holds `path` directly, and its name
// there; -1 for a path of neither.
int folderOf(const std::array<QString, 2>& folders, const QString& path, QString* name);

// True when the regular file at `path` (no link followed) has the SHA-256 `sha256`.
bool hashesTo(const QString& path, const QString& sha256);

// A folder of ours, opened without following a link at its name (but `throughLink`, for the
// support folder, or a folder within, that may be a link of the user's); -1 when it cannot be.
int openFolder(const QString& path, bool throughLink = false);
// A listing of the folder, opened as openFolder() does, or null.
DIR* listFolder(const QString& path, bool throughLink = false);

// The index text for the small parts of `rest` and the store's tables given apart, the hidden
// records sorted by id.
QByteArray encodeIndex(const Store::Index& rest, const QHash<QString, ShelfItem>& items,
                       const QHash<QString, HiddenRecord>& hiddenItems,
                       const QHash<QString, Session>& sessions,
                       const QHash<QString, Prompt>& prompts);

} // namespace ostrel::storeIndexParts
