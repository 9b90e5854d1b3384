#include "OstrelCore/Engine/TranscriptTailer.h"

#include "OstrelCore/Engine/TranscriptParser.h"
#include "Platform/Descriptors.h"
#include "Platform/FileStat.h"
#include "Platform/Log.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

namespace {

// One open transcript for the length of a read. Plain reads only: a mapped file that a writer
// truncates turns into SIGBUS.
class ReadHandle {
public:
    explicit ReadHandle(const QString& path) {
        const QByteArray native = QFile::encodeName(path);
        // Non-blocking, so that a FIFO planted under a transcript's name cannot stall the queue;
        // anything but a regular file then counts as unreadable.
        fd_ = Descriptors::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0) {
            return;
        }
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
            close();
        }
    }
    ~ReadHandle() { close(); }
    ReadHandle(const ReadHandle&) = delete;
    ReadHandle& operator=(const ReadHandle&) = delete;

    bool isOpen() const { return fd_ >= 0; }

    std::optional<quint64> size() const {
        const off_t end = ::lseek(fd_, 0, SEEK_END);
        if (end < 0) {
            return std::nullopt;
        }
        return static_cast<quint64>(end);
    }

    // Bytes read, 0 at the end, -1 on an error.
    qint64 read(char* into, qint64 count, quint64 at) const {
        for (;;) {
            const ssize_t n =
                ::pread(fd_, into, static_cast<size_t>(count), static_cast<off_t>(at));
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return n;
        }
    }

private:
    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    int fd_ = -1;
};

const char* findByte(const char* from, qsizetype count) {
    return static_cast<const char*>(std::memchr(from, '\n', static_cast<size_t>(count)));
}

const char* findLastByte(const char* from, qsizetype count) {
    return static_cast<const char*>(::memrchr(from, '\n', static_cast<size_t>(count)));
}

} // namespace

TranscriptTailer::TranscriptTailer(QUrl url, std::optional<quint64> offset, quint64 window,
                                   qint64 chunk, qint64 lineLimit)
    : url_(std::move(url)), path_(url_.toLocalFile()), slug_(slug(path_)), offset_(offset),
      window_(window), chunk_(std::max<qint64>(chunk, 1)),
      lineLimit_(std::max<qint64>(lineLimit, 1)) {}

QString TranscriptTailer::slug(const QString& path) {
    const QStringList parts = path.split(u'/', Qt::SkipEmptyParts);
    const qsizetype n = parts.size();
    if (n >= 4 && parts.at(n - 2) == QLatin1String("subagents")) {
        // project/session/subagents/file: the project is two levels above "subagents".
        return parts.at(n - 4);
    }
    return n >= 2 ? parts.at(n - 2) : QString();
}

void TranscriptTailer::skippedLongLine(qint64 length) {
    qCWarning(lcIngest).noquote() << QStringLiteral("skipped a transcript line of %1+ bytes in %2")
                                         .arg(length)
                                         .arg(Log::privateArg(path_));
}

