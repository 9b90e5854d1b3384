#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <compare>

namespace ostrel::TextOrder {

// The one order of texts (ids, names) on the shelf: by the Unicode scalar values of their
// canonically composed (NFC) forms, so that a name typed with a combining accent and the same name
// typed precomposed sort alike and compare equal. UTF-16 code-unit order (QString::operator<) is
// not this order: it puts characters beyond U+FFFF before U+E000..U+FFFF.

// The sort key of a text: the UTF-8 bytes of its NFC form; byte order is scalar order. Worth
// computing once per text when a sort's primary key is the text.
QByteArray key(const QString& text);

std::strong_ordering compareKeys(const QByteArray& a, const QByteArray& b);

// Canonically equivalent texts are equivalent here even when their code units differ.
std::weak_ordering compare(const QString& a, const QString& b);

inline bool less(const QString& a, const QString& b) {
    return compare(a, b) < 0;
}
inline bool equivalent(const QString& a, const QString& b) {
    return compare(a, b) == 0;
}

// Sorts texts ascending in the order above. Texts that are canonically equivalent yet spelled
// differently follow their code units, so the result never depends on the order they came in
// (sets have none).
void sort(QList<QString>& texts);

} // namespace ostrel::TextOrder
