#include "Platform/SafeSvg.h"

#include "Platform/ImageFormat.h"

#include <QList>
#include <QString>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <utility>

namespace ostrel::SafeSvg {

namespace {

// The renderer decodes a picture given as a "data:…base64," address whole, whatever reader its
// content picks (another drawing, naming files of its own, included): what it takes from the
// drawing's allowance, or nothing when it must not be decoded at all.
std::optional<qint64> embeddedCost(QStringView address) {
    const qsizetype start = address.lastIndexOf(QLatin1String("base64,"));
    if (start < 0) {
        return 0; // not decoded: the renderer reads base64 pictures only
    }
    const QByteArray bytes = QByteArray::fromBase64(address.mid(start + 7).toLatin1());
    // Qt's own reader decodes it: only a whole picture of a kind it reads.
    const ImageFormat format = ImageFormat::of(bytes);
    if (!format.isPicture() || !format.whole || format.qtName().isEmpty()) {
        return std::nullopt;
    }
    return format.decodeBytes(format.size);
}

QStringView localName(QStringView qualified) {
    const qsizetype colon = qualified.lastIndexOf(u':');
    return colon < 0 ? qualified : qualified.mid(colon + 1);
}

// Whether the element must go: it refers to something outside the drawing (anything but "#id"
// within it or a "data:" address the renderer reads as a picture that fits what is left of
// `allowance`). Links stay: nothing follows a link's address when a drawing is drawn.
bool mustCut(const QXmlStreamReader& reader, qint64& allowance) {
    if (localName(reader.name()) == QLatin1String("a")) {
        return false;
    }
    for (const QXmlStreamAttribute& attribute : reader.attributes()) {
        if (localName(attribute.name()) != QLatin1String("href")) {
            continue;
        }
        const QStringView value = attribute.value().trimmed();
        if (value.isEmpty() || value.startsWith(u'#')) {
            continue;
        }
        // The renderer takes "data" in lower case alone for an address that holds its picture.
        if (!value.startsWith(QLatin1String("data:"))) {
            return true;
        }
        const auto cost = embeddedCost(value);
        if (!cost || *cost > allowance) {
            return true;
        }
        allowance -= *cost;
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
template <typename Input> Scan scan(const Input& input, qint64 allowance) {
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
            } else if (mustCut(reader, allowance)) {
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
    // Pictures inside the drawing may take together what one picture file of its size may.
    const qint64 allowance = ImageFormat::decodeLimit(svg.size());
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString text = decoder(svg);
    if (decoder.hasError()) {
        // Another encoding: read as it declares itself, passed only when there is nothing to cut.
        const Scan found = scan(svg, allowance);
        if (!found.readable || !found.cuts.isEmpty()) {
            return std::nullopt;
        }
        return svg;
    }
    const Scan found = scan(text, allowance);
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
