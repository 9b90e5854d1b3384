#pragma once

// A Claude Code transcript as the assistant writes it, line for line: the keys in its order,
// compact, and its kinds of line in the proportions of a long working session. Each prompt is
// followed by a few to a dozen steps of thinking, text and tool calls with their results; the
// results carry their output twice (in the message and in "toolUseResult"), reads carry whole
// files, edits the file as it was, and some results are screenshots as base64, twice as well.
// About 1,400 prompts and 600 screenshots in 200 MB.

#include <QByteArray>
#include <QDateTime>
#include <QRandomGenerator>
#include <QString>

#include <algorithm>
#include <cmath>

namespace ostrel::bench {

class TranscriptCorpus {
public:
    struct Counts {
        qint64 bytes = 0;
        qint64 lines = 0;
        qint64 prompts = 0;
        qint64 images = 0;
        qint64 toolResults = 0;
    };

    explicit TranscriptCorpus(
        quint32 seed = 42,
        QString sessionID = QStringLiteral("5b7e0c7e-1f8a-4a55-9a3e-3c2f4b1d9e01"),
        QString cwd = QStringLiteral("/home/ada/src/ostrel"))
        : rng_(seed), session_(std::move(sessionID)), cwd_(std::move(cwd)),
          time_(QDateTime(QDate(2025, 6, 1), QTime(9, 0), Qt::UTC)) {
        QByteArray raw(1 << 18, Qt::Uninitialized);
        for (auto& b : raw) {
            b = char(rng_.bounded(256));
        }
        imagePool_ = raw.toBase64();
    }

    // One prompt and the steps that answer it, appended to `out`.
    void turn(QByteArray& out) {
        line(out, prompt());
        const int steps = 3 + int(rng_.bounded(11));
        for (int i = 0; i < steps; ++i) {
            if (rng_.bounded(10) < 3) {
                line(out, assistant(thinking()));
            }
            if (rng_.bounded(10) < 5) {
                line(out, assistant(textBlock(prose(200 + int(rng_.bounded(2800))))));
            }
            toolStep(out);
        }
        line(out, assistant(textBlock(prose(300 + int(rng_.bounded(1500))))));
        if (rng_.bounded(4) == 0) {
            line(out, snapshotLine());
        }
    }

    const Counts& counts() const { return counts_; }

private:
    void line(QByteArray& out, const QByteArray& text) {
        out += text;
        out += '\n';
        counts_.bytes += text.size() + 1;
        ++counts_.lines;
    }

    QByteArray uuid() {
        return QStringLiteral("%1-%2-4%3-8%4-%5")
            .arg(rng_.generate(), 8, 16, QChar('0'))
            .arg(rng_.bounded(0x10000), 4, 16, QChar('0'))
            .arg(rng_.bounded(0x1000), 3, 16, QChar('0'))
            .arg(rng_.bounded(0x1000), 3, 16, QChar('0'))
            .arg(rng_.generate64() & 0xffffffffffffULL, 12, 16, QChar('0'))
            .toLatin1();
    }

    QByteArray ident(const char* prefix) {
        static const char alphabet[] =
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
        QByteArray id(prefix);
        for (int i = 0; i < 24; ++i) {
            id += alphabet[rng_.bounded(62)];
        }
        return id;
    }

    QByteArray timestamp() {
        time_ = time_.addMSecs(200 + rng_.bounded(20000));
        return time_.toString(Qt::ISODateWithMs).toLatin1();
    }

    static QByteArray quoted(const QString& text) {
        QByteArray out;
        out.reserve(text.size() + 16);
        out += '"';
        for (const QChar c : text) {
            const ushort u = c.unicode();
            switch (u) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (u < 0x20) {
                    out += QStringLiteral("\\u%1").arg(u, 4, 16, QChar('0')).toLatin1();
                } else if (u < 0x80) {
                    out += char(u);
                } else {
                    out += QString(c).toUtf8();
                }
            }
        }
        out += '"';
        return out;
    }

    // The members every line of a session begins with.
    QByteArray head() {
        return "{\"parentUuid\":\"" + uuid() +
               "\",\"isSidechain\":false,\"userType\":\"external\",\"cwd\":" + quoted(cwd_) +
               ",\"sessionId\":\"" + session_.toLatin1() +
               "\",\"version\":\"1.0.98\",\"gitBranch\":\"main\",";
    }

    QByteArray tail() {
        return ",\"uuid\":\"" + uuid() + "\",\"timestamp\":\"" + timestamp() + "\"";
    }

