#include "OstrelCore/Engine/TranscriptParser.h"

#include "OstrelCore/Engine/JsonSkim.h"
#include "OstrelCore/Records/OstrelPaths.h"
#include "OstrelCore/Records/Prompt.h"
#include "OstrelCore/Records/Text.h"
#include "Platform/Log.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QVarLengthArray>

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ostrel {

namespace {

// The needles are written the way the assistant writes its lines: compact JSON, no space after
// the colon. A line written otherwise is of no interest by design.
constexpr std::string_view imageNeedle = R"("type":"image")";
constexpr std::array<std::string_view, 2> recordNeedles{R"("type":"user")", R"("tool_use")"};
constexpr std::array<std::string_view, 3> titleNeedles{
    R"("type":"agent-name")", R"("type":"custom-title")", R"("type":"ai-title")"};
// Every needle but "tool_use" is a `"type":"` and what follows it.
constexpr std::string_view typeNeedle = R"("type":")";
static_assert(recordNeedles[0].starts_with(typeNeedle) && titleNeedles[0].starts_with(typeNeedle) &&
              titleNeedles[1].starts_with(typeNeedle) && titleNeedles[2].starts_with(typeNeedle));
constexpr std::array<std::string_view, 4> interestTypes{
    recordNeedles[0].substr(typeNeedle.size()), titleNeedles[0].substr(typeNeedle.size()),
    titleNeedles[1].substr(typeNeedle.size()), titleNeedles[2].substr(typeNeedle.size())};

// Whether one of the record needles (unless `titlesOnly`) or the title needles occurs: every one
// begins with a quote and a "t", a pair rare enough in a line that each can be checked where it
// stands, so one pass finds them all.
bool hasInterest(QByteArrayView haystack, bool titlesOnly) {
    const char* p = haystack.data();
    const char* const end = p + haystack.size();
    const auto at = [&](const char* q) {
        const std::string_view rest(q, static_cast<size_t>(end - q));
        if (rest.starts_with(typeNeedle)) {
            const std::string_view type = rest.substr(typeNeedle.size());
            for (size_t i = titlesOnly ? 1 : 0; i < interestTypes.size(); ++i) {
                if (type.starts_with(interestTypes[i])) {
                    return true;
                }
            }
            return false;
        }
        return !titlesOnly && rest.starts_with(recordNeedles[1]);
    };
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i t = _mm_set1_epi8('t');
    while (end - p >= 17) {
        const __m128i here = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
        auto pairs = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(here, quote), _mm_cmpeq_epi8(next, t))));
        for (; pairs != 0; pairs &= pairs - 1) {
            if (at(p + __builtin_ctz(pairs))) {
                return true;
            }
        }
        p += 16;
    }
#endif
    for (; end - p >= 2; ++p) {
        if (p[0] == '"' && p[1] == 't' && at(p)) {
            return true;
        }
    }
    return false;
}

bool contains(QByteArrayView haystack, std::string_view needle) {
    if (haystack.size() < static_cast<qsizetype>(needle.size())) {
        return false;
    }
    // glibc's memmem is a vectorised two-way search: far faster than a byte loop on long lines.
    return ::memmem(haystack.data(), static_cast<size_t>(haystack.size()), needle.data(),
                    needle.size()) != nullptr;
}

// The member names the parser reads, at whatever depth, in the order of `keys`; everything else
// in a line is only checked, never built.
namespace key {
enum : std::size_t {
    type,
    sessionId,
    cwd,
    gitBranch,
    timestamp,
    promptId,
    isMeta,
    isSidechain,
    message,
    toolUseResult,
    agentName,
    customTitle,
    aiTitle,
    role,
    content,
    id,
    name,
    input,
    file_path,
    tool_use_id,
    text,
    source,
    data,
    media_type,
    artifact_id,
    url,
    title,
    path,
    count
};
} // namespace key

