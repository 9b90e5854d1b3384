#pragma once

#include <QString>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// The byte-level rules both of our JSON readers share: the index reader and the transcript
// reader must take a text exactly as Qt's parser would, so they classify and decode alike.
// Inline because nearly every byte of a transcript or an index passes through these.
namespace ostrel::JsonText {

inline bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

inline bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

inline int hexDigit(char c) {
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

// Whether the four bytes a \u escape needs are there from `p` on, each a hex digit.
inline bool hexQuad(const char* p, const char* end) {
    if (end - p < 4) {
        return false;
    }
    for (int i = 0; i < 4; ++i) {
        if (hexDigit(p[i]) < 0) {
            return false;
        }
    }
    return true;
}

inline bool isContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

// The length of the well-formed UTF-8 sequence at `p` (its first byte not ASCII), or 0: no
// overlong forms, no surrogates, nothing past U+10FFFF. Noncharacters pass, as they do for Qt.
inline int utf8Length(const unsigned char* p, const unsigned char* end) {
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
inline const char* nextSpecial(const char* p, const char* end) {
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

// The loose shape of a number as Qt's parser takes it before converting: an optional "-", then
// "0" or any run of digits, an optional fraction and an optional exponent. `end` is where the
// shape stops, `digitsEnd` where its integer digits stop, and `whole` says that nothing after
// them (no exponent, no non-zero fraction digit) can make it other than an integer.
struct NumberShape {
    const char* end;
    const char* digitsEnd;
    bool whole;
};

inline NumberShape numberShape(const char* p, const char* end) {
    bool whole = true;
    if (p != end && *p == '-') {
        ++p;
    }
    if (p != end && *p == '0') {
        ++p;
    } else {
        while (p != end && isDigit(*p)) {
            ++p;
        }
    }
    const char* digitsEnd = p;
    if (p != end && *p == '.') {
        ++p;
        while (p != end && isDigit(*p)) {
            whole = whole && *p == '0';
            ++p;
        }
    }
    if (p != end && (*p == 'e' || *p == 'E')) {
        whole = false;
        ++p;
        if (p != end && (*p == '-' || *p == '+')) {
            ++p;
        }
        while (p != end && isDigit(*p)) {
            ++p;
        }
    }
    return {p, digitsEnd, whole};
}

// The UTF-16 text of a string's bytes, already checked. Each escape is one UTF-16 unit, as Qt
// makes it: a \u escape its unit, a backslash before any byte but the JSON escape letters that
// byte's own value.
QString unescape(const char* p, const char* end);

} // namespace ostrel::JsonText
