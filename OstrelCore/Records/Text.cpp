#include "OstrelCore/Records/Text.h"

#include <QChar>
#include <QTextBoundaryFinder>

namespace ostrel::Text {

bool isNewline(char32_t c) {
    switch (c) {
    case 0x0A:
    case 0x0B:
    case 0x0C:
    case 0x0D:
    case 0x85:
    case 0x2028:
    case 0x2029:
        return true;
    default:
        return false;
    }
}

bool isBlank(char32_t c) {
    return c == 0x09 || QChar::category(c) == QChar::Separator_Space;
}

QString trimBlanks(const QString& text) {
    const QList<uint> scalars = text.toUcs4();
    qsizetype begin = 0;
    qsizetype end = scalars.size();
    while (begin < end && isBlank(scalars[begin])) {
        ++begin;
    }
    while (end > begin && isBlank(scalars[end - 1])) {
        --end;
    }
    if (begin == 0 && end == scalars.size()) {
        return text;
    }
    return QString::fromUcs4(reinterpret_cast<const char32_t*>(scalars.constData()) + begin,
                             end - begin);
}

QStringList splitLines(const QString& text) {
    QStringList lines;
    QString current;
    const QList<uint> scalars = text.toUcs4();
    for (qsizetype i = 0; i < scalars.size(); ++i) {
        const char32_t c = scalars[i];
        if (isNewline(c)) {
            if (!current.isEmpty()) {
                lines.append(current);
                current.clear();
            }
            continue;
        }
        if (QChar::requiresSurrogates(c)) {
            current.append(QChar(QChar::highSurrogate(c)));
            current.append(QChar(QChar::lowSurrogate(c)));
        } else {
            current.append(QChar(static_cast<char16_t>(c)));
        }
    }
    if (!current.isEmpty()) {
        lines.append(current);
    }
    return lines;
}

qsizetype characterCount(const QString& text) {
    if (text.isEmpty()) {
        return 0;
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1) {
        ++count;
    }
    return count;
}

QString leftCharacters(const QString& text, qsizetype count) {
    if (count <= 0) {
        return {};
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype seen = 0;
    qsizetype position = 0;
    while (seen < count) {
        const qsizetype next = finder.toNextBoundary();
        if (next == -1) {
            return text;
        }
        position = next;
        ++seen;
    }
    return text.left(position);
}

QStringList characters(const QString& text) {
    QStringList out;
    if (text.isEmpty()) {
        return out;
    }
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    qsizetype next = 0;
    while ((next = finder.toNextBoundary()) != -1) {
        if (next > start) {
            out.append(text.mid(start, next - start));
        }
        start = next;
    }
    return out;
}

char32_t firstScalar(const QString& text) {
    if (text.isEmpty()) {
        return 0;
    }
    if (text.size() > 1 && text.at(0).isHighSurrogate() && text.at(1).isLowSurrogate()) {
        return QChar::surrogateToUcs4(text.at(0), text.at(1));
    }
    return text.at(0).unicode();
}

} // namespace ostrel::Text
