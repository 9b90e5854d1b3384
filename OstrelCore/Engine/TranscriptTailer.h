#pragma once

#include "OstrelCore/Engine/TranscriptBatch.h"
#include "OstrelCore/Engine/TranscriptRecord.h"

#include <QByteArrayView>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <optional>

namespace ostrel {

// Follows one transcript file: reads only what was appended since the last read, hands over
// complete lines only, and turns each piece it reads into a batch. Remembers the tool uses it has
// seen so that an image in a later tool result can be tied to the file the "Read" tool read.
// Confined to the engine queue.
class TranscriptTailer {
public:
    static constexpr quint64 defaultWindow = 4194304;
    static constexpr qint64 defaultChunk = 4194304;
    // A line longer than this is skipped whole: the assistant never writes one, and gathering
    // it would let a single runaway line exhaust memory.
    static constexpr qint64 defaultLineLimit = qint64(64) * 1024 * 1024;
    // Above this many remembered tool uses, only the newest `toolUsesKept` stay.
    static constexpr qsizetype toolUsesTrigger = 4000;
    static constexpr qsizetype toolUsesKept = 2000;

    using BatchHandler = std::function<void(const TranscriptBatch&)>;

    TranscriptTailer(QUrl url, std::optional<quint64> offset, quint64 window, qint64 chunk,
                     qint64 lineLimit = defaultLineLimit);

    const QUrl& url() const { return url_; }
    const QString& slug() const { return slug_; }
    // The first byte not yet consumed; absent until a read finds the file readable.
    std::optional<quint64> offset() const { return offset_; }
    quint64 window() const { return window_; }
    qint64 chunk() const { return chunk_; }

    // Calls `each` once per read piece that held at least one complete non-empty line, in file
    // order, with `offset` already past that piece. Once `stop` says so, the pieces left are
    // gone over without being made into batches: a caller asked to stop keeps its own position.
    void read(const BatchHandler& each, const std::function<bool()>& stop = {});
    // The new complete lines as text; builds no batch and remembers no tool use.
    QStringList readLines();
    // The next read starts again at `offset`, the start of a line already read: its captures
    // failed for a reason that may pass.
    void rewind(quint64 offset);
    // A remembered tool use still lacks its result.
    bool awaitsToolResults() const { return !unanswered_.isEmpty(); }
    qsizetype rememberedToolUses() const { return toolUses_.size(); }

    // The titles in the last `bytes` bytes of a transcript, in file order; changes no tailer.
    static QList<SessionTitle> titles(const QUrl& url, quint64 bytes);

    // The project folder a transcript belongs to, subagent transcripts included.
    static QString slug(const QString& path);

private:
    struct Line {
        QByteArrayView bytes;
        // Where the line starts in the file.
        quint64 at = 0;
    };
    using LineGroup = QList<Line>;
    void readNew(const std::function<void(const LineGroup&)>& group);
    TranscriptBatch makeBatch(const LineGroup& lines, std::optional<Date> fileCreated);
    void remember(const ToolUse& use);
    void skippedLongLine(qint64 length);

    QUrl url_;
    QString path_;
    QString slug_;
    std::optional<quint64> offset_;
    quint64 window_;
    qint64 chunk_;
    qint64 lineLimit_;

    QHash<QString, ToolUse> toolUses_;
    QList<QString> toolUseOrder_;
    QSet<QString> unanswered_;

    // While the line that starts at `offset_` is longer than the limit and has no newline yet:
    // how far it has been looked through, so that later reads go on from there instead of
    // reading it again.
    std::optional<quint64> longLineScanned_;
};

} // namespace ostrel