constexpr std::array<std::string_view, key::count> keys{
    "type",      "sessionId",   "cwd",         "gitBranch",  "timestamp",
    "promptId",  "isMeta",      "isSidechain", "message",    "toolUseResult",
    "agentName", "customTitle", "aiTitle",     "role",       "content",
    "id",        "name",        "input",       "file_path",  "tool_use_id",
    "text",      "source",      "data",        "media_type", "artifact_id",
    "url",       "title",       "path"};

static_assert(keys[key::type] == "type" && keys[key::content] == "content" &&
              keys[key::path] == "path");

using Value = JsonSkim::Value;

std::size_t titleKey(SessionTitle::Kind kind) {
    const QString name = SessionTitle::jsonKey(kind);
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (name == QLatin1String(keys[i].data(), qsizetype(keys[i].size()))) {
            return i;
        }
    }
    return key::count;
}

// White space and line breaks all lie in the Basic Multilingual Plane and are no surrogates:
// the ends of a long text are found in its UTF-16 units.
bool isTrimmable(QChar c) {
    return !c.isSurrogate() && (Text::isBlank(c.unicode()) || Text::isNewline(c.unicode()));
}

// Trims white space and line breaks at both ends.
QString trimmed(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isTrimmable(text.at(begin))) {
        ++begin;
    }
    while (end > begin && isTrimmable(text.at(end - 1))) {
        --end;
    }
    if (begin == 0 && end == text.size()) {
        return text;
    }
    return Text::wellFormed(text.mid(begin, end - begin));
}

std::optional<QString> promptText(Value content) {
    std::optional<QString> text;
    if (content.isString()) {
        text = content.string();
    } else {
        for (const Value item : content.elements()) {
            if (item.isObject() && item[key::type].is("text")) {
                text = item[key::text].string();
                break;
            }
        }
    }
    if (!text) {
        return std::nullopt;
    }
    const QString clean = trimmed(*text);
    if (clean.isEmpty() || clean.startsWith(QLatin1String("<local-command")) ||
        clean.startsWith(QLatin1String("<command-")) ||
        clean.startsWith(QLatin1String("[Request interrupted"))) {
        return std::nullopt;
    }
    return Prompt::summarize(clean);
}

// A few values, held in place: a line has a handful of content items and tool results, and a
// list on the heap for each cost more than reading them.
using Values = QVarLengthArray<Value, 8>;

// The elements of an array of objects only; none for anything else.
Values objects(Value array) {
    Values result;
    for (const Value element : array.elements()) {
        if (!element.isObject()) {
            return {};
        }
        result.append(element);
    }
    return result;
}

void readImages(Value result, const std::optional<QString>& toolUseID, TranscriptRecord& record) {
    // Like the message content, a result's content counts only as a list of objects throughout.
    for (const Value block : objects(result[key::content])) {
        if (!block[key::type].is("image")) {
            continue;
        }
        const Value source = block[key::source];
        if (!source[key::type].is("base64")) {
            continue;
        }
        auto data = source[key::data].utf8();
        if (!data || data->isEmpty()) {
            continue;
        }
        TranscriptImage image;
        image.base64 = std::move(*data);
        image.mediaType = source[key::media_type].string().value_or(QStringLiteral("image/png"));
        image.toolUseID = toolUseID;
        image.sessionID = record.sessionID;
        image.cwd = record.cwd;
        image.timestamp = record.timestamp;
        record.images.append(std::move(image));
    }
}

// A path holding U+0000 never leaves the parser.
std::optional<QString> checkedPath(std::optional<QString> path, const char* what) {
    if (path && OstrelPaths::refusesNul(*path, lcIngest(), what)) {
        return std::nullopt;
    }
    return path;
}

std::optional<ArtifactResult> artifact(Value line, const std::optional<QString>& firstResultID) {
    const Value result = line[key::toolUseResult];
    auto id = result[key::artifact_id].string();
    const auto urlText = result[key::url].string();
    if (!id || !urlText) {
        return std::nullopt;
    }
    const QUrl url(*urlText, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().toLower() != QLatin1String("https")) {
        return std::nullopt;
    }
    return ArtifactResult{std::move(*id), url, result[key::title].string(),
                          checkedPath(result[key::path].string(), "artifact path"), firstResultID};
}

} // namespace