void TranscriptTailer::readNew(const std::function<void(const LineGroup&)>& group) {
    const ReadHandle file(path_);
    if (!file.isOpen()) {
        return;
    }
    const auto measured = file.size();
    if (!measured) {
        return;
    }
    const quint64 size = *measured;

    quint64 start = offset_ ? *offset_ : (size > window_ ? size - window_ : 0);
    bool truncated = false;
    if (start > size) {
        // Truncated or replaced: read it all again, without dropping a first line.
        start = 0;
        truncated = true;
    }
    if (truncated || !offset_ || (longLineScanned_ && *longLineScanned_ > size)) {
        longLineScanned_.reset();
    }
    if (start >= size) {
        offset_ = start;
        return;
    }

    enum class Discard { nothing, firstLine, longLine };
    Discard discard = (!offset_ && start != 0) ? Discard::firstLine : Discard::nothing;

    quint64 readPos = start;
    if (longLineScanned_) {
        // Go on through the over-long line where the last read stopped looking.
        readPos = *longLineScanned_;
        discard = Discard::longLine;
    }

    QByteArray buffer;
    qsizetype filled = 0;
    // File position of buffer[0].
    quint64 bufferPos = readPos;

    while (readPos < size) {
        const qint64 want = static_cast<qint64>(std::min<quint64>(quint64(chunk_), size - readPos));
        if (buffer.size() < filled + want) {
            buffer.resize(filled + want);
        }
        const qint64 got = file.read(buffer.data() + filled, want, readPos);
        if (got <= 0) {
            break;
        }
        readPos += quint64(got);
        filled += got;

        if (discard != Discard::nothing) {
            const char* newline = findByte(buffer.constData(), filled);
            if (newline == nullptr) {
                // Nothing of this line is kept.
                bufferPos += quint64(filled);
                filled = 0;
                if (discard == Discard::longLine) {
                    longLineScanned_ = readPos;
                }
                continue;
            }
            const qsizetype dropped = newline - buffer.constData() + 1;
            bufferPos += quint64(dropped);
            std::memmove(buffer.data(), buffer.constData() + dropped, size_t(filled - dropped));
            filled -= dropped;
            offset_ = bufferPos;
            longLineScanned_.reset();
            discard = Discard::nothing;
        }

        const char* data = buffer.constData();
        const char* lastNewline = findLastByte(data, filled);
        if (lastNewline != nullptr) {
            LineGroup lines;
            const char* cursor = data;
            const char* end = lastNewline + 1;
            while (cursor < end) {
                const char* newline = findByte(cursor, end - cursor);
                const qsizetype length = newline - cursor;
                if (length > lineLimit_) {
                    skippedLongLine(length);
                } else if (length > 0) {
                    lines.append(
                        Line{QByteArrayView(cursor, length), bufferPos + quint64(cursor - data)});
                }
                cursor = newline + 1;
            }
            const qsizetype consumed = end - data;
            offset_ = bufferPos + quint64(consumed);
            if (!lines.isEmpty()) {
                group(lines);
            }
            bufferPos += quint64(consumed);
            std::memmove(buffer.data(), buffer.constData() + consumed, size_t(filled - consumed));
            filled -= consumed;
        }

        if (filled > lineLimit_) {
            // The unfinished line is already too long to keep: drop it and look only for its end.
            skippedLongLine(filled);
            offset_ = bufferPos;
            bufferPos += quint64(filled);
            filled = 0;
            longLineScanned_ = readPos;
            discard = Discard::longLine;
        }
    }
}

void TranscriptTailer::rewind(quint64 offset) {
    offset_ = offset;
    longLineScanned_.reset();
}

void TranscriptTailer::remember(const ToolUse& use) {
    const bool known = toolUses_.contains(use.id);
    toolUses_.insert(use.id, use);
    if (known) {
        return;
    }
    toolUseOrder_.append(use.id);
    unanswered_.insert(use.id);
    if (toolUseOrder_.size() > toolUsesTrigger) {
        const qsizetype forget = toolUseOrder_.size() - toolUsesKept;
        for (qsizetype i = 0; i < forget; ++i) {
            toolUses_.remove(toolUseOrder_.at(i));
            unanswered_.remove(toolUseOrder_.at(i));
        }
        toolUseOrder_.remove(0, forget);
    }
}

