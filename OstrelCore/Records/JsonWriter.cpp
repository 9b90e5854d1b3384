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
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
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
        default:
            if (u < 0x20) {
                static const char hex[] = "0123456789abcdef";
                out_.append("\\u00");
                out_.append(hex[u >> 4]);
                out_.append(hex[u & 0xF]);
            } else {
                out_.append(c);
            }
        }
    }
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
