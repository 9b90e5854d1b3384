#include "OstrelCore/Engine/JsonSkim.h"

#include <QByteArray>
#include <QLatin1String>

#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ostrel {

namespace {

// QJsonDocument refuses deeper nesting; the top level counts as one.
constexpr int nestingLimit = 1024;

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
// Almost all of a transcript's bytes pass through here.
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

// The UTF-16 text of a string's bytes, already checked, that hold escapes. Each escape is one
// UTF-16 unit, as Qt makes it: a \u escape its unit, a backslash before any byte but the
// JSON escape letters that byte's own value.
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

} // namespace

class JsonSkim::Reader {
public:
    Reader(QByteArrayView text, std::span<const std::string_view> names, std::vector<Node>& nodes)
        : start_(text.data()), p_(text.data()), end_(text.data() + text.size()), names_(names),
          nodes_(nodes) {}

    bool read() {
        if (end_ - p_ >= 3 && std::memcmp(p_, "\xEF\xBB\xBF", 3) == 0) {
            p_ += 3;
        }
        space();
        if (p_ == end_ || *p_ != '{') {
            return false;
        }
        if (!values()) {
            return false;
        }
        space();
        return p_ == end_;
    }

private:
    struct Frame {
        // The container's node, when kept.
        std::uint32_t node;
        bool object;
        bool keep;
    };

    // Reads the value at p_, a container with everything in it, keeping what the names ask for.
    // Iterative, so that deep nesting needs no deep stack.
    bool values() {
        std::array<Frame, nestingLimit> stack;
        int depth = 0;
        bool keep = true;
        std::int16_t name = -1;
        for (;;) {
            if (p_ == end_) {
                return false;
            }
            const char c = *p_;
            if (c == '{' || c == '[') {
                if (depth == nestingLimit) {
                    return false;
                }
                ++p_;
                const bool object = c == '{';
                stack[depth++] =
                    Frame{keep ? push(object ? Kind::object : Kind::array, name) : 0, object, keep};
                space();
                if (p_ == end_) {
                    return false;
                }
                if (*p_ != (object ? '}' : ']')) {
                    if (!object) {
                        name = -1;
                    } else if (!member(keep, keep, name)) {
                        return false;
                    }
                    continue;
                }
                ++p_;
                close(stack[--depth]);
            } else if (!scalar(keep, name)) {
                return false;
            }

            // After a value: close what ends here, then go on to the next value, if any.
            for (;;) {
                if (depth == 0) {
                    return true;
                }
                const Frame& frame = stack[depth - 1];
                space();
                if (p_ == end_) {
                    return false;
                }
                if (*p_ == ',') {
                    ++p_;
                    space();
                    if (frame.object) {
                        if (!member(frame.keep, keep, name)) {
                            return false;
                        }
                    } else {
                        keep = frame.keep;
                        name = -1;
                    }
                    break;
                }
                if (*p_ != (frame.object ? '}' : ']')) {
                    return false;
                }
                ++p_;
                close(stack[--depth]);
            }
        }
    }

    // A member's name and colon, leaving p_ at its value; whether to keep that value and under
    // which name.
    bool member(bool keepObject, bool& keep, std::int16_t& name) {
        if (p_ == end_ || *p_ != '"') {
            return false;
        }
        ++p_;
        const char* begin = p_;
        bool escaped = false;
        if (!string(escaped)) {
            return false;
        }
        name = keepObject ? nameIndex(begin, p_ - 1, escaped) : -1;
        keep = name >= 0;
        space();
        if (p_ == end_ || *p_ != ':') {
            return false;
        }
        ++p_;
        space();
        return true;
    }

    bool scalar(bool keep, std::int16_t name) {
        const char c = *p_;
        if (c == '"') {
            ++p_;
            const char* begin = p_;
            bool escaped = false;
            if (!string(escaped)) {
                return false;
            }
            if (keep) {
                push(Kind::string, name, begin, p_ - 1, escaped);
            }
            return true;
        }
        if (c == 't' || c == 'f' || c == 'n') {
            const std::string_view word = c == 't' ? "true" : c == 'f' ? "false" : "null";
            if (end_ - p_ < qsizetype(word.size()) ||
                std::memcmp(p_, word.data(), word.size()) != 0) {
                return false;
            }
            p_ += word.size();
            if (keep) {
                push(c == 'n' ? Kind::null : Kind::boolean, name, nullptr, nullptr, c == 't');
            }
            return true;
        }
        const char* begin = p_;
        if (!number()) {
            return false;
        }
        if (keep) {
            push(Kind::number, name, begin, p_);
        }
        return true;
    }