bool TranscriptParser::mayContainImage(QByteArrayView bytes) {
    return contains(bytes, imageNeedle);
}

bool TranscriptParser::mayBeInteresting(QByteArrayView bytes) {
    return hasInterest(bytes, false);
}

bool TranscriptParser::mayBeTitle(QByteArrayView bytes) {
    return hasInterest(bytes, true);
}

namespace {

// Whole milliseconds from 1970 to the reference date, 2001-01-01 00:00:00 UTC.
constexpr qint64 referenceMs = 978307200000;

// The days from 1970-01-01 to a date of the proleptic Gregorian calendar.
qint64 daysFromCivil(qint64 y, unsigned m, unsigned d) {
    y -= m <= 2 ? 1 : 0;
    const qint64 era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<qint64>(doe) - 719468;
}

// The one form the assistant writes, "2025-01-31T09:15:02.345Z" or without the fraction, read
// straight from its bytes; none for any other text, which goes the general way. Gives what that
// way gives for every text it takes.
std::optional<Date> commonDate(QByteArrayView t) {
    const qsizetype n = t.size();
    if ((n != 20 && n != 24) || t[4] != '-' || t[7] != '-' || t[10] != 'T' || t[13] != ':' ||
        t[16] != ':' || t[n - 1] != 'Z' || (n == 24 && t[19] != '.')) {
        return std::nullopt;
    }
    const auto number = [&t](qsizetype at, qsizetype digits) -> int {
        int value = 0;
        for (qsizetype i = at; i < at + digits; ++i) {
            if (t[i] < '0' || t[i] > '9') {
                return -1;
            }
            value = value * 10 + (t[i] - '0');
        }
        return value;
    };
    const int year = number(0, 4);
    const int month = number(5, 2);
    const int day = number(8, 2);
    const int hour = number(11, 2);
    const int minute = number(14, 2);
    const int second = number(17, 2);
    const int ms = n == 24 ? number(20, 3) : 0;
    if (year < 1970 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 || minute < 0 ||
        minute > 59 || second < 0 || second > 59 || ms < 0) {
        return std::nullopt;
    }
    static constexpr int monthDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (day > monthDays[month - 1] + (month == 2 && leap ? 1 : 0)) {
        return std::nullopt;
    }
    const qint64 msecs =
        ((daysFromCivil(year, unsigned(month), unsigned(day)) * 24 + hour) * 60 + minute) * 60000 +
        qint64(second) * 1000 + ms;
    return Date(static_cast<double>(msecs - referenceMs) / 1000.0);
}

// A timestamp as the line holds it: the common form from its bytes, anything else through Qt.
std::optional<Date> timestampOf(JsonSkim::Value value) {
    if (const auto bytes = value.plainBytes()) {
        if (const auto common = commonDate(*bytes)) {
            return common;
        }
    }
    return TranscriptParser::date(value.string());
}

} // namespace

std::optional<Date> TranscriptParser::date(const std::optional<QString>& text) {
    if (!text) {
        return std::nullopt;
    }
    if (text->size() == 20 || text->size() == 24) {
        char ascii[24];
        bool plain = true;
        for (qsizetype i = 0; i < text->size(); ++i) {
            const char16_t c = text->at(i).unicode();
            plain = plain && c < 0x80;
            ascii[i] = static_cast<char>(c);
        }
        if (plain) {
            if (const auto common = commonDate(QByteArrayView(ascii, text->size()))) {
                return common;
            }
        }
    }
    // Qt alone accepts more than an internet date-time (a missing zone reads as local time), so
    // the form is checked first. ASCII digits only: \d would take any Unicode digit.
    static const QRegularExpression form(QStringLiteral(
        R"(^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}(\.[0-9]+)?(Z|[+-][0-9]{2}:[0-9]{2})$)"));
    if (!form.match(*text).hasMatch()) {
        return std::nullopt;
    }
    const QDateTime parsed = QDateTime::fromString(*text, Qt::ISODateWithMs);
    if (!parsed.isValid()) {
        return std::nullopt;
    }
    // Whole milliseconds first, so that the reference shift itself adds no rounding.
    return Date(static_cast<double>(parsed.toMSecsSinceEpoch() - referenceMs) / 1000.0);
}

