#pragma once

#include "OstrelCore/Records/ClosedRange.h"

#include <QHash>
#include <QString>

#include <optional>

namespace ostrel {

// The environment as readers take it: variable name to value.
using Environment = QHash<QString, QString>;

// Readers of environment overrides. None fails: a value that does not read gives the default.
namespace Env {

// The process environment, read once per call.
Environment process();

// The value trimmed of space separators and tabs (line breaks stay); none when absent or blank.
std::optional<QString> string(const QString& name, const Environment& env);

// A decimal whole number ("+"/"-", ASCII digits, nothing else) inside `range`, else `fallback`.
// Out-of-range values are not clamped.
qint64 integer(const QString& name, qint64 fallback, ClosedRange<qint64> range,
               const Environment& env);

// A finite number as the C library reads it in the "C" locale, the whole text consumed, inside
// `range`; else `fallback`.
double decimal(const QString& name, double fallback, ClosedRange<double> range,
               const Environment& env);

// True for "1", "true" or "yes" in any letter case.
bool flag(const QString& name, const Environment& env);

} // namespace Env

} // namespace ostrel
