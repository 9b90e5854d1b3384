#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace ostrel::Text {

// U+000A, U+000B, U+000C, U+000D, U+0085, U+2028, U+2029.
bool isNewline(char32_t c);
// Space separators (category Zs) and the horizontal tab; line breaks are not among them.
bool isBlank(char32_t c);

// The text with each unpaired surrogate replaced by U+FFFD.
QString wellFormed(QString text);

// Removes blanks (see isBlank) at both ends; a text cut so is made well formed.
QString trimBlanks(const QString& text);

// Cuts at every line break (CR LF counts as one) and drops the empty pieces; pieces keep their
// spaces and are made well formed.
QStringList splitLines(const QString& text);
// The first piece splitLines would give that `accept` takes, found without cutting the rest;
// empty when none is taken.
QString firstLine(const QString& text, const std::function<bool(const QString&)>& accept);

// Number of user-perceived characters (extended grapheme clusters).
qsizetype characterCount(const QString& text);
// The first `count` user-perceived characters.
QString leftCharacters(const QString& text, qsizetype count);

// The user-perceived characters of a text, in order.
QStringList characters(const QString& text);
// The first Unicode scalar of a text (0 for an empty text).
char32_t firstScalar(const QString& text);

// Lower-case by the Unicode mapping.
inline QString lowered(const QString& text) {
    return text.toLower();
}

} // namespace ostrel::Text