std::optional<TranscriptRecord> TranscriptParser::record(QByteArrayView line) {
    // Values are looked up in `json`, which must stay where it is while they are.
    // The needles come early in the lines that hold them; a long line of thinking or text holds
    // none, and one pass of the needle search over it costs a fraction of reading it.
    if (!mayBeInteresting(line)) {
        return std::nullopt;
    }
    static const JsonSkim::Names names(keys);
    std::optional<JsonSkim> json = JsonSkim::object(line, names);
    if (!json) {
        return std::nullopt;
    }
    const Value object = json->root();

    TranscriptRecord record;
    record.type = object[key::type].string();
    record.sessionID = object[key::sessionId].string();

    if (record.type) {
        if (const auto kind = SessionTitle::kindFromRaw(*record.type)) {
            if (!record.sessionID) {
                return std::nullopt;
            }
            auto text = object[titleKey(*kind)].string();
            if (!text) {
                return std::nullopt;
            }
            record.title = SessionTitle{*record.sessionID, *kind, std::move(*text), std::nullopt};
            return record;
        }
    }

    record.cwd = checkedPath(object[key::cwd].string(), "working directory");
    record.gitBranch = object[key::gitBranch].string();
    record.timestamp = timestampOf(object[key::timestamp]);
    record.promptID = object[key::promptId].string();
    record.isMeta = object[key::isMeta].isTrue();
    record.isSidechain = object[key::isSidechain].isTrue();

    const Value message = object[key::message];
    const Value content = message[key::content];
    const Values items = objects(content);

    for (const Value item : items) {
        if (!item[key::type].is("tool_use")) {
            continue;
        }
        auto id = item[key::id].string();
        auto toolName = item[key::name].string();
        if (!id || !toolName) {
            continue;
        }
        record.toolUses.append(
            ToolUse{std::move(*id), std::move(*toolName),
                    checkedPath(item[key::input][key::file_path].string(), "tool file path")});
    }

    const bool isUser = record.type ? *record.type == QLatin1String("user") : false;
    if (!isUser && !message[key::role].is("user")) {
        return record;
    }

    Values results;
    for (const Value item : items) {
        if (item[key::type].is("tool_result")) {
            results.append(item);
        }
    }
    // Each result's id, read once.
    QVarLengthArray<std::optional<QString>, 8> resultIDs;
    for (const Value result : results) {
        resultIDs.append(result[key::tool_use_id].string());
        if (resultIDs.back()) {
            record.toolResultIDs.append(*resultIDs.back());
        }
    }

    if (results.isEmpty()) {
        if (!record.isMeta && !record.isSidechain) {
            record.promptText = promptText(content);
        }
    } else {
        for (qsizetype i = 0; i < results.size(); ++i) {
            readImages(results[i], resultIDs[i], record);
        }
    }

    std::optional<QString> firstResultID;
    if (!results.isEmpty()) {
        firstResultID = resultIDs.front();
    }
    record.artifact = artifact(object, firstResultID);
    return record;
}

std::optional<TranscriptRecord> TranscriptParser::record(const QString& line) {
    return record(QByteArrayView(line.toUtf8()));
}

QList<TranscriptImage> TranscriptParser::images(const QString& line) {
    const QByteArray bytes = line.toUtf8();
    if (!mayContainImage(bytes)) {
        return {};
    }
    if (auto found = record(QByteArrayView(bytes))) {
        return std::move(found->images);
    }
    return {};
}

} // namespace ostrel
