#include "Ostrel/Settings/RelativeDate.h"

#include <array>
#include <cmath>

namespace ostrel::RelativeDate {

namespace {

struct Unit {
    double seconds;
    const char* one;
    const char* many;
};

// Months and years are their average lengths: a status line needs no calendar.
constexpr double day = 86400.0;
constexpr std::array<Unit, 7> units{{
    {365.2425 * day, "yr.", "yr."},
    {365.2425 * day / 12.0, "mo.", "mo."},
    {7 * day, "wk.", "wk."},
    {day, "day", "days"},
    {3600.0, "hr.", "hr."},
    {60.0, "min.", "min."},
    {1.0, "sec.", "sec."},
}};

} // namespace

QString shortText(Date date, Date now) {
    const double delta = now.since(date);
    const double magnitude = std::fabs(delta);
    if (!std::isfinite(magnitude) || magnitude < 1.0) {
        return QStringLiteral("now");
    }
    for (const Unit& unit : units) {
        if (magnitude >= unit.seconds) {
            const double count = std::floor(magnitude / unit.seconds);
            const QString amount = QString::number(count, 'f', 0) + u' ' +
                                   QString::fromLatin1(count == 1 ? unit.one : unit.many);
            return delta > 0 ? amount + QStringLiteral(" ago") : QStringLiteral("in ") + amount;
        }
    }
    return QStringLiteral("now");
}

} // namespace ostrel::RelativeDate
