// Feeds arbitrary bytes to the capture journal's reader, and reads every line the plain way too,
// through QJsonDocument and the records' own fromJson. The whole is read as its whole lines read
// one by one, within the journal's bounds; a line is read as the reference reads it wherever Qt
// takes it; and no note names a copy that is not its item's. Any difference aborts.
#include "OstrelCore/Records/Store.h"
#include "OstrelCore/Records/StoreIndexParts.h"
#include "Platform/FileStat.h"
#include "tests/OstrelCore/Records/IndexReference.h"

#include <QByteArray>
#include <QLoggingCategory>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace ostrel {

// Found by the reference's comparison of lists.
static bool same(const Store::JournalNote& a, const Store::JournalNote& b) {
    return a.copy == b.copy && test::reference::same(a.item, b.item) &&
           test::reference::same(a.session, b.session);
}

} // namespace ostrel

using namespace ostrel;

namespace {

void fail(const char* what, const QString& detail) {
    std::fprintf(stderr, "%s\n%s\n", what, qPrintable(detail));
    std::abort();
}

bool finite(const std::optional<Date>& date) {
    return !date || std::isfinite(date->seconds);
}

// The lines a start reads: whole ones, the first of them within the bounds.
QList<QByteArray> readLines(const QByteArray& bytes) {
    QList<QByteArray> lines =
        bytes.first(std::min<qsizetype>(bytes.size(), Store::journalLimit)).split('\n');
    if (!lines.isEmpty()) {
        lines.removeLast(); // cut short, or nothing after the last line feed
    }
    if (lines.size() > Store::journalEntryLimit) {
        lines.resize(Store::journalEntryLimit);
    }
    return lines;
}

// One line as the reference reads it.
std::optional<Store::JournalNote> referenceNote(const QByteArray& line) {
    const auto o = test::reference::object(line);
    if (!o || line.size() > Store::journalLineLimit) {
        return std::nullopt;
    }
    const QJsonValue copy = o->value(QStringLiteral("copy"));
    auto item = ShelfItem::fromJson(o->value(QStringLiteral("item")));
    if (!copy.isString() || !item || item->kind == ShelfItemKind::artifact ||
        !finite(item->createdAt) || !finite(item->seenAt) ||
        (item->sourcePath && FileStat::holdsNul(*item->sourcePath))) {
        return std::nullopt;
    }
    const QString key = Store::contentKey(item->id);
    if (key.size() != 64 || !std::all_of(key.begin(), key.end(), [](QChar c) {
            return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f');
        })) {
        return std::nullopt;
    }
    const QByteArray name = copy.toString().toUtf8();
    if (!storeIndexParts::ownFileName(std::string_view(name.constData(), size_t(name.size())),
                                      false) ||
        !Store::isCopyName(copy.toString(), item->id)) {
        return std::nullopt;
    }
    std::optional<Session> session;
    if (o->contains(QStringLiteral("session"))) {
        session = Session::fromJson(o->value(QStringLiteral("session")));
    }
    if (session && (session->id != item->sessionID || !finite(session->startedAt) ||
                    !finite(session->lastActive) || !finite(session->firstPromptAt) ||
                    (session->cwd && FileStat::holdsNul(*session->cwd)))) {
        session.reset();
    }
    return Store::JournalNote{copy.toString(), std::move(*item), std::move(session)};
}

void compare(const QByteArray& bytes) {
    const QList<Store::JournalNote> notes = Store::decodeJournal(bytes);
    QList<Store::JournalNote> oneByOne;
    for (const QByteArray& line : readLines(bytes)) {
        const QList<Store::JournalNote> alone = Store::decodeJournal(line + '\n');
        if (alone.size() > 1) {
            fail("one line read as several notes", QString::fromUtf8(line));
        }
        oneByOne += alone;
        // Where Qt refuses a line only for a number, the depth or the bytes of a string, the
        // journal's reader may read on; there is nothing to compare it with.
        if (test::reference::verdict(line) == test::reference::Verdict::conversion) {
            continue;
        }
        const auto expected = referenceNote(line);
        if (expected.has_value() != !alone.isEmpty() || (expected && !same(*expected, alone[0]))) {
            fail("the journal's reader and the reference read a line differently",
                 QString::fromUtf8(line));
        }
    }
    if (!test::reference::same(notes, oneByOne)) {
        fail("the journal is not read as its lines are, one by one", QString());
    }
    for (const Store::JournalNote& note : notes) {
        if (!Store::isCopyName(note.copy, note.item.id) || note.copy.contains(u'/')) {
            fail("a note names a copy that is not its item's", note.copy);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    QLoggingCategory::setFilterRules(QStringLiteral("app.ostrel.*=false"));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    compare(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    return 0;
}
