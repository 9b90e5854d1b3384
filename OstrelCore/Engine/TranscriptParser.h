#pragma once

#include "OstrelCore/Engine/TranscriptRecord.h"
#include "Platform/Date.h"

#include <QByteArrayView>
#include <QList>
#include <QString>

#include <optional>

namespace ostrel {

// Turns one complete transcript line into what the capture side reads of it. Most lines are
// assistant output of no interest; a few fixed byte strings are searched for first so that those
// lines are passed over without being decoded. Stateless and safe on any thread.
class TranscriptParser {
public:
    TranscriptParser() = delete;

    // The bytes of one line without its terminator; none for a line of no interest or one that
    // is not a JSON object.
    static std::optional<TranscriptRecord> record(QByteArrayView line);
    static std::optional<TranscriptRecord> record(const QByteArray& line) {
        return record(QByteArrayView(line));
    }
    // The UTF-8 form of a text line.
    static std::optional<TranscriptRecord> record(const QString& line);

    // The images of a line, without decoding a line that holds none.
    static QList<TranscriptImage> images(const QString& line);

    static bool mayContainImage(QByteArrayView bytes);
    static bool mayBeInteresting(QByteArrayView bytes);
    static bool mayBeTitle(QByteArrayView bytes);

    // An internet date-time with or without fractional seconds; none for anything else, a
    // missing zone included.
    static std::optional<Date> date(const std::optional<QString>& text);
};

} // namespace ostrel
