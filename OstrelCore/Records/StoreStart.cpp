// The moment a start began, kept on disk until all that start took is in the index.
#include "OstrelCore/Records/JsonWriter.h"
#include "OstrelCore/Records/Store.h"
#include "OstrelCore/Records/StoreIndexParts.h"
#include "Platform/AtomicFile.h"
#include "Platform/Log.h"

#include <QFile>

#include <cerrno>
#include <cmath>
#include <unistd.h>
#include <utility>

namespace ostrel {

using namespace storeIndexParts;

void Store::loadUnfinishedStart() {
    // Whatever does not read is no unfinished pass: this start's own moment replaces it.
    auto read =
        AtomicFile::readRegular(rootPath_ + u'/' + unfinishedStartName, unfinishedStartLimit);
    if (const QByteArray* bytes = std::get_if<QByteArray>(&read)) {
        unfinishedStart_ = decodeUnfinishedStart(*bytes);
        startKept_ = unfinishedStart_;
    }
}

void Store::beginStart(Date at) {
    if (startKept_ == at || !std::isfinite(at.seconds)) {
        return;
    }
    startDue_ = at;
    startFinished_ = false;
    if (folderUsable(false)) {
        writeStart(); // else once the folder can be written
    }
}

void Store::writeStart() {
    JsonWriter out;
    out.beginObject();
    out.key(u"startedAt");
    out.date(*startDue_);
    out.endObject();
    if (const auto error = AtomicFile::write(rootPath_ + u'/' + unfinishedStartName, out.take())) {
        // Without it a kill loses what the pass was yet to take: it is tried again.
        logNotSaved(QStringLiteral("start"), *error);
        notSaved(dueStart);
        return;
    }
    startKept_ = std::exchange(startDue_, std::nullopt);
    saved(dueStart);
}

void Store::finishStart() {
    startFinished_ = true;
    // Nothing the pass took waits for the index: the moment goes now. Else with the next write.
    if (!indexBehind_ && !writing_) {
        clearStart();
    }
}

void Store::clearStart() {
    // A moment not written yet is needed no more either.
    if (std::exchange(startDue_, std::nullopt)) {
        saved(dueStart);
    }
    // Kept in a folder that takes no change, it costs the next start a longer look back.
    if (!startKept_ || !folderUsable(false)) {
        return;
    }
    const QString path = rootPath_ + u'/' + unfinishedStartName;
    if (::unlink(QFile::encodeName(path).constData()) != 0 && errno != ENOENT) {
        // Kept, it costs the next start a longer look back, nothing else.
        qCWarning(lcStore, "%s not removed: %s", qUtf8Printable(path),
                  qUtf8Printable(Error::describe(Error::fromErrno())));
        return;
    }
    startKept_.reset();
}
} // namespace ostrel
