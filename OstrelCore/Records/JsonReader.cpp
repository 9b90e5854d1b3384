#include "OstrelCore/Records/JsonReader.h"

#include <QByteArray>
#include <QLatin1String>

#include <charconv>
#include <cmath>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ostrel {

namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

bool isContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence at `p` (its first byte not ASCII), or 0: no
// overlong forms, no surrogates, nothing past U+10FFFF. Noncharacters pass, as they do for Qt.
int utf8Length(const unsigned char* p, const unsigned char* end) {
    const unsigned char b = p[0];
    const auto left = end - p;
    if (b < 0xC2) {
        return 0;
    }
    if (b < 0xE0) {
        return left >= 2 && isContinuation(p[1]) ? 2 : 0;
    }
    if (b < 0xF0) {
        if (left < 3) {
            return 0;
        }
        const unsigned char low = b == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = b == 0xED ? 0x9F : 0xBF;
        return p[1] >= low && p[1] <= high && isContinuation(p[2]) ? 3 : 0;
    }
    if (b < 0xF5) {
        if (left < 4) {
            return 0;
        }
        const unsigned char low = b == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = b == 0xF4 ? 0x8F : 0xBF;
        return p[1] >= low && p[1] <= high && isContinuation(p[2]) && isContinuation(p[3]) ? 4 : 0;
    }
    return 0;
}

// The first byte at or after `p` that is a quote, a backslash or not ASCII; `end` when none.
const char* nextSpecial(const char* p, const char* end) {
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    while (end - p >= 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hits = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(bytes, quote), _mm_cmpeq_epi8(bytes, backslash)), bytes);
        const int mask = _mm_movemask_epi8(hits);
        if (mask != 0) {
            return p + __builtin_ctz(static_cast<unsigned>(mask));
        }
        p += 16;
    }
#endif
    while (p < end && *p != '"' && *p != '\\' && static_cast<unsigned char>(*p) < 0x80) {
        ++p;
    }
    return p;
}

// The UTF-16 text of a checked string's bytes. Each escape is one UTF-16 unit,
// as Qt makes it: a \u escape its unit, a backslash before any byte but the JSON escape letters
// that byte's own value.
QString unescape(const char* p, const char* end) {
    QString text(end - p, Qt::Uninitialized);
    char16_t* out = reinterpret_cast<char16_t*>(text.data());
    char16_t* const first = out;
    while (p < end) {
        const auto c = static_cast<unsigned char>(*p);
        if (c == '\\') {
            const auto e = static_cast<unsigned char>(p[1]);
            p += 2;
            switch (e) {
            case 'b':
                *out++ = 0x08;
                break;
            case 'f':
                *out++ = 0x0C;
                break;
            case 'n':
                *out++ = 0x0A;
                break;
            case 'r':
                *out++ = 0x0D;
                break;
            case 't':
                *out++ = 0x09;
                break;
            case 'u':
                *out++ = static_cast<char16_t>((hexDigit(p[0]) << 12) | (hexDigit(p[1]) << 8) |
                                               (hexDigit(p[2]) << 4) | hexDigit(p[3]));
                p += 4;
                break;
            default:
                *out++ = e;
                break;
            }
        } else if (c < 0x80) {
            *out++ = c;
            ++p;
        } else {
            const auto* u = reinterpret_cast<const unsigned char*>(p);
            const int length = utf8Length(u, reinterpret_cast<const unsigned char*>(end));
            char32_t scalar = 0;
            if (length == 2) {
                scalar = ((u[0] & 0x1Fu) << 6) | (u[1] & 0x3Fu);
            } else if (length == 3) {
                scalar = ((u[0] & 0x0Fu) << 12) | ((u[1] & 0x3Fu) << 6) | (u[2] & 0x3Fu);
            } else {
                scalar = ((u[0] & 0x07u) << 18) | ((u[1] & 0x3Fu) << 12) | ((u[2] & 0x3Fu) << 6) |
                         (u[3] & 0x3Fu);
            }
            if (scalar > 0xFFFF) {
                *out++ = static_cast<char16_t>(0xD7C0 + (scalar >> 10));
                *out++ = static_cast<char16_t>(0xDC00 | (scalar & 0x3FF));
            } else {
                *out++ = static_cast<char16_t>(scalar);
            }
            p += length;
        }
    }
    text.resize(out - first);
    return text;
}

// A string's bytes, already checked, as text.
QString text(const char* begin, const char* end, bool escaped) {
    // Most texts in the files are ASCII; the Latin-1 conversion is the fastest for them. Others
    // are decoded by hand: QString::fromUtf8 drops a byte order mark at the start of a text,
    // which Qt's JSON parser keeps.
    if (!escaped && nextSpecial(begin, end) == end) {
        return QString::fromLatin1(begin, end - begin);
    }
    return unescape(begin, end);
}

