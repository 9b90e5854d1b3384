#include "OstrelCore/Records/Env.h"

#include "OstrelCore/Records/Text.h"

#include <QProcessEnvironment>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <locale.h>

namespace ostrel::Env {

Environment process() {
    Environment env;
    const QProcessEnvironment system = QProcessEnvironment::systemEnvironment();
    for (const QString& key : system.keys()) {
        env.insert(key, system.value(key));
    }
    return env;
}

std::optional<QString> string(const QString& name, const Environment& env) {
    const auto it = env.find(name);
    if (it == env.end()) {
        return std::nullopt;
    }
    const QString trimmed = Text::trimBlanks(it.value());
    if (trimmed.isEmpty()) {
        return std::nullopt;
    }
    return trimmed;
}

qint64 integer(const QString& name, qint64 fallback, ClosedRange<qint64> range,
               const Environment& env) {
    const auto text = string(name, env);
    if (!text) {
        return fallback;
    }
    qsizetype i = 0;
    bool negative = false;
    if (text->at(0) == u'+' || text->at(0) == u'-') {
        negative = text->at(0) == u'-';
        i = 1;
    }
    if (i >= text->size()) {
        return fallback;
    }
    // Accumulate as a negative number so that the most negative value still reads.
    qint64 value = 0;
    constexpr qint64 minimum = std::numeric_limits<qint64>::min();
    for (; i < text->size(); ++i) {
        const char16_t c = text->at(i).unicode();
        if (c < u'0' || c > u'9') {
            return fallback;
        }
        const int digit = c - u'0';
        if (value < (minimum + digit) / 10) {
            return fallback;
        }
        value = value * 10 - digit;
    }
    if (!negative) {
        if (value == minimum) {
            return fallback;
        }
        value = -value;
    }
    return range.contains(value) ? value : fallback;
}

double decimal(const QString& name, double fallback, ClosedRange<double> range,
               const Environment& env) {
    const auto text = string(name, env);
    if (!text) {
        return fallback;
    }
    const QByteArray utf8 = text->toUtf8();
    // strtod skips leading white space of its own accord; the whole trimmed text must read.
    if (std::isspace(static_cast<unsigned char>(utf8.front()))) {
        return fallback;
    }
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    char* end = nullptr;
    const double value = strtod_l(utf8.constData(), &end, cLocale);
    if (end != utf8.constData() + utf8.size() || !std::isfinite(value)) {
        return fallback;
    }
    return range.contains(value) ? value : fallback;
}

bool flag(const QString& name, const Environment& env) {
    const auto text = string(name, env);
    if (!text) {
        return false;
    }
    const QString lower = text->toLower();
    return lower == u"1" || lower == u"true" || lower == u"yes";
}

} // namespace ostrel::Env