    QString prose(int length) {
        static const QStringList words{
            "the",      "test",    "fails",    "because", "index",   "is",      "read",
            "before",   "it",      "written",  "so",      "I'll",    "change",  "order",
            "of",       "calls",   "in",       "Store",   "and",     "check",   "that",
            "snapshot", "holds",   "every",    "item",    "—",       "then",    "run",
            "`ctest`",  "again.",  "**Note**", "this",    "keeps",   "former",  "“format”",
            "as",       "before;", "queue",    "engine",  "thread.", "Looking", "at"};
        QString text;
        while (text.size() < length) {
            text += words.at(int(rng_.bounded(words.size())));
            text += rng_.bounded(14) == 0 ? QStringLiteral(".\n\n") : QStringLiteral(" ");
        }
        return text;
    }

    QString code(int length) {
        static const QStringList pieces{
            "    if (value == nullptr) {\n        return \"none\";\n    }\n",
            "// Reads the \"settings\" file and returns C:\\path\\to\\it\n",
            "#include <QString>\n\nnamespace ostrel {\n",
            "const auto result = compute(a, b, \"text with \\\"quotes\\\"\");\n",
            "\tfor (int i = 0; i < count; ++i) { total += values[i]; }\n",
            "    std::printf(\"%s: %d\\n\", name, code);\n",
            "}\n\n} // namespace ostrel\n"};
        QString text;
        while (text.size() < length) {
            text += pieces.at(int(rng_.bounded(pieces.size())));
        }
        return text;
    }

    // A file as the Read tool shows it: numbered lines.
    static QString numbered(const QString& file) {
        QString out;
        int n = 0;
        for (const QString& l : file.split(u'\n')) {
            out += QStringLiteral("%1\u2192%2\n").arg(++n, 6).arg(l);
        }
        return out;
    }

    int sized(int low, int high) {
        // Mostly small, now and then large, as outputs are.
        const double u = rng_.generateDouble();
        return low + int(double(high - low) * u * u);
    }

    QByteArray prompt() {
        ++counts_.prompts;
        const QString text = prose(40 + sized(0, 1200));
        const QByteArray content = rng_.bounded(5) == 0
                                       ? "[{\"type\":\"text\",\"text\":" + quoted(text) + "}]"
                                       : quoted(text);
        return head() + "\"type\":\"user\",\"message\":{\"role\":\"user\",\"content\":" + content +
               "}" + tail() +
               ",\"thinkingMetadata\":{\"level\":\"none\",\"disabled\":true,\"triggers\":[]},"
               "\"promptId\":\"" +
               uuid() + "\"}";
    }

    QByteArray usage() {
        return ",\"stop_reason\":null,\"stop_sequence\":null,\"usage\":{\"input_tokens\":" +
               QByteArray::number(rng_.bounded(10)) +
               ",\"cache_creation_input_tokens\":" + QByteArray::number(rng_.bounded(9000)) +
               ",\"cache_read_input_tokens\":" + QByteArray::number(20000 + rng_.bounded(80000)) +
               ",\"cache_creation\":{\"ephemeral_5m_input_tokens\":" +
               QByteArray::number(rng_.bounded(9000)) +
               ",\"ephemeral_1h_input_tokens\":0},\"output_tokens\":" +
               QByteArray::number(1 + rng_.bounded(900)) + ",\"service_tier\":\"standard\"}}";
    }

    QByteArray assistant(const QByteArray& block) {
        return head() + "\"message\":{\"id\":\"" + ident("msg_01") +
               "\",\"type\":\"message\",\"role\":\"assistant\",\"model\":\"claude-opus-4-1-"
               "20250805\",\"content\":[" +
               block + "]" + usage() + ",\"requestId\":\"" + ident("req_011C") +
               "\",\"type\":\"assistant\"" + tail() + "}";
    }

    QByteArray textBlock(const QString& text) {
        return "{\"type\":\"text\",\"text\":" + quoted(text) + "}";
    }

    QByteArray thinking() {
        return "{\"type\":\"thinking\",\"thinking\":" + quoted(prose(300 + sized(0, 3700))) +
               ",\"signature\":\"" + imagePool_.mid(rng_.bounded(100000), 400 + sized(0, 1600)) +
               "\"}";
    }

    QByteArray toolUse(const QByteArray& id, const char* name, const QByteArray& input) {
        return "{\"type\":\"tool_use\",\"id\":\"" + id + "\",\"name\":\"" + name +
               "\",\"input\":" + input + "}";
    }

    QByteArray result(const QByteArray& id, const QByteArray& content, const QByteArray& extra) {
        ++counts_.toolResults;
        return head() +
               "\"type\":\"user\",\"message\":{\"role\":\"user\",\"content\":[{\"tool_use_id\":\"" +
               id + "\",\"type\":\"tool_result\",\"content\":" + content + "}]}" + tail() +
               ",\"toolUseResult\":" + extra + "}";
    }

