#include "OstrelCore/Records/JsonReader.h"

#include "OstrelCore/Records/JsonText.h"

#include <QByteArray>
#include <QLatin1String>

#include <charconv>
#include <cmath>
#include <cstring>
#include <vector>

namespace ostrel {

namespace {

using JsonText::hexQuad;
using JsonText::isDigit;
using JsonText::isSpace;
using JsonText::nextSpecial;
using JsonText::unescape;
using JsonText::utf8Length;

// A string's bytes, already checked, as text; `plain` when they are ASCII without escapes.
QString text(const char* begin, const char* end, bool plain) {
    // Most texts in the files are plain; the Latin-1 conversion is the fastest for them. Others
    // are decoded by hand: QString::fromUtf8 drops a byte order mark at the start of a text,
    // which Qt's JSON parser keeps.
    if (plain) {
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

// Whether a number's shape, as numberShape() takes it from `p` to `stop`, holds the digits a
// number needs: one at least before the exponent, and one at least in an exponent.
bool wellShaped(const char* p, const char* stop) {
    bool digits = false;
    if (p != stop && *p == '-') {
        ++p;
    }
    for (; p != stop && (isDigit(*p) || *p == '.'); ++p) {
        digits = digits || isDigit(*p);
    }
    if (p == stop) {
        return digits;
    }
    // An exponent: its letter, perhaps a sign, then digits to the end of the shape.
    ++p;
    if (p != stop && (*p == '-' || *p == '+')) {
        ++p;
    }
    return digits && p != stop;
}

} // namespace

bool JsonReader::Name::operator==(std::string_view text) const {
    if (plain_) {
        return raw_.size() == qsizetype(text.size()) &&
               std::memcmp(raw_.data(), text.data(), text.size()) == 0;
    }
    return toString() == QLatin1String(text.data(), qsizetype(text.size()));
}

QString JsonReader::Name::toString() const {
    return text(raw_.data(), raw_.data() + raw_.size(), plain_);
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
    bool plain = true;
    if (!scanString(plain)) {
        return std::nullopt;
    }
    return text(begin, p_ - 1, plain);
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
    return readName(name, nullptr);
}

bool JsonReader::member(Name& name, bool& readable) {
    readable = true;
    return readName(name, &readable);
}

bool JsonReader::readName(Name& name, bool* readable) {
    if (!more(true)) {
        return false;
    }
    if (p_ == end_ || *p_ != '"') {
        return fail();
    }
    ++p_;
    const char* begin = p_;
    bool plain = true;
    if (!scanString(plain, true, readable)) {
        return false;
    }
    name.raw_ = QByteArrayView(begin, p_ - 1 - begin);
    name.plain_ = plain;
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
            bool plain = true;
            if (!scanString(plain)) {
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

bool JsonReader::passOver() {
    if (next() == Kind::invalid) {
        return fail();
    }
    // Whether each open bracket is an object's, the innermost last. Nesting is not limited here,
    // so this grows on the heap, bounded by the length of the text.
    std::vector<bool> objects;
    for (;;) {
        // One value; a container is entered and its entries follow in later rounds.
        space();
        if (p_ == end_) {
            return fail();
        }
        const char c = *p_;
        if (c == '{' || c == '[') {
            ++p_;
            space();
            if (p_ == end_ || *p_ != (c == '{' ? '}' : ']')) {
                objects.push_back(c == '{');
                if (c == '{' && !passName()) {
                    return false;
                }
                continue; // its first entry
            }
            ++p_; // empty
        } else if (!passScalar()) {
            return false;
        }
        // After a value: close what ends here, then on to the next entry, if any.
        for (;;) {
            if (objects.empty()) {
                return true;
            }
            space();
            if (p_ == end_) {
                return fail();
            }
            const bool object = objects.back();
            if (*p_ == (object ? '}' : ']')) {
                ++p_;
                objects.pop_back();
                continue;
            }
            if (*p_ != ',') {
                return fail();
            }
            ++p_;
            if (object && !passName()) {
                return false;
            }
            break;
        }
    }
}

bool JsonReader::passName() {
    space();
    if (p_ == end_ || *p_ != '"') {
        return fail();
    }
    ++p_;
    bool plain = true;
    if (!scanString(plain, false)) {
        return false;
    }
    space();
    if (p_ == end_ || *p_ != ':') {
        return fail();
    }
    ++p_;
    return true;
}

bool JsonReader::passScalar() {
    switch (*p_) {
    case '"': {
        ++p_;
        bool plain = true;
        return scanString(plain, false);
    }
    case 't':
    case 'f':
        return boolean().has_value();
    case 'n':
        return null();
    default: {
        const char* stop = JsonText::numberShape(p_, end_).end;
        if (!wellShaped(p_, stop) || stop == end_) {
            return fail();
        }
        p_ = stop;
        return true;
    }
    }
}

JsonReader::Mark JsonReader::mark() {
    space();
    return Mark{p_, depth_};
}

void JsonReader::rewind(Mark mark) {
    p_ = mark.at;
    depth_ = mark.depth;
    failed_ = false;
}

bool JsonReader::finish() {
    if (failed_ || depth_ != 0) {
        return fail();
    }
    space();
    return p_ == end_ || fail();
}

bool JsonReader::scanString(bool& plain, bool checkEncoding, bool* wellFormed) {
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
            plain = false;
            if (end_ - p_ < 2) {
                return fail();
            }
            const char e = p_[1];
            p_ += 2;
            if (e == 'u') {
                if (!hexQuad(p_, end_)) {
                    return fail();
                }
                p_ += 4;
            }
            continue;
        }
        plain = false;
        if (!checkEncoding) {
            ++p_;
            continue;
        }
        int length = utf8Length(reinterpret_cast<const unsigned char*>(p_),
                                reinterpret_cast<const unsigned char*>(end_));
        if (length == 0) {
            if (wellFormed == nullptr) {
                return fail();
            }
            *wellFormed = false;
            length = 1;
        }
        p_ += length;
    }
}

// A number as Qt reads one: the loose shape below, then whatever its text-to-number conversions
// accept.
bool JsonReader::scanNumber(Number* out) {
    const char* begin = p_;
    const bool negative = p_ != end_ && *p_ == '-';
    const auto [stop, digitsEnd, whole] = JsonText::numberShape(p_, end_);
    p_ = stop;
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
