#include "OstrelCore/Engine/JsonSkim.h"

#include "OstrelCore/Records/JsonText.h"

#include <QByteArray>
#include <QLatin1String>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace ostrel {

namespace {

// QJsonDocument refuses deeper nesting; the top level counts as one.
constexpr int nestingLimit = 1024;

#if defined(__SSE2__)
// Code compiled for the AVX2 processors (with the bit instructions that came with them), run
// only after hasAvx2() said that this is one.
#define OSTREL_AVX2 __attribute__((target("avx2,bmi,bmi2,popcnt")))

bool hasAvx2() {
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") &&
           __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
}

std::atomic<bool> wideVectors{hasAvx2()};
#endif

using JsonText::hexQuad;
using JsonText::isDigit;
using JsonText::isSpace;
using JsonText::nextSpecial;
using JsonText::unescape;
using JsonText::utf8Length;

} // namespace

class JsonSkim::Reader {
public:
    Reader(QByteArrayView text, const Names& names, std::vector<Node>& nodes)
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

    // The rest of a string after its opening quote, leaving p_ after the closing one. Long
    // strings go 64 bytes at a time: escapes are found for a whole block at once, so text dense
    // with them (code in tool results) costs no branch per escape.
    bool string(bool& escaped) {
        bool carry = false;
#if defined(__SSE2__)
        // Most strings are names and short values: the first special byte among the next 16 is
        // their closing quote. Without any, the blocks below take over after them.
        if (end_ - p_ >= 16) {
            const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p_));
            const __m128i quote = _mm_cmpeq_epi8(bytes, _mm_set1_epi8('"'));
            const __m128i special = _mm_or_si128(
                _mm_or_si128(quote, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\\'))), bytes);
            const auto mask = static_cast<unsigned>(_mm_movemask_epi8(special));
            if (mask == 0) {
                p_ += 16;
            } else if (((static_cast<unsigned>(_mm_movemask_epi8(quote)) >> __builtin_ctz(mask)) &
                        1) != 0) {
                p_ += __builtin_ctz(mask);
                ++p_;
                return true;
            }
        }
        if (const Blocks read = blocks(escaped, carry); read != Blocks::open) {
            return read == Blocks::closed;
        }
#endif
        if (carry && !escape()) {
            return false;
        }
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
                ++p_;
                if (!escape()) {
                    return false;
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

    // The byte after a backslash, at p_: any byte stands for itself, and "u" takes four hex
    // digits. Leaves p_ after the escape.
    bool escape() {
        if (p_ == end_) {
            return false;
        }
        const char e = *p_;
        ++p_;
        if (e == 'u') {
            if (!hexQuad(p_, end_)) {
                return false;
            }
            p_ += 4;
        }
        return true;
    }

#if defined(__SSE2__)
    // 64 bytes as four vectors.
    struct Block {
        __m128i v0, v1, v2, v3;

        explicit Block(const char* p)
            : v0(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
              v1(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16))),
              v2(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32))),
              v3(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48))) {}

        static std::uint64_t bits(__m128i a, __m128i b, __m128i c, __m128i d) {
            return std::uint64_t(std::uint32_t(_mm_movemask_epi8(a))) |
                   std::uint64_t(std::uint32_t(_mm_movemask_epi8(b))) << 16 |
                   std::uint64_t(std::uint32_t(_mm_movemask_epi8(c))) << 32 |
                   std::uint64_t(std::uint32_t(_mm_movemask_epi8(d))) << 48;
        }
        // The bytes above ASCII.
        std::uint64_t high() const { return bits(v0, v1, v2, v3); }
        // The bytes equal to `c`.
        std::uint64_t equal(char c) const {
            const __m128i k = _mm_set1_epi8(c);
            return bits(_mm_cmpeq_epi8(v0, k), _mm_cmpeq_epi8(v1, k), _mm_cmpeq_epi8(v2, k),
                        _mm_cmpeq_epi8(v3, k));
        }
        // Whether any byte is a quote, a backslash or above ASCII.
        bool special() const {
            const __m128i quote = _mm_set1_epi8('"');
            const __m128i backslash = _mm_set1_epi8('\\');
            const auto one = [&](__m128i v) {
                return _mm_or_si128(
                    _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)), v);
            };
            const __m128i any =
                _mm_or_si128(_mm_or_si128(one(v0), one(v1)), _mm_or_si128(one(v2), one(v3)));
            return _mm_movemask_epi8(any) != 0;
        }
    };

    // The same 64 bytes as two AVX2 vectors: half the work per block where the processor has
    // them. Used only from blocksAvx2(), which runs only where it does.
    struct WideBlock {
        __m256i v0, v1;

        OSTREL_AVX2 explicit WideBlock(const char* p)
            : v0(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))),
              v1(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32))) {}

        OSTREL_AVX2 static std::uint64_t bits(__m256i a, __m256i b) {
            return std::uint64_t(std::uint32_t(_mm256_movemask_epi8(a))) |
                   std::uint64_t(std::uint32_t(_mm256_movemask_epi8(b))) << 32;
        }
        OSTREL_AVX2 std::uint64_t high() const { return bits(v0, v1); }
        OSTREL_AVX2 std::uint64_t equal(char c) const {
            const __m256i k = _mm256_set1_epi8(c);
            return bits(_mm256_cmpeq_epi8(v0, k), _mm256_cmpeq_epi8(v1, k));
        }
        OSTREL_AVX2 bool special() const {
            const __m256i quote = _mm256_set1_epi8('"');
            const __m256i backslash = _mm256_set1_epi8('\\');
            const auto one = [&](__m256i v) OSTREL_AVX2 {
                return _mm256_or_si256(
                    _mm256_or_si256(_mm256_cmpeq_epi8(v, quote), _mm256_cmpeq_epi8(v, backslash)),
                    v);
            };
            return _mm256_movemask_epi8(_mm256_or_si256(one(v0), one(v1))) != 0;
        }
    };

    // Of the bytes whose bits are in `backslash`, which escape the byte after them: the first of
    // each run, every other one, counting on from the run's start. `carry` says on the way in
    // that the block's first byte is escaped, and on the way out that the next block's is.
    static std::uint64_t escapedBytes(std::uint64_t backslash, bool& carry) {
        const std::uint64_t in = carry ? 1 : 0;
        backslash &= ~in;
        const std::uint64_t followsEscape = (backslash << 1) | in;
        constexpr std::uint64_t evenBits = 0x5555555555555555ULL;
        const std::uint64_t oddStarts = backslash & ~evenBits & ~followsEscape;
        std::uint64_t evenStarts = 0;
        carry = __builtin_add_overflow(oddStarts, backslash, &evenStarts);
        const std::uint64_t invert = evenStarts << 1;
        return (evenBits ^ invert) & followsEscape;
    }

    enum class Blocks { failed, closed, open };

    // The string's bytes in whole blocks of 64 while that many are left. Leaves p_ after the
    // closing quote when a block holds it; else (open) at the first byte not looked at, with
    // `carry` set when that byte is escaped.
    Blocks blocks(bool& escaped, bool& carry) {
        return wideVectors.load(std::memory_order_relaxed) ? blocksAvx2(escaped, carry)
                                                           : blocksOf<Block>(escaped, carry);
    }

    // Everything blocksOf() calls is inlined into it here, so that all of it is compiled for
    // AVX2 alike; nothing else is.
    OSTREL_AVX2 __attribute__((flatten)) Blocks blocksAvx2(bool& escaped, bool& carry) {
        return blocksOf<WideBlock>(escaped, carry);
    }

    template <typename B> Blocks blocksOf(bool& escaped, bool& carry) {
        const char* p = p_;
        // Continuation bytes of a UTF-8 sequence begun in the block before.
        std::uint64_t continued = 0;
        while (end_ - p >= 64) {
            const B block(p);
            if ((continued == 0 && !carry) && !block.special()) {
                p += 64;
                continue;
            }
            const std::uint64_t high = block.high();
            const std::uint64_t backslash = block.equal('\\');
            const std::uint64_t quote = block.equal('"');
            const std::uint64_t escapedBits = escapedBytes(backslash, carry);
            const std::uint64_t closing = quote & ~escapedBits;
            // The bytes of this string in the block: all, or those before its closing quote.
            const std::uint64_t inside = closing != 0 ? (closing & (0 - closing)) - 1 : ~0ULL;
            if ((backslash & inside) != 0) {
                escaped = true;
            }
            if ((escapedBits & inside) != 0) {
                for (std::uint64_t bits = block.equal('u') & escapedBits & inside; bits != 0;
                     bits &= bits - 1) {
                    if (!hexQuad(p + __builtin_ctzll(bits) + 1, end_)) {
                        return Blocks::failed;
                    }
                }
            }
            // A byte escaped stands for itself, whatever it is; every other one above ASCII must
            // be part of a well-formed sequence.
            std::uint64_t lead = high & ~escapedBits & ~continued & inside;
            continued = 0;
            while (lead != 0) {
                const int at = __builtin_ctzll(lead);
                const int length = utf8Length(reinterpret_cast<const unsigned char*>(p + at),
                                              reinterpret_cast<const unsigned char*>(end_));
                if (length == 0) {
                    return Blocks::failed;
                }
                const int last = at + length;
                const std::uint64_t covered =
                    last >= 64 ? ~0ULL << at : ((std::uint64_t(1) << last) - 1) & (~0ULL << at);
                lead &= ~covered;
                if (last > 64) {
                    continued = (std::uint64_t(1) << (last - 64)) - 1;
                }
            }
            if (closing != 0) {
                p += __builtin_ctzll(closing);
                p_ = p + 1;
                return Blocks::closed;
            }
            p += 64;
        }
        if (continued != 0) {
            // The sequence's continuation lies in the bytes the scalar loop reads next: it was
            // checked whole, so step over it.
            p += 64 - __builtin_clzll(continued);
        }
        p_ = p;
        return Blocks::open;
    }
