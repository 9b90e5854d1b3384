#include "OstrelCore/Records/JsonText.h"

namespace ostrel::JsonText {

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

} // namespace ostrel::JsonText