// An integral double that fits 64 bits, as Qt turns it into an integer.
bool toInteger(double d, qint64& out) {
    if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0) || std::trunc(d) != d) {
        return false;
    }
    out = static_cast<qint64>(d);
    return true;
}

} // namespace

bool JsonReader::Name::operator==(std::string_view text) const {
    if (!escaped_) {
        return raw_.size() == qsizetype(text.size()) &&
               std::memcmp(raw_.data(), text.data(), text.size()) == 0;
    }
    return toString() == QLatin1String(text.data(), qsizetype(text.size()));
}

QString JsonReader::Name::toString() const {
    return text(raw_.data(), raw_.data() + raw_.size(), escaped_);
}

JsonReader::JsonReader(QByteArrayView text) : p_(text.data()), end_(text.data() + text.size()) {
    if (end_ - p_ >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0) {
        p_ += 3;
    }
}

void JsonReader::space() {
    while (p_ != end_ && isSpace(*p_)) {
        ++p_;
    }
}

JsonReader::Kind JsonReader::next() {
    if (failed_) {
        return Kind::invalid;
    }
    space();
    if (p_ == end_) {
        return Kind::invalid;
    }
    switch (*p_) {
    case '"':
        return Kind::string;
    case '{':
        return Kind::object;
    case '[':
        return Kind::array;
    case 't':
    case 'f':
        return Kind::boolean;
    case 'n':
        return Kind::null;
    default:
        // Whatever else stands here is a number or nothing; reading it tells.
        return Kind::number;
    }
}

std::optional<QString> JsonReader::string() {
    if (next() != Kind::string) {
        fail();
        return std::nullopt;
    }
    ++p_;
    const char* begin = p_;
    bool escaped = false;
    if (!scanString(escaped)) {
        return std::nullopt;
    }
    return text(begin, p_ - 1, escaped);
}

std::optional<JsonReader::Number> JsonReader::number() {
    if (next() != Kind::number) {
        fail();
        return std::nullopt;
    }
    Number n;
    if (!scanNumber(&n)) {
        return std::nullopt;
    }
    return n;
}

std::optional<bool> JsonReader::boolean() {
    if (next() != Kind::boolean) {
        fail();
        return std::nullopt;
    }
    const bool value = *p_ == 't';
    const std::string_view word = value ? "true" : "false";
    if (end_ - p_ < qsizetype(word.size()) || std::memcmp(p_, word.data(), word.size()) != 0) {
        fail();
        return std::nullopt;
    }
    p_ += word.size();
    return value;
}

bool JsonReader::null() {
    if (next() != Kind::null || end_ - p_ < 4 || std::memcmp(p_, "null", 4) != 0) {
        return fail();
    }
    p_ += 4;
    return true;
}

bool JsonReader::open(bool object) {
    if (next() != (object ? Kind::object : Kind::array)) {
        return fail();
    }
    if (depth_ == nestingLimit) {
        return fail();
    }
    ++p_;
    levels_[depth_++] = Level{object, true};
    return true;
}

bool JsonReader::beginObject() {
    return open(true);
}

bool JsonReader::beginArray() {
    return open(false);
}

// After the opening bracket or a value: a comma and the next entry, or the closing bracket.
bool JsonReader::more(bool object) {
    if (failed_ || depth_ == 0 || levels_[depth_ - 1].object != object) {
        return fail();
    }
    Level& level = levels_[depth_ - 1];
    space();
    if (p_ == end_) {
        return fail();
    }
    const char close = object ? '}' : ']';
    if (level.first) {
        level.first = false;
        if (*p_ == close) {
            ++p_;
            --depth_;
            return false;
        }
        return true;
    }
    if (*p_ == close) {
        ++p_;
        --depth_;
        return false;
    }
    if (*p_ != ',') {
        return fail();
    }
    ++p_;
    space();
    return true;
}

bool JsonReader::member(Name& name) {
    if (!more(true)) {
        return false;
    }
    if (p_ == end_ || *p_ != '"') {
        return fail();
    }
    ++p_;
    const char* begin = p_;
    bool escaped = false;
    if (!scanString(escaped)) {
        return false;
    }
    name.raw_ = QByteArrayView(begin, p_ - 1 - begin);
    name.escaped_ = escaped;
    space();
    if (p_ == end_ || *p_ != ':') {
        return fail();
    }
    ++p_;
    return true;
}

bool JsonReader::element() {
    return more(false);
}