#endif

    // A number as Qt reads one: the loose shape below, then whatever its text-to-number
    // conversion accepts, which refuses "1e400" and "1e-400" but takes "1." and ".5".
    bool number() {
        const char* begin = p_;
        const auto [stop, digitsEnd, whole] = JsonText::numberShape(p_, end_);
        p_ = stop;
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
            return names_.find(std::string_view(begin, size_t(end - begin)));
        }
        const QString text = unescape(begin, end);
        const auto list = names_.list();
        for (size_t i = 0; i < list.size(); ++i) {
            if (text == QLatin1String(list[i].data(), qsizetype(list[i].size()))) {
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
    const Names& names_;
    std::vector<Node>& nodes_;
};

JsonSkim::Names::Names(std::span<const std::string_view> names) : names_(names) {
    if (names_.size() <= 64) {
        for (size_t i = 0; i < names_.size(); ++i) {
            slots_[slot(names_[i])] |= std::uint64_t(1) << i;
        }
    }
}

std::size_t JsonSkim::Names::slot(std::string_view name) {
    if (name.empty()) {
        return 0;
    }
    const auto first = static_cast<unsigned char>(name.front());
    const auto last = static_cast<unsigned char>(name.back());
    return (name.size() * 31 + first * 7 + last) & 255;
}

std::int16_t JsonSkim::Names::find(std::string_view name) const {
    if (names_.size() > 64) {
        for (size_t i = 0; i < names_.size(); ++i) {
            if (names_[i] == name) {
                return std::int16_t(i);
            }
        }
        return -1;
    }
    for (std::uint64_t bits = slots_[slot(name)]; bits != 0; bits &= bits - 1) {
        const auto i = static_cast<size_t>(__builtin_ctzll(bits));
        if (names_[i] == name) {
            return std::int16_t(i);
        }
    }
    return -1;
}

std::optional<JsonSkim> JsonSkim::object(QByteArrayView text, const Names& names) {
    JsonSkim skim(text);
    skim.nodes_.reserve(64);
    Reader reader(text, names, skim.nodes_);
    if (!reader.read()) {
        return std::nullopt;
    }
    return skim;
}

bool JsonSkim::useWideVectors(bool wide) {
#if defined(__SSE2__)
    wideVectors.store(wide && hasAvx2());
    return wideVectors.load();
#else
    return !wide;
#endif
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

QByteArrayView JsonSkim::Value::between() const {
    const Node& n = node();
    return skim_->text_.sliced(n.begin, n.end - n.begin);
}

std::optional<QString> JsonSkim::Value::string() const {
    if (!isString()) {
        return std::nullopt;
    }
    const QByteArrayView bytes = between();
    if (node().flag) {
        return unescape(bytes.begin(), bytes.end());
    }
    return QString::fromUtf8(bytes);
}

std::optional<QByteArray> JsonSkim::Value::utf8() const {
    if (!isString()) {
        return std::nullopt;
    }
    QByteArrayView bytes = between();
    if (node().flag) {
        return unescape(bytes.begin(), bytes.end()).toUtf8();
    }
    // As in string(): Qt's decoding drops a byte order mark that opens the text.
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        bytes = bytes.sliced(3);
    }
    return bytes.toByteArray();
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