TranscriptBatch TranscriptTailer::makeBatch(const LineGroup& lines,
                                            std::optional<Date> fileCreated) {
    TranscriptBatch batch;
    batch.fileCreated = fileCreated;
    QHash<QString, qsizetype> sightingAt;

    for (const Line& line : lines) {
        auto parsed = TranscriptParser::record(line.bytes);
        if (!parsed) {
            continue;
        }
        TranscriptRecord& record = *parsed;
        for (const ToolUse& use : std::as_const(record.toolUses)) {
            remember(use);
        }
        for (const QString& id : std::as_const(record.toolResultIDs)) {
            unanswered_.remove(id);
        }
        if (record.title) {
            SessionTitle title = *record.title;
            title.slug = slug_;
            batch.titles.append(std::move(title));
            continue;
        }
        if (!record.sessionID || !record.timestamp) {
            continue;
        }
        const QString& sessionID = *record.sessionID;
        const Date at = *record.timestamp;

        SessionSighting sighting{sessionID, slug_, record.cwd, record.gitBranch, at, fileCreated};
        const auto known = sightingAt.constFind(sessionID);
        if (known != sightingAt.constEnd()) {
            SessionSighting& older = batch.sessions[*known];
            older = sighting.merged(older);
        } else {
            sightingAt.insert(sessionID, batch.sessions.size());
            batch.sessions.append(std::move(sighting));
        }

        if (record.promptText && record.promptID) {
            batch.prompts.append(Prompt{*record.promptID, sessionID, at, *record.promptText});
        }

        QHash<QString, int> unreadCount;
        for (const TranscriptImage& image : std::as_const(record.images)) {
            Candidate candidate;
            candidate.source = Source::transcript;
            candidate.payload = Payload::base64(image.base64, image.fileExtension());
            candidate.sessionID = sessionID;
            candidate.slug = slug_;
            candidate.promptID = record.promptID;
            candidate.createdAt = at;
            if (image.toolUseID) {
                const auto use = toolUses_.constFind(*image.toolUseID);
                if (use != toolUses_.constEnd() && use->name == QLatin1String("Read")) {
                    candidate.readPath = use->filePath;
                } else {
                    int& n = unreadCount[*image.toolUseID];
                    candidate.captureID = *image.toolUseID + u'#' + QString::number(n);
                    ++n;
                }
            }
            batch.candidates.append(std::move(candidate));
            batch.candidateLines.append(line.at);
        }

        if (record.artifact) {
            const ArtifactResult& artifact = *record.artifact;
            std::optional<QString> path = artifact.path;
            if (!path && artifact.toolUseID) {
                const auto use = toolUses_.constFind(*artifact.toolUseID);
                if (use != toolUses_.constEnd()) {
                    path = use->filePath;
                }
            }
            Candidate candidate;
            candidate.source = Source::transcript;
            candidate.payload =
                Payload::artifact(ArtifactInfo{artifact.id, artifact.url, artifact.title, path});
            candidate.sessionID = sessionID;
            candidate.slug = slug_;
            candidate.promptID = record.promptID;
            candidate.createdAt = at;
            batch.candidates.append(std::move(candidate));
            batch.candidateLines.append(line.at);
        }
    }
    return batch;
}

void TranscriptTailer::read(const BatchHandler& each, const std::function<bool()>& stop) {
    std::optional<Date> fileCreated;
    if (const auto st = FileStat::stat(path_)) {
        fileCreated = st->created;
    }
    readNew([&](const LineGroup& lines) {
        if (stop && stop()) {
            return;
        }
        const TranscriptBatch batch = makeBatch(lines, fileCreated);
        each(batch);
    });
}

QStringList TranscriptTailer::readLines() {
    QStringList result;
    readNew([&](const LineGroup& lines) {
        for (const Line& line : lines) {
            result.append(QString::fromUtf8(line.bytes));
        }
    });
    return result;
}

QList<SessionTitle> TranscriptTailer::titles(const QUrl& url, quint64 bytes) {
    TranscriptTailer tail(url, std::nullopt, bytes, defaultChunk);
    QList<SessionTitle> result;
    tail.readNew([&](const LineGroup& lines) {
        for (const Line& line : lines) {
            if (!TranscriptParser::mayBeTitle(line.bytes)) {
                continue;
            }
            const auto record = TranscriptParser::record(line.bytes);
            if (record && record->title) {
                SessionTitle title = *record->title;
                title.slug = tail.slug_;
                result.append(std::move(title));
            }
        }
    });
    return result;
}

} // namespace ostrel
