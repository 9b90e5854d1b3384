#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace ostrel {

// A JSON object read for a handful of its members. The whole text is checked, and accepted or
// refused exactly as QJsonDocument::fromJson would, but only the members whose names the caller
// listed are remembered, at any depth, and only as positions in the text: a string becomes a
// QString when it is asked for, and everything else is passed over without being built at all.
// Transcript lines put megabytes into values nobody reads; building them is what made a full
// decode slow.
//
// Where QJsonDocument is lenient, so is this reader, on purpose, so that a line means the same to
// both: raw control characters inside strings, a backslash before any other byte (which stands for
// that byte), lone surrogates from \u escapes, a leading UTF-8 byte order mark, and numbers such as
// "1." or ".5" (a number is whatever Qt's text-to-double conversion takes, so "1e400" is refused).
// Of two members with the same name the last one counts. At most 1024 arrays and objects nest.
//
// A JsonSkim refers to the text it read, which must outlive it.
class JsonSkim {
public:
    enum class Kind : std::uint8_t { null, boolean, number, string, array, object };
    class Value;
    class Elements;

    // The member names to keep, made once for the many texts read with them: a member is
    // matched by a look in a small table rather than by a comparison with every name. Refers to
    // the list, which must outlive it.
    class Names {
    public:
        explicit Names(std::span<const std::string_view> names);
        // The index of `name` in the list, or -1.
        std::int16_t find(std::string_view name) const;
        std::span<const std::string_view> list() const { return names_; }

    private:
        static std::size_t slot(std::string_view name);
        std::span<const std::string_view> names_;
        // Bit i of a slot set when names_[i] falls in it (with at most 64 names).
        std::array<std::uint64_t, 256> slots_{};
    };

    // None when `text` is not JSON or its top level is not an object. `names` are the member
    // names to keep; a Value looks members up by their index in it. At most 32767 names.
    static std::optional<JsonSkim> object(QByteArrayView text, const Names& names);
    static std::optional<JsonSkim> object(QByteArrayView text,
                                          std::span<const std::string_view> names) {
        return object(text, Names(names));
    }

    // Whether strings are read with AVX2 where the processor has it (the default) or only with
    // the vectors every x86-64 has; for the tests, which hold both to the same answers. True
    // when the wide ones are in use afterwards.
    static bool useWideVectors(bool wide);

    Value root() const;

private:
    struct Node {
        // A string's bytes between its quotes, a number's own bytes.
        qsizetype begin = 0;
        qsizetype end = 0;
        // The node after this value and everything inside it.
        std::uint32_t next = 0;
        // The index of the member name; -1 for an array element and the top level.
        std::int16_t name = -1;
        Kind kind = Kind::null;
        // A string with a backslash in it; a boolean that is true.
        bool flag = false;
    };
    class Reader;

    JsonSkim(QByteArrayView text) : text_(text) {}

    QByteArrayView text_;
    std::vector<Node> nodes_;
};

// A value inside a JsonSkim, or nothing: looking up a missing member, or a member of something
// that is not an object, gives nothing, which is of no kind.
class JsonSkim::Value {
public:
    Value() = default;

    bool isObject() const { return is(Kind::object); }
    bool isArray() const { return is(Kind::array); }
    bool isString() const { return is(Kind::string); }
    // A boolean that is true.
    bool isTrue() const { return is(Kind::boolean) && node().flag; }

    // The member named names[name]; nothing when absent.
    Value operator[](std::size_t name) const;
    // The elements of an array; none for anything else.
    Elements elements() const;

    // The text of a string; none for any other kind.
    std::optional<QString> string() const;
    // The same text in UTF-8: a string without escapes is its bytes as they stand (but for an
    // opening byte order mark, which Qt drops), copied once and never widened. None for any
    // other kind.
    std::optional<QByteArray> utf8() const;
    // The bytes of a string that holds no escape, as they stand between its quotes; none for a
    // string with escapes and for any other kind.
    std::optional<QByteArrayView> plainBytes() const {
        if (!isString() || node().flag) {
            return std::nullopt;
        }
        return between();
    }
    // Whether this is a string with exactly the ASCII text `text`.
    bool is(std::string_view text) const;

private:
    friend class JsonSkim;
    Value(const JsonSkim* skim, std::uint32_t index) : skim_(skim), index_(index) {}
    bool is(Kind kind) const { return skim_ != nullptr && node().kind == kind; }
    // A string's bytes between its quotes, as they stand.
    QByteArrayView between() const;
    const Node& node() const { return skim_->nodes_[index_]; }

    const JsonSkim* skim_ = nullptr;
    std::uint32_t index_ = 0;
};

class JsonSkim::Elements {
public:
    class Iterator {
    public:
        Value operator*() const { return Value(skim_, index_); }
        Iterator& operator++() {
            index_ = skim_->nodes_[index_].next;
            return *this;
        }
        friend bool operator==(const Iterator& a, const Iterator& b) {
            return a.index_ == b.index_;
        }

    private:
        friend class Elements;
        Iterator(const JsonSkim* skim, std::uint32_t index) : skim_(skim), index_(index) {}
        const JsonSkim* skim_;
        std::uint32_t index_;
    };

    Iterator begin() const { return Iterator(skim_, begin_); }
    Iterator end() const { return Iterator(skim_, end_); }

private:
    friend class Value;
    Elements(const JsonSkim* skim, std::uint32_t begin, std::uint32_t end)
        : skim_(skim), begin_(begin), end_(end) {}
    const JsonSkim* skim_;
    std::uint32_t begin_;
    std::uint32_t end_;
};

inline JsonSkim::Value JsonSkim::root() const {
    return Value(this, 0);
}

} // namespace ostrel