    // The rest of a string after its opening quote, leaving p_ after the closing one.
    bool string(bool& escaped) {
        for (;;) {
            p_ = nextSpecial(p_, end_);
            if (p_ == end_) {
                return false;
            }
            const auto c = static_cast<unsigned char>(*p_);
            if (c == '"') {
                ++p_;
                return true;
            }
            if (c == '\\') {
                escaped = true;
                if (end_ - p_ < 2) {
                    return false;
                }
                const char e = p_[1];
                p_ += 2;
                if (e == 'u') {
                    if (end_ - p_ < 4) {
                        return false;
                    }
                    for (int i = 0; i < 4; ++i) {
                        if (hexDigit(p_[i]) < 0) {
                            return false;
                        }
                    }
                    p_ += 4;
                }
                continue;
            }
            const int length = utf8Length(reinterpret_cast<const unsigned char*>(p_),
                                          reinterpret_cast<const unsigned char*>(end_));
            if (length == 0) {
                return false;
            }
            p_ += length;
        }
    }

    // A number as Qt reads one: the loose shape below, then whatever its text-to-number
    // conversion accepts, which refuses "1e400" and "1e-400" but takes "1." and ".5".
    bool number() {
        const char* begin = p_;
        bool whole = true;
        if (p_ != end_ && *p_ == '-') {
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
            return false;
        }
        // Plain integers of up to 18 digits always fit: the common case needs no conversion.
        const qsizetype digits = digitsEnd - begin - (*begin == '-' ? 1 : 0);
        if (p_ == digitsEnd && digits > 0 && digits <= 18) {
            return true;
        }
        const QByteArray text = QByteArray::fromRawData(begin, p_ - begin);
        bool ok = false;
        if (whole) {
            (void)text.toLongLong(&ok);
        }
        if (!ok) {
            (void)text.toDouble(&ok);
        }
        return ok;
    }

    void space() {
        while (p_ != end_ && isSpace(*p_)) {
            ++p_;
        }
    }

    std::int16_t nameIndex(const char* begin, const char* end, bool escaped) const {
        if (!escaped) {
            const auto length = size_t(end - begin);
            for (size_t i = 0; i < names_.size(); ++i) {
                if (names_[i].size() == length &&
                    std::memcmp(names_[i].data(), begin, length) == 0) {
                    return std::int16_t(i);
                }
            }
            return -1;
        }
        const QString text = unescape(begin, end);
        for (size_t i = 0; i < names_.size(); ++i) {
            if (text == QLatin1String(names_[i].data(), qsizetype(names_[i].size()))) {
                return std::int16_t(i);
            }
        }
        return -1;
    }

    std::uint32_t push(Kind kind, std::int16_t name, const char* begin = nullptr,
                       const char* end = nullptr, bool flag = false) {
        Node node;
        node.kind = kind;
        node.name = name;
        node.flag = flag;
        node.begin = begin ? begin - start_ : 0;
        node.end = end ? end - start_ : 0;
        nodes_.push_back(node);
        nodes_.back().next = std::uint32_t(nodes_.size());
        return std::uint32_t(nodes_.size() - 1);
    }

    void close(const Frame& frame) {
        if (frame.keep) {
            nodes_[frame.node].next = std::uint32_t(nodes_.size());
        }
    }

    const char* const start_;
    const char* p_;
    const char* const end_;
    std::span<const std::string_view> names_;
    std::vector<Node>& nodes_;
};

std::optional<JsonSkim> JsonSkim::object(QByteArrayView text,
                                         std::span<const std::string_view> names) {
    JsonSkim skim(text);
    skim.nodes_.reserve(64);
    Reader reader(text, names, skim.nodes_);
    if (!reader.read()) {
        return std::nullopt;
    }
    return skim;
}

JsonSkim::Value JsonSkim::Value::operator[](std::size_t name) const {
    if (!isObject()) {
        return {};
    }
    const auto& nodes = skim_->nodes_;
    Value found;
    for (std::uint32_t i = index_ + 1; i < nodes[index_].next; i = nodes[i].next) {
        if (nodes[i].name == std::int16_t(name)) {
            found = Value(skim_, i);
        }
    }
    return found;
}

JsonSkim::Elements JsonSkim::Value::elements() const {
    if (!isArray()) {
        return Elements(skim_, 0, 0);
    }
    return Elements(skim_, index_ + 1, node().next);
}

std::optional<QString> JsonSkim::Value::string() const {
    if (!isString()) {
        return std::nullopt;
    }
    const Node& n = node();
    const char* begin = skim_->text_.data() + n.begin;
    const char* end = skim_->text_.data() + n.end;
    if (n.flag) {
        return unescape(begin, end);
    }
    return QString::fromUtf8(begin, end - begin);
}

bool JsonSkim::Value::is(std::string_view text) const {
    if (!isString()) {
        return false;
    }
    const Node& n = node();
    if (n.flag) {
        return *string() == QLatin1String(text.data(), qsizetype(text.size()));
    }
    return n.end - n.begin == qsizetype(text.size()) &&
           std::memcmp(skim_->text_.data() + n.begin, text.data(), text.size()) == 0;
}

} // namespace ostrel