    QByteArray image(int bytes) {
        ++counts_.images;
        const int length = bytes * 4 / 3 / 4 * 4;
        const int from = int(rng_.bounded(std::max(1, int(imagePool_.size()) - length)));
        return imagePool_.mid(from, length);
    }

    QByteArray filePath() {
        static const char* files[] = {
            "OstrelCore/Records/Store.cpp", "OstrelCore/Engine/Ingest.cpp",
            "tests/OstrelCore/Engine/EngineTest.cpp", "Ostrel/Views/TurnGrid.cpp", "README.md"};
        return quoted(cwd_ + u'/' + QString::fromLatin1(files[rng_.bounded(5)]));
    }

    void toolStep(QByteArray& out) {
        const QByteArray id = ident("toolu_01");
        const int kind = int(rng_.bounded(1000));
        if (kind < 50) { // a screenshot of the page under work, from a browser tool
            line(out, assistant(toolUse(id, "mcp__playwright__browser_take_screenshot",
                                        "{\"filename\":\"page.png\"}")));
            const QByteArray block =
                "{\"type\":\"image\",\"source\":{\"type\":\"base64\",\"media_type\":\"image/png\","
                "\"data\":\"" +
                image(30000 + sized(0, 50000)) + "\"}}";
            line(out, result(id, "[" + block + "]", "[" + block + "]"));
        } else if (kind < 400) { // a command
            const QString output = code(100 + sized(0, 6000));
            line(out, assistant(toolUse(id, "Bash",
                                        "{\"command\":\"ctest --test-dir build -R Store\","
                                        "\"description\":\"Run the store tests\"}")));
            line(out, result(id, quoted(output),
                             "{\"stdout\":" + quoted(output) +
                                 ",\"stderr\":\"\",\"interrupted\":false,\"isImage\":false}"));
        } else if (kind < 700) { // a file read whole
            const QString file = code(1000 + sized(0, 16000));
            const QByteArray path = filePath();
            line(out, assistant(toolUse(id, "Read", "{\"file_path\":" + path + "}")));
            const int lines = int(file.count(u'\n')) + 1;
            line(out,
                 result(id, quoted(numbered(file)),
                        "{\"type\":\"text\",\"file\":{\"filePath\":" + path + ",\"content\":" +
                            quoted(file) + ",\"numLines\":" + QByteArray::number(lines) +
                            ",\"startLine\":1,\"totalLines\":" + QByteArray::number(lines) + "}}"));
        } else if (kind < 900) { // an edit
            const QString before = code(60 + sized(0, 600));
            const QString after = code(60 + sized(0, 600));
            const QByteArray path = filePath();
            line(out,
                 assistant(toolUse(id, "Edit",
                                   "{\"file_path\":" + path + ",\"old_string\":" + quoted(before) +
                                       ",\"new_string\":" + quoted(after) + "}")));
            line(out, result(id,
                             quoted("The file has been updated. Here's the result of running `cat "
                                    "-n` on a snippet of the edited file:\n" +
                                    numbered(after)),
                             "{\"filePath\":" + path + ",\"oldString\":" + quoted(before) +
                                 ",\"newString\":" + quoted(after) +
                                 ",\"originalFile\":" + quoted(code(1500 + sized(0, 12000))) +
                                 ",\"structuredPatch\":[{\"oldStart\":10,\"oldLines\":4,"
                                 "\"newStart\":10,\"newLines\":5,\"lines\":[\" a\",\"-b\",\"+c\"]}"
                                 "],\"userModified\":false,\"replaceAll\":false}"));
        } else { // a search
            const QString found = code(100 + sized(0, 3000));
            line(out, assistant(toolUse(id, "Grep",
                                        "{\"pattern\":\"hasIngested\",\"output_mode\":"
                                        "\"content\"}")));
            line(out, result(id, quoted(found),
                             "{\"mode\":\"content\",\"numFiles\":0,\"filenames\":[],\"content\":" +
                                 quoted(found) + ",\"numLines\":12}"));
        }
    }

    QByteArray snapshotLine() {
        const QByteArray message = uuid();
        return "{\"type\":\"file-history-snapshot\",\"messageId\":\"" + message +
               "\",\"snapshot\":{\"messageId\":\"" + message +
               "\",\"trackedFileBackups\":{},\"timestamp\":\"" + timestamp() +
               "\"},\"isSnapshotUpdate\":false}";
    }

    QRandomGenerator rng_;
    QString session_;
    QString cwd_;
    QDateTime time_;
    QByteArray imagePool_;
    Counts counts_;
};

} // namespace ostrel::bench
