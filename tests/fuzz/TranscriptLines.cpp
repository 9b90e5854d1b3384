// Feeds arbitrary bytes to the transcript line parser and, as a file appended in pieces, to the
// tailer's reading and batching.
#include "OstrelCore/Engine/TranscriptParser.h"
#include "OstrelCore/Engine/TranscriptTailer.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QString>

#include <cstddef>
#include <cstdint>
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

    // Every line on its own.
    for (const QByteArray& line : bytes.split('\n')) {
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
