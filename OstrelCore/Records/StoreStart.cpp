// The moment a start began, or the oldest capture held for want of room if that is earlier, kept on
// disk until all that start took, and all that was held, is in the index. The file is never
// removed: it says "no moment" in the room it keeps, so that a disk that fills up later still
// takes a moment, written over it in place.
#include "OstrelCore/Records/JsonWriter.h"
#include "OstrelCore/Records/Store.h"
#include "OstrelCore/Records/StoreIndexParts.h"
#include "Platform/AtomicFile.h"
#include "Platform/Descriptors.h"
#include "Platform/Log.h"

#include <QFile>
#include <QFileInfo>

#include <cmath>
#include <utility>
#include <variant>

namespace ostrel {

using namespace storeIndexParts;

namespace {

// The moment's file is this long whatever it says: a moment never needs more room than the file
// already holds. A moment's text is at most 38 bytes.
constexpr qsizetype startRoom = 64;

// The moment, or none ("{}", which every version reads as no moment), and spaces after it, which
// JSON reads as nothing.
QByteArray startText(const std::optional<Date>& at) {
    JsonWriter out;
    out.beginObject();
    if (at) {
        out.key(u"startedAt");
        out.date(*at);
    }
    out.endObject();
    QByteArray text = out.take();
    if (text.size() < startRoom) {
        text.append(QByteArray(startRoom - text.size(), ' '));
    }
    return text;
}

enum class Written { newFile, inPlace };

// As a new file put in place when there is room for one, else over the one kept in place.
// Into the folder open as `folder`.
std::variant<Written, Error> writeStartFile(int folder, const QString& path,
                                            const std::optional<Date>& at) {
    const QByteArray text = startText(at);
    const QByteArray name = QFile::encodeName(QFileInfo(path).fileName());
    const auto error = AtomicFile::writeAt(folder, name, text, 0600, nullptr, path);
    if (!error) {
        return Written::newFile;
    }
    if (!AtomicFile::overwriteAt(folder, name, text, ' ')) {
        return Written::inPlace;
    }
    return *error;
}

} // namespace

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
    writeStart();
}

void Store::keepStart(Date at) {
    // Only ever earlier: a later moment would make the next start look back less far than the
    // pass, or an earlier hold, still needs.
    const std::optional<Date> current = startDue_ ? startDue_ : startKept_;
    if (current && *current <= at) {
        return;
    }
    startDue_ = at;
    writeStart();
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
    // Only into the folder this run read, while it takes files, however long ago the write came
    // due (a retry, a probe): else once it does.
    if (!folderUsable(false)) {
        return;
    }
    // A probe writes the moment kept in place again, as a new file.
    const std::optional<Date> at = startDue_ ? startDue_ : startKept_;
    // Into the folder looked at, whatever its path leads to by then; tried again while another
    // stands there.
    const Descriptors::Owned folder(openOwnFolder());
    if (!folder) {
        notSaved(dueStart);
        return;
    }
    const auto written = writeStartFile(folder.get(), rootPath_ + u'/' + unfinishedStartName, at);
    if (const Error* error = std::get_if<Error>(&written)) {
        // Without it a kill loses what the pass was yet to take: it is tried again.
        if (!quiet) {
            logNotSaved(QStringLiteral("start"), *error);
        }
        notSaved(dueStart);
        probeStart();
        return;
    }
    startKept_ = at;
    startDue_.reset();
    startInPlace_ = std::get<Written>(written) == Written::inPlace;
    if (startInPlace_) {
        // Kept, but the disk has no room for a new file: nothing held can go through yet.
        due_ &= ~unsigned(dueStart);
        probeStart();
        return;
    }
    saved(dueStart);
}

void Store::probeStart() {
    // While captures wait for room the moment is tried every few seconds as a new file, without a
    // word (the other files wait longer: each attempt at the index costs its whole encoding). It
    // is small, and what a kill would lose them without; once a new file goes through there is
    // room, and the captures are woken.
    if (!heldFrom_ || !autosave_ || startProbe_.isValid() || !rights_.mayPlace()) {
        return;
    }
    startProbe_ = autosave_->after(saveRetryFirst, [weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        self->startProbe_ = {};
        if (self->startDue_ || self->startInPlace_) {
            self->writeStart(true);
        }
    });
}

void Store::flushStart() {
    startProbe_.cancel();
    startProbe_ = {};
    if (startDue_ && rights_.mayPlace()) {
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
    if (!rights_.indexBehind() && !writing_) {
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
    const Descriptors::Owned folder(openOwnFolder());
    if (!folder) {
        return; // cleared by a later write, in the folder this run read
    }
    const auto written = writeStartFile(folder.get(), path, std::nullopt);
    if (const Error* error = std::get_if<Error>(&written)) {
        // Kept, it costs the next start a longer look back, nothing else.
        qCWarning(lcStore, "%s not cleared: %s", qUtf8Printable(path),
                  qUtf8Printable(Error::describe(*error)));
        return;
    }
    startKept_.reset();
    startInPlace_ = false;
}
} // namespace ostrel
