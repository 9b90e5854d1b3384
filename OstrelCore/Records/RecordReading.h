#pragma once

// Reading the records of the persisted files, field by field, from a JsonReader; shared by the
// readers of the index (StoreIndexFormat.cpp) and of its records (RecordReading.cpp).
#include "OstrelCore/Records/HiddenRecord.h"
#include "OstrelCore/Records/JsonReader.h"
#include "OstrelCore/Records/Prompt.h"
#include "OstrelCore/Records/Session.h"
#include "OstrelCore/Records/ShelfItem.h"

#include <optional>
#include <utility>

namespace ostrel::recordReading {

// One field of a record as it is read: the last occurrence of a name counts, as it does for Qt,
// so an earlier value of the wrong type is forgotten when a good one follows.
template <typename T> struct Slot {
    bool bad = false;
    std::optional<T> value;

    void absent() { *this = {}; }
    void set(T v) { *this = {false, std::move(v)}; }
    void wrong() { *this = {true, std::nullopt}; }
};

using Kind = JsonReader::Kind;

// Reads a null as absent, a value of the kind `want` through `read`, and skips anything else.
template <typename T, typename Read>
void field(JsonReader& r, Slot<T>& slot, Kind want, Read read) {
    const Kind kind = r.next();
    if (kind == Kind::null) {
        r.null();
        slot.absent();
    } else if (kind == want) {
        read(slot);
    } else {
        r.skip();
        slot.wrong();
    }
}

// Reads the value at the cursor through `read`, on its own: when the reader refuses something in
// it that only a conversion finds (a number out of range, nesting too deep, a string that is not
// UTF-8), the value is passed over by its grammar and reads as none. A syntax error fails the
// reader for good, and with it the document.
template <typename Read> auto alone(JsonReader& r, Read read) -> decltype(read(r)) {
    const JsonReader::Mark mark = r.mark();
    auto value = read(r);
    if (r.failed()) {
        r.rewind(mark);
        r.passOver();
        return std::nullopt;
    }
    return value;
}

inline void stringField(JsonReader& r, Slot<QString>& slot) {
    field(r, slot, Kind::string, [&r](Slot<QString>& s) {
        if (auto text = r.string()) {
            s.set(std::move(*text));
        }
    });
}

inline void dateField(JsonReader& r, Slot<Date>& slot) {
    field(r, slot, Kind::number, [&r](Slot<Date>& s) {
        if (const auto n = r.number()) {
            s.set(Date(n->value));
        }
    });
}

// A whole number that fits 64 bits.
inline void integerField(JsonReader& r, Slot<qint64>& slot) {
    field(r, slot, Kind::number, [&r](Slot<qint64>& s) {
        if (const auto n = r.number()) {
            n->isInteger ? s.set(n->integer) : s.wrong();
        }
    });
}

// Opens the object a record is read from: false, the value passed over, when it is none.
inline bool openRecord(JsonReader& r) {
    if (r.next() != Kind::object) {
        r.skip();
        return false;
    }
    return r.beginObject();
}

// Each reads a record, or none when the value is not one; the value is passed over either way.
std::optional<ShelfItem> readItem(JsonReader& r);
std::optional<HiddenRecord> readHiddenRecord(JsonReader& r);
std::optional<Session> readSession(JsonReader& r);
std::optional<Prompt> readPrompt(JsonReader& r);

} // namespace ostrel::recordReading
