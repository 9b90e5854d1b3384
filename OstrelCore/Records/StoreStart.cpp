// The moment a start began, or the oldest capture held for want of room if that is earlier, kept on
// disk until all that start took, and all that was held, is in the index.
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
    passThrough_ = false;
    startFinished_ = false;
    if (heldFrom_ && *heldFrom_ < at) {
        at = *heldFrom_;
    }
    if (startKept_ == at || !std::isfinite(at.seconds)) {
        return;
    }
    startDue_ = at;
    if (folderUsable(false)) {
        writeStart(); // else once the folder can be written
    }
}

void Store::keepStart(Date at) {
    // Only ever earlier: a later moment would make the next start look back less far than the
    // pass, or an earlier hold, still needs.
    const std::optional<Date> current = startDue_ ? startDue_ : startKept_;
    if (current && *current <= at) {
        return;
    }
    startDue_ = at;
    if (folderUsable(false)) {
        writeStart(); // else once the folder can be written
    }
}

void Store::holdFrom(std::optional<Date> oldest) {
    if (oldest && !std::isfinite(oldest->seconds)) {
        oldest.reset();
    }
    if (oldest && startFinished_) {
        // A write under way, begun while nothing was held, would let the moment go when it ends,
        // though it lacks what is taken from now on: it ends first.
        finishWriting();
    }
    heldFrom_ = oldest;
    if (heldFrom_) {
        startFinished_ = false;
        keepStart(*heldFrom_);
        if (startDue_) {
            probeStart();
        }
    } else if (passThrough_ && !startFinished_) {
        finishStart();
    }
}

void Store::writeStart(bool quiet) {
    JsonWriter out;
    out.beginObject();
    out.key(u"startedAt");
    out.date(*startDue_);
    out.endObject();
    if (const auto error = AtomicFile::write(rootPath_ + u'/' + unfinishedStartName, out.take())) {
        // Without it a kill loses what the pass was yet to take: it is tried again.
        if (!quiet) {
            logNotSaved(QStringLiteral("start"), *error);
        }
        notSaved(dueStart);
        probeStart();
        return;
    }
    startKept_ = std::exchange(startDue_, std::nullopt);
    saved(dueStart);
}

void Store::probeStart() {
    // While captures wait for room the moment is tried every few seconds, without a word (the
    // other files wait longer: each attempt at the index costs its whole encoding). It is small,
    // and what a kill would lose them without; once it goes through there is room, and the
    // captures are woken.
    if (!heldFrom_ || !autosave_ || startProbe_.isValid() || unusable_) {
        return;
    }
    startProbe_ = autosave_->after(saveRetryFirst, [weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        self->startProbe_ = {};
        if (self->startDue_) {
            self->writeStart(true);
        }
    });
}

void Store::flushStart() {
    startProbe_.cancel();
    startProbe_ = {};
    if (startDue_ && !unusable_) {
        writeStart();
    }
}

void Store::finishStart() {
    passThrough_ = true;
    if (heldFrom_) {
        return; // the captures held keep the moment
    }
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
