#include "OstrelCore/Records/JsonWriter.h"

#include <charconv>
#include <cmath>

namespace ostrel {

void JsonWriter::separate() {
    if (afterKey_) {
        afterKey_ = false;
        return;
    }
    if (!levels_.empty()) {
        if (!levels_.back().first) {
            out_.append(',');
        }
        levels_.back().first = false;
    }
}

void JsonWriter::beginObject() {
    separate();
    out_.append('{');
    levels_.push_back(Level{true, true, {}});
}

void JsonWriter::endObject() {
    levels_.pop_back();
    out_.append('}');
}

void JsonWriter::beginArray() {
    separate();
    out_.append('[');
    levels_.push_back(Level{true, false, {}});
}

void JsonWriter::endArray() {
    levels_.pop_back();
    out_.append(']');
}

void JsonWriter::key(QStringView name) {
    Q_ASSERT(!levels_.empty() && levels_.back().isObject);
#ifndef QT_NO_DEBUG
    const QByteArray utf8 = name.toUtf8();
    Q_ASSERT_X(levels_.back().first || levels_.back().lastKey < utf8, "JsonWriter::key",
               "keys must come in ascending order");
    levels_.back().lastKey = utf8;
#endif
    separate();
    quoted(name);
    out_.append(':');
    afterKey_ = true;
}

void JsonWriter::string(QStringView text) {
    separate();
    quoted(text);
}

void JsonWriter::quoted(QStringView text) {
    out_.append('"');
    const QByteArray utf8 = text.toUtf8();
    // Runs of bytes that need no escape go in whole.
    const char* run = utf8.constData();
    const char* const end = run + utf8.size();
    for (const char* p = run; p != end; ++p) {
        const auto u = static_cast<unsigned char>(*p);
        if (u >= 0x20 && u != '"' && u != '\\') {
            continue;
        }
        out_.append(run, p - run);
        run = p + 1;
        switch (u) {
        case '"':
            out_.append("\\\"");
            break;
        case '\\':
            out_.append("\\\\");
            break;
        case '\b':
            out_.append("\\b");
            break;
        case '\f':
            out_.append("\\f");
            break;
        case '\n':
            out_.append("\\n");
            break;
        case '\r':
            out_.append("\\r");
            break;
        case '\t':
            out_.append("\\t");
            break;
        default: {
            static const char hex[] = "0123456789abcdef";
            const char escaped[] = {'\\', 'u', '0', '0', hex[u >> 4], hex[u & 0xF]};
            out_.append(escaped, sizeof escaped);
        }
        }
    }
    out_.append(run, end - run);
    out_.append('"');
}

void JsonWriter::number(double value) {
    separate();
    if (!std::isfinite(value)) {
        out_.append("null");
        return;
    }
    if (value == 0) {
        out_.append('0'); // also for -0, which JSON readers turn into 0 anyway
        return;
    }
    char buffer[32];
    // The shortest text that reads back as exactly this double.
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out_.append(buffer, result.ptr - buffer);
}

void JsonWriter::integer(qint64 value) {
    separate();
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out_.append(buffer, result.ptr - buffer);
}

void JsonWriter::url(const QUrl& value) {
    string(value.toString(QUrl::FullyEncoded));
}

} // namespace ostrel