bool JsonReader::skip() {
    const int base = depth_;
    for (;;) {
        // One value; a container is entered and its entries follow in later rounds.
        switch (next()) {
        case Kind::invalid:
            return fail();
        case Kind::string: {
            ++p_;
            bool escaped = false;
            if (!scanString(escaped)) {
                return false;
            }
            break;
        }
        case Kind::number:
            if (!scanNumber(nullptr)) {
                return false;
            }
            break;
        case Kind::boolean:
            if (!boolean()) {
                return false;
            }
            break;
        case Kind::null:
            if (!null()) {
                return false;
            }
            break;
        case Kind::object:
        case Kind::array: {
            const bool object = *p_ == '{';
            if (!open(object)) {
                return false;
            }
            Name name;
            if (object ? member(name) : element()) {
                continue; // its first entry
            }
            if (failed_) {
                return false;
            }
            break; // empty
        }
        }
        // After a value: close what ends here, then on to the next entry, if any.
        for (;;) {
            if (depth_ == base) {
                return true;
            }
            const bool object = levels_[depth_ - 1].object;
            Name name;
            if (object ? member(name) : element()) {
                break;
            }
            if (failed_) {
                return false;
            }
        }
    }
}

bool JsonReader::finish() {
    if (failed_ || depth_ != 0) {
        return fail();
    }
    space();
    return p_ == end_ || fail();
}

bool JsonReader::scanString(bool& escaped) {
    for (;;) {
        p_ = nextSpecial(p_, end_);
        if (p_ == end_) {
            return fail();
        }
        const auto c = static_cast<unsigned char>(*p_);
        if (c == '"') {
            ++p_;
            return true;
        }
        if (c == '\\') {
            escaped = true;
            if (end_ - p_ < 2) {
                return fail();
            }
            const char e = p_[1];
            p_ += 2;
            if (e == 'u') {
                if (end_ - p_ < 4) {
                    return fail();
                }
                for (int i = 0; i < 4; ++i) {
                    if (hexDigit(p_[i]) < 0) {
                        return fail();
                    }
                }
                p_ += 4;
            }
            continue;
        }
        const int length = utf8Length(reinterpret_cast<const unsigned char*>(p_),
                                      reinterpret_cast<const unsigned char*>(end_));
        if (length == 0) {
            return fail();
        }
        p_ += length;
    }
}

// A number as Qt reads one: the loose shape below, then whatever its text-to-number conversions
// accept.
bool JsonReader::scanNumber(Number* out) {
    const char* begin = p_;
    bool whole = true;
    const bool negative = p_ != end_ && *p_ == '-';
    if (negative) {
        ++p_;
    }
    if (p_ != end_ && *p_ == '0') {
        ++p_;
    } else {
        while (p_ != end_ && isDigit(*p_)) {
            ++p_;
        }
    }
    const char* digitsEnd = p_;
    if (p_ != end_ && *p_ == '.') {
        ++p_;
        while (p_ != end_ && isDigit(*p_)) {
            whole = whole && *p_ == '0';
            ++p_;
        }
    }
    if (p_ != end_ && (*p_ == 'e' || *p_ == 'E')) {
        whole = false;
        ++p_;
        if (p_ != end_ && (*p_ == '-' || *p_ == '+')) {
            ++p_;
        }
        while (p_ != end_ && isDigit(*p_)) {
            ++p_;
        }
    }
    if (p_ == end_) {
        return fail();
    }

    // Plain integers of up to 18 digits always fit: the common case needs no conversion.
    const char* digits = begin + (negative ? 1 : 0);
    if (p_ == digitsEnd && digitsEnd - digits > 0 && digitsEnd - digits <= 18) {
        if (out) {
            qint64 n = 0;
            for (const char* d = digits; d != digitsEnd; ++d) {
                n = n * 10 + (*d - '0');
            }
            out->integer = negative ? -n : n;
            out->value = double(out->integer);
            out->isInteger = true;
        }
        return true;
    }

    const QByteArray number = QByteArray::fromRawData(begin, p_ - begin);
    bool ok = false;
    if (whole) {
        const qint64 n = number.toLongLong(&ok);
        if (ok) {
            if (out) {
                *out = Number{double(n), n, true};
            }
            return true;
        }
    }
    // A correctly rounded conversion gives the value Qt's does wherever that is a normal finite
    // number; the corners (zero, subnormals, overflow, odd shapes) go to Qt's own conversion.
    double d = 0;
    const auto [end, error] = std::from_chars(begin, p_, d);
    if (error != std::errc() || end != p_ || !std::isnormal(d)) {
        d = number.toDouble(&ok);
        if (!ok) {
            return fail();
        }
    }
    if (out) {
        qint64 n = 0;
        if (toInteger(d, n)) {
            *out = Number{double(n), n, true};
        } else {
            *out = Number{d, 0, false};
        }
    }
    return true;
}

} // namespace ostrel
