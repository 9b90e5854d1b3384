#pragma once

#include <QByteArrayView>
#include <QString>

#include <cstdint>
#include <optional>
#include <string_view>

namespace ostrel {

// A strict pull reader over JSON text, for decoding the persisted files straight into records
// without building a QJsonDocument first. It accepts and refuses exactly what
// QJsonDocument::fromJson does, and gives every value as Qt would: the same lenient corners (a
// leading UTF-8 byte order mark, raw control characters in strings, a backslash before any other
// byte standing for that byte, lone surrogates from \u escapes, numbers such as "1." and ".5",
// "1e400" refused), at most 1024 nested arrays and objects, and numbers stored as Qt stores them
// (an integral value that fits 64 bits is an integer, so "-0.0" reads as 0).
//
// Use: look at the next value's kind with next(), then read it with the call for that kind, or
// skip() it. A syntax error makes every later call fail; failed() tells, and finish() checks that
// nothing but white space follows the top-level value. Type checks are the caller's: a value of
// an unexpected kind is skipped, never misread.
//
// The reader refers to the text it reads, which must outlive it.
class JsonReader {
public:
    enum class Kind : std::uint8_t { null, boolean, number, string, array, object, invalid };

    // A number as Qt keeps it: an integer when it is integral and fits 64 bits, else a double.
    struct Number {
        double value = 0;
        qint64 integer = 0;
        bool isInteger = false;
    };

    // An object member's name, as it stands between its quotes.
    class Name {
    public:
        // Whether the name is exactly `text` (ASCII), escapes resolved.
        bool operator==(std::string_view text) const;
        QString toString() const;

    private:
        friend class JsonReader;
        QByteArrayView raw_;
        bool plain_ = true; // ASCII without escapes
    };

    explicit JsonReader(QByteArrayView text);

    // The kind of the value at the cursor, from its first byte; `invalid` at the end of the text
    // or after a failure.
    Kind next();

    // Each reads the value at the cursor, which must be of its kind; none on a failure.
    std::optional<QString> string();
    std::optional<Number> number();
    std::optional<bool> boolean();
    bool null();

    // Objects: beginObject(), then while (member(name)) read or skip the value. member() is false
    // after the closing brace and on a failure; tell them apart with failed().
    bool beginObject();
    bool member(Name& name);
    // As member(), for a name that may stand for nothing: one whose bytes are not UTF-8 (which
    // member() refuses, as Qt does) leaves the reader going with `readable` false. Such a name
    // must not be made a text or compared; its value is still to be passed over.
    bool member(Name& name, bool& readable);
    // Arrays alike: beginArray(), then while (element()) read or skip the value.
    bool beginArray();
    bool element();

    // Checks and passes over the value at the cursor, whatever its kind.
    bool skip();
    // Passes over the value at the cursor checking only its grammar: brackets, names, commas and
    // colons where JSON has them, strings closed with valid escapes, numbers of a valid shape.
    // What only a conversion finds is let through: numbers are not converted (so "1e400" passes),
    // nesting is not limited, and the bytes of a string need not be UTF-8. So a value a strict read
    // refuses for those still ends where it should, and the text around it reads on. False, and
    // the reader failed, when the text is no JSON here.
    bool passOver();

    // A place in the text to come back to. A value that a strict read refused is read again from
    // there, by passOver(), after rewind(), which also clears the failure; only the levels at or
    // below the mark's are kept, so a mark serves while no bracket it stood inside has closed.
    struct Mark {
        const char* at;
        int depth;
    };
    Mark mark();
    void rewind(Mark mark);

    // True when the text has been whole and well-formed JSON up to the end of its top-level value
    // and nothing but white space follows.
    bool finish();
    bool failed() const { return failed_; }

private:
    // Left uninitialised until opened: a reader made for each of a million small values must
    // not fill its whole stack of levels every time.
    struct Level {
        bool object;
        bool first;
    };

    bool fail() {
        failed_ = true;
        return false;
    }
    void space();
    bool open(bool object);
    bool more(bool object);
    // The rest of a string after its opening quote; p_ then stands after the closing quote.
    // Without `checkEncoding`, by its grammar alone: any byte may stand between the quotes.
    // `plain` is cleared when it holds an escape or a byte beyond ASCII, so that making it a text
    // needs no second look at its bytes. With `wellFormed`, bytes that are not UTF-8 clear it
    // rather than fail the reader.
    bool scanString(bool& plain, bool checkEncoding = true, bool* wellFormed = nullptr);
    bool readName(Name& name, bool* readable);
    // A member's name and its colon, by their grammar alone.
    bool passName();
    bool passScalar();
    bool scanNumber(Number* out);

    const char* p_;
    const char* const end_;
    bool failed_ = false;
    // Open arrays and objects, the top level counted as one.
    int depth_ = 0;
    static constexpr int nestingLimit = 1024;
    Level levels_[nestingLimit];
};

} // namespace ostrel
