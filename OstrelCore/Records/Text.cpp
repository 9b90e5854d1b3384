#include "OstrelCore/Records/Text.h"

#include <QChar>
#include <QTextBoundaryFinder>

#include <algorithm>

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

namespace {

// Every blank and line break lies in the Basic Multilingual Plane and is no surrogate, so texts
// are scanned in UTF-16 units: a long prompt is never widened to scalars just to find its ends.
bool isBlankUnit(QChar c) {
    return !c.isSurrogate() && isBlank(c.unicode());
}

bool isNewlineUnit(QChar c) {
    return isNewline(c.unicode());
}

} // namespace

QString wellFormed(QString text) {
    const qsizetype size = text.size();
    const QChar* units = text.constData();
    qsizetype i = 0;
    // Nearly every text has no surrogate at all: it is handed back without a copy.
    while (i < size && !units[i].isSurrogate()) {
        ++i;
    }
    while (i < size) {
        if (units[i].isHighSurrogate() && i + 1 < size && units[i + 1].isLowSurrogate()) {
            i += 2;
            continue;
        }
        if (units[i].isSurrogate()) {
            text[i] = QChar::ReplacementCharacter;
            units = text.constData();
        }
        ++i;
    }
    return text;
}

QString trimBlanks(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlankUnit(text.at(begin))) {
        ++begin;
    }
    while (end > begin && isBlankUnit(text.at(end - 1))) {
        --end;
    }
    if (begin == 0 && end == text.size()) {
        return text;
    }
    return wellFormed(text.mid(begin, end - begin));
}

QStringList splitLines(const QString& text) {
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || isNewlineUnit(text.at(i))) {
            if (i > start) {
                lines.append(wellFormed(text.mid(start, i - start)));
            }
            start = i + 1;
        }
    }
    return lines;
}

QString firstLine(const QString& text, const std::function<bool(const QString&)>& accept) {
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i == text.size() || isNewlineUnit(text.at(i))) {
            if (i > start) {
                QString line = wellFormed(text.mid(start, i - start));
                if (accept(line)) {
                    return line;
                }
            }
            start = i + 1;
        }
    }
    return {};
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
    // A boundary is decided by what comes before it and the unit right after it, so boundaries
    // found before the end of a prefix hold for the whole text: a long text is looked at only as
    // far as the characters asked for reach, not finder state for all of it.
    qsizetype reach = std::max<qsizetype>(256, count * 8);
    for (;;) {
        reach = std::min(reach, text.size());
        if (reach < text.size() && text.at(reach - 1).isHighSurrogate()) {
            ++reach;
        }
        const bool whole = reach == text.size();
        const QStringView prefix = QStringView(text).left(reach);
        QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, prefix);
        qsizetype seen = 0;
        qsizetype position = 0;
        while (seen < count) {
            const qsizetype next = finder.toNextBoundary();
            if (next == -1 || (!whole && next >= reach)) {
                break;
            }
            position = next;
            ++seen;
        }
        if (seen == count) {
            return text.left(position);
        }
        if (whole) {
            return text;
        }
        reach *= 2;
    }
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
