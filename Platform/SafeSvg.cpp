#include "Platform/SafeSvg.h"

#include <QList>
#include <QString>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <utility>

namespace ostrel::SafeSvg {

namespace {

// A reference that leaves the drawing: not "#id" within it, not a "data:" address.
bool leavesDrawing(QStringView value) {
    const QStringView text = value.trimmed();
    return !text.isEmpty() && !text.startsWith(u'#') &&
           !text.startsWith(QLatin1String("data:"), Qt::CaseInsensitive);
}

QStringView localName(QStringView qualified) {
    const qsizetype colon = qualified.lastIndexOf(u':');
    return colon < 0 ? qualified : qualified.mid(colon + 1);
}

bool refersOutside(const QXmlStreamReader& reader) {
    // Nothing follows a link's address when a drawing is drawn.
    if (localName(reader.name()) == QLatin1String("a")) {
        return false;
    }
    for (const QXmlStreamAttribute& attribute : reader.attributes()) {
        if (localName(attribute.name()) == QLatin1String("href") &&
            leavesDrawing(attribute.value())) {
            return true;
        }
    }
    return false;
}

struct Scan {
    bool readable = false;
    // Character ranges [first, second) of the elements to cut out, in document order.
    QList<std::pair<qint64, qint64>> cuts;
};

// Namespaces are not resolved: an "xlink:href" whose prefix was never declared is still a
// reference, and the renderer reads such drawings too.
template <typename Input> Scan scan(const Input& input) {
    Scan out;
    QXmlStreamReader reader(input);
    reader.setNamespaceProcessing(false);
    qint64 tokenStart = 0;
    qint64 cutStart = 0;
    int depthInCut = 0;
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::DTD) {
            for (const QXmlStreamEntityDeclaration& entity : reader.entityDeclarations()) {
                if (!entity.systemId().isEmpty() || !entity.publicId().isEmpty()) {
                    return out;
                }
            }
        } else if (token == QXmlStreamReader::StartElement) {
            if (depthInCut > 0) {
                ++depthInCut;
            } else if (refersOutside(reader)) {
                depthInCut = 1;
                cutStart = tokenStart;
            }
        } else if (token == QXmlStreamReader::EndElement && depthInCut > 0) {
            if (--depthInCut == 0) {
                out.cuts.append({cutStart, reader.characterOffset()});
            }
        }
        tokenStart = reader.characterOffset();
    }
    out.readable = !reader.hasError();
    return out;
}

} // namespace

std::optional<QByteArray> withoutExternalReferences(const QByteArray& svg) {
    if (svg.startsWith("\x1f\x8b")) {
        return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(svg);
    if (decoder.hasError()) {
        // Another encoding: read as it declares itself, passed only when there is nothing to cut.
        const Scan found = scan(svg);
        if (!found.readable || !found.cuts.isEmpty()) {
            return std::nullopt;
        }
        return svg;
    }
    const Scan found = scan(text);
    if (!found.readable) {
        return std::nullopt;
    }
    if (found.cuts.isEmpty()) {
        return svg;
    }
    QString kept;
    kept.reserve(text.size());
    qint64 from = 0;
    for (const auto& [start, end] : found.cuts) {
        kept += QStringView(text).mid(from, start - from);
        from = end;
    }
    kept += QStringView(text).mid(from);
    return kept.toUtf8();
}

} // namespace ostrel::SafeSvg
