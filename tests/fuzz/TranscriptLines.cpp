// Feeds arbitrary bytes to the transcript line parser and, as a file appended in pieces, to the
// tailer's reading and batching. Every line is also decoded by the QJsonDocument reference
// parser; any difference between the two aborts.
#include "OstrelCore/Engine/JsonSkim.h"
#include "OstrelCore/Engine/TranscriptParser.h"
#include "OstrelCore/Engine/TranscriptTailer.h"
#include "tests/OstrelCore/Engine/TranscriptReferenceParser.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>

using namespace ostrel;

namespace {

QString scratchFile() {
    static const QString path = [] {
        // The over-long-line warning would otherwise flood the fuzzer's output.
        QLoggingCategory::setFilterRules(QStringLiteral("app.ostrel.*=false"));
        const QString folder = QDir::tempPath() + QStringLiteral("/ostrel-fuzz-") +
                               QString::number(::getpid()) + QStringLiteral("/-proj");
        QDir().mkpath(folder);
        return folder + QStringLiteral("/session.jsonl");
    }();
    return path;
}

void fail(const char* what, const QString& detail) {
    std::fprintf(stderr, "%s\n%s\n", what, qPrintable(detail));
    std::abort();
}

// Both readers must accept or refuse alike, and the parsers yield the same record.
void compare(QByteArrayView line) {
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromRawData(line.data(), line.size()), &error);
    const bool qtAccepts = error.error == QJsonParseError::NoError && document.isObject();
    if (JsonSkim::object(line, {}).has_value() != qtAccepts) {
        fail("JsonSkim and QJsonDocument disagree on the line's validity",
             qtAccepts ? QStringLiteral("Qt accepts it") : QStringLiteral("Qt refuses it"));
    }
    const QString difference =
        test::reference::difference(test::reference::record(line), TranscriptParser::record(line));
    if (!difference.isEmpty()) {
        fail("TranscriptParser differs from the reference parser", difference);
    }
}

void touch(const TranscriptBatch& batch) {
    for (const Candidate& c : batch.candidates) {
        if (const auto* b = std::get_if<Payload::Base64>(&c.payload.value)) {
            TranscriptImage image;
            image.base64 = b->text;
            (void)image.data();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));

    // The whole input as one line, line breaks and all, then every line on its own.
    compare(bytes);
    for (const QByteArray& line : bytes.split('\n')) {
        compare(line);
        if (const auto record = TranscriptParser::record(line)) {
            for (const TranscriptImage& image : record->images) {
                (void)image.fileExtension();
            }
        }
    }

    // The same bytes appended to a transcript in two pieces, read with a small chunk and line
    // limit, so that pieces, unfinished lines and over-long lines all occur.
    const QString path = scratchFile();
    const qsizetype cut = size > 0 ? qsizetype(data[0]) % (bytes.size() + 1) : 0;
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            return 0;
        }
        file.write(bytes.left(cut));
    }
    TranscriptTailer tailer(QUrl::fromLocalFile(path), std::nullopt, 1 << 20, 7, 512);
    tailer.read(touch);
    {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
            file.write(bytes.mid(cut));
        }
    }
    tailer.read(touch);
    (void)tailer.readLines();
    (void)TranscriptTailer::titles(QUrl::fromLocalFile(path), 300);
    return 0;
}
