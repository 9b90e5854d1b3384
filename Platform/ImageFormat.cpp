#include "Platform/ImageFormat.h"

#include "Platform/HeifImage.h"
#include "Platform/ImageFormatParts.h"
#include "Platform/PngImage.h"

#include <QList>
#include <QString>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>
#include <map>

namespace ostrel {

namespace {

using namespace imageFormatParts;
using Kind = ImageFormat::Kind;

// --- PNG ---------------------------------------------------------------------------------------

// The length of the chunk at `at`; nothing unless all of it, its type and its check value
// included, lies within the bytes.
std::optional<quint32> pngChunkLength(const Bytes& in, qint64 at) {
    const auto length = in.be32(at);
    if (!length || *length > 0x7fffffffu || !in.has(at, 12 + qint64(*length))) {
        return std::nullopt;
    }
    return length;
}

ImageFormat png(const Bytes& in) {
    ImageFormat out;
    qint64 at = 8;
    bool header = false;
    bool pixels = false;
    int bitsPerPixel = 0;
    for (qint64 chunks = 0; at < in.size(); ++chunks) {
        const auto length = pngChunkLength(in, at);
        if (!length || chunks >= maxParts) {
            if (!header) {
                return {};
            }
            out.whole = false;
            break;
        }
        const qint64 data = at + 8;
        if (!header) {
            if (!in.is(at + 4, "IHDR") || *length != 13) {
                return {};
            }
            const quint32 width = *in.be32(data);
            const quint32 height = *in.be32(data + 4);
            if (width > PngImage::largestSide || height > PngImage::largestSide) {
                return {};
            }
            const auto size = sizeOf(width, height);
            if (!size) {
                return {};
            }
            out.size = *size;
            const int depth = int(*in.u8(data + 8));
            const int colour = int(*in.u8(data + 9));
            const int channels = colour == 2   ? 3
                                 : colour == 4 ? 2
                                 : colour == 6 ? 4
                                               : 1; // grey and palette: 1
            bitsPerPixel = depth * channels;
            out.interlaced = *in.u8(data + 12) != 0;
            header = true;
        } else if (in.is(at + 4, "IDAT")) {
            pixels = true;
        } else if (in.is(at + 4, "IEND")) {
            break;
        }
        at += 12 + qint64(*length);
    }
    if (!header) {
        return {};
    }
    out.kind = Kind::png;
    out.whole = out.whole && pixels;
    if (out.interlaced) {
        // Qt's reader takes these, whole.
        out.scalesWhileDecoding = false;
        return out;
    }
    out.scalesWhileDecoding = true;
    const qint64 rowBytes = (qint64(out.size.width()) * bitsPerPixel + 7) / 8 + 1;
    // The inflated pixels (whole when small enough, else a batch of rows), a few rows of four
    // bytes a pixel, and a copy of the compressed pixel data when it is split over chunks.
    out.workingBytes = Saturating::add(
        std::min(Saturating::multiply(rowBytes, out.size.height()), PngImage::wholeInflateLimit),
        in.size(), Saturating::multiply(out.size.width(), 4, 4), 128 * 1024);
    return out;
}

// --- JPEG --------------------------------------------------------------------------------------

ImageFormat jpeg(const Bytes& in) {
    struct Component {
        int h = 1;
        int v = 1;
    };
    QList<Component> components;
    QSize size;
    bool progressive = false;
    qint64 at = 2;
    bool whole = true;
    for (qint64 segments = 0;; ++segments) {
        if (segments >= maxParts) {
            if (size.isEmpty()) {
                return {};
            }
            whole = false;
            break;
        }
        const bool segment = in.u8(at) == 0xffu;
        while (in.u8(at) == 0xffu) {
            ++at; // fill bytes
        }
        const auto marker = segment ? in.u8(at++) : std::nullopt;
        if (!marker || *marker == 0xd9) {
            // Cut short, or ended, before any scan.
            if (size.isEmpty()) {
                return {};
            }
            whole = false;
            break;
        }
        if ((*marker >= 0xd0 && *marker <= 0xd7) || *marker == 0x01) {
            continue; // no length
        }
        const auto length = in.be16(at);
        if (!length || *length < 2 || !in.has(at, *length)) {
            if (size.isEmpty()) {
                return {};
            }
            whole = false;
            break;
        }
        const quint32 m = *marker;
        const bool frame = m >= 0xc0 && m <= 0xcf && m != 0xc4 && m != 0xc8 && m != 0xcc;
        if (frame && size.isEmpty()) {
            const auto count = in.u8(at + 7);
            if (!count || *count == 0 || *length < 8 + 3 * *count) {
                return {};
            }
            const auto dims = sizeOf(*in.be16(at + 5), *in.be16(at + 3));
            if (!dims) {
                return {}; // a height given later (DNL) is not read by libjpeg either
            }
            size = *dims;
            progressive = m == 0xc2 || m == 0xc6 || m == 0xca || m == 0xce;
            for (quint32 c = 0; c < *count; ++c) {
                const quint32 factors = *in.u8(at + 9 + 3 * c);
                components.append({std::max(1, int(factors >> 4)), std::max(1, int(factors & 15))});
            }
        } else if (m == 0xda) {
            if (size.isEmpty()) {
                return {};
            }
            // A first scan that does not hold every component makes libjpeg keep the whole
            // picture's coefficients, as a progressive one does.
            const auto inScan = in.u8(at + 2);
            if (!inScan || int(*inScan) < components.size()) {
                progressive = true;
            }
            break;
        }
        at += *length;
    }
    ImageFormat out;
    out.kind = Kind::jpeg;
    out.size = size;
    out.whole = whole;
    out.scalesWhileDecoding = true;
    int hMax = 1;
    int vMax = 1;
    for (const Component& c : components) {
        hMax = std::max(hMax, c.h);
        vMax = std::max(vMax, c.v);
    }
    // Row buffers: a few rows of MCUs over the picture's width, in every component.
    out.workingBytes = Saturating::add(
        Saturating::multiply(size.width(), 16, vMax, 2, components.size()), 256 * 1024);
    if (progressive) {
        // Every 8 × 8 block of every component, 64 coefficients of two bytes each.
        for (const Component& c : components) {
            const qint64 w = (qint64(size.width()) * c.h + hMax - 1) / hMax;
            const qint64 h = (qint64(size.height()) * c.v + vMax - 1) / vMax;
            out.workingBytes = Saturating::add(out.workingBytes,
                                               Saturating::multiply((w + 7) / 8, (h + 7) / 8, 128));
        }
    }
    return out;
}

// --- GIF ---------------------------------------------------------------------------------------

// The sub-blocks that follow an extension or an image; false when one passes the end.
bool skipSubBlocks(const Bytes& in, qint64& at) {
    for (;;) {
        const auto count = in.u8(at);
        if (!count) {
            return false;
        }
        ++at;
        if (*count == 0) {
            return true;
        }
        if (!in.has(at, *count)) {
            return false;
        }
        at += *count;
    }
}

ImageFormat gif(const Bytes& in) {
    if (!in.has(0, 13)) {
        return {};
    }
    // The screen the frames are drawn onto; Qt's reader grows it to hold a frame beyond it.
    const int screenWidth = int(*in.le16(6));
    const int screenHeight = int(*in.le16(8));
    int width = screenWidth;
    int height = screenHeight;
    std::optional<QSize> firstFrame;
    const quint32 flags = *in.u8(10);
    qint64 at = 13;
    if (flags & 0x80) {
        at += 3 * (qint64(2) << (flags & 7));
    }
    int frames = 0;
    bool whole = at <= in.size();
    for (qint64 blocks = 0; whole && at < in.size(); ++blocks) {
        if (blocks >= maxParts) {
            whole = false;
            break;
        }
        const quint32 block = *in.u8(at++);
        if (block == 0x3b) {
            break;
        }
        if (block == 0x21) {
            ++at; // the label
            whole = in.has(at, 0) && skipSubBlocks(in, at);
        } else if (block == 0x2c && in.has(at, 10)) {
            const int left = int(*in.le16(at));
            const int top = int(*in.le16(at + 2));
            const int frameWidth = int(*in.le16(at + 4));
            const int frameHeight = int(*in.le16(at + 6));
            if (!firstFrame) {
                firstFrame = QSize(frameWidth, frameHeight);
            }
            width = std::max(width, left + frameWidth);
            height = std::max(height, top + frameHeight);
            const quint32 local = *in.u8(at + 8);
            at += 9;
            if (local & 0x80) {
                at += 3 * (qint64(2) << (local & 7));
            }
            ++at; // the LZW code size
            whole = in.has(at, 0) && skipSubBlocks(in, at);
            ++frames;
        } else {
            whole = false;
        }
    }
    const auto canvas = sizeOf(width, height);
    auto size = sizeOf(screenWidth, screenHeight);
    if (!size && firstFrame) {
        size = sizeOf(firstFrame->width(), firstFrame->height());
    }
    if (!canvas || !size) {
        return {};
    }
    ImageFormat out;
    out.kind = Kind::gif;
    out.size = *size;
    out.whole = whole && frames > 0;
    out.animated = frames > 1;
    // The frames are drawn onto a screen that grows to hold each, kept beside the picture.
    out.workingBytes = Saturating::multiply(area(*canvas), 8);
    return out;
}

// --- WebP --------------------------------------------------------------------------------------

ImageFormat webp(const Bytes& in) {
    const auto riff = in.le32(4);
    if (!riff || *riff < 4) {
        return {};
    }
    bool whole = in.has(8, *riff);
    const qint64 end = whole ? 8 + qint64(*riff) : in.size();
    std::optional<QSize> size;
    bool lossless = false;
    int frames = 0;
    qint64 chunks = 0;
    // The chunks from `from` to `to`; ANMF frames hold chunks of their own, but no frames. False
    // when one passes the end or is malformed.
    const auto walk = [&](auto&& self, qint64 from, qint64 to, bool inFrame) -> bool {
        qint64 at = from;
        while (at + 8 <= to) {
            const auto length = in.le32(at + 4);
            const qint64 data = at + 8;
            if (!length || ++chunks > maxParts) {
                return false;
            }
            // A chunk cut short still tells the size its header gives.
            const bool passes = qint64(*length) > to - data;
            const qint64 available = passes ? to - data : qint64(*length);
            if (in.is(at, "VP8 ")) {
                // Frame tag, start code, then 14-bit width and height.
                if (available < 10 || !in.is(data + 3, "\x9d\x01\x2a")) {
                    return false;
                }
                if (!size) {
                    size = sizeOf(*in.le16(data + 6) & 0x3fff, *in.le16(data + 8) & 0x3fff);
                }
            } else if (in.is(at, "VP8L")) {
                if (available < 5 || in.u8(data) != 0x2fu) {
                    return false;
                }
                lossless = true;
                const quint32 bits = *in.le32(data + 1);
                if (!size) {
                    size = sizeOf((bits & 0x3fff) + 1, ((bits >> 14) & 0x3fff) + 1);
                }
            } else if (in.is(at, "VP8X")) {
                if (available < 10) {
                    return false;
                }
                size = sizeOf(quint64(*in.le24(data + 4)) + 1, quint64(*in.le24(data + 7)) + 1);
            } else if (in.is(at, "ANMF")) {
                if (inFrame || passes || *length < 16 ||
                    !self(self, data + 16, data + *length, true)) {
                    return false;
                }
                ++frames;
            }
            if (passes) {
                return false;
            }
            at = data + *length + (*length & 1);
        }
        return at <= to;
    };
    whole = walk(walk, 12, end, false) && whole;
    if (!size) {
        return {};
    }
    ImageFormat out;
    out.kind = Kind::webp;
    out.size = *size;
    out.whole = whole;
    out.animated = frames > 1;
    // A lossless picture is decoded whole into a store of its own first; an animation is drawn
    // onto a canvas kept beside the frame.
    out.workingBytes = Saturating::multiply(area(*size), (lossless ? 4 : 0) + (frames > 0 ? 8 : 0));
    return out;
}

// --- BMP ---------------------------------------------------------------------------------------

ImageFormat bmp(const Bytes& in) {
    const auto offset = in.le32(10);
    const auto header = in.le32(14);
    if (!offset || !header) {
        return {};
    }
    std::optional<QSize> size;
    if (*header == 12) {
        size = in.has(14, 12) ? sizeOf(*in.le16(18), *in.le16(20)) : std::nullopt;
    } else if (*header >= 40 && in.has(14, *header)) {
        const auto width = qint32(*in.le32(18));
        const auto height = qint32(*in.le32(22));
        // A negative height stores the rows top down.
        size = width > 0 && height != std::numeric_limits<qint32>::min()
                   ? sizeOf(quint64(width), quint64(height < 0 ? -qint64(height) : height))
                   : std::nullopt;
    }
    if (!size) {
        return {};
    }
    ImageFormat out;
    out.kind = Kind::bmp;
    out.size = *size;
    out.whole = *offset < quint64(in.size());
    return out;
}

// --- TIFF --------------------------------------------------------------------------------------

ImageFormat tiff(const Bytes& in) {
    const bool big = in.is(0, "MM");
    const auto u16 = [&](qint64 at) { return big ? in.be16(at) : in.le16(at); };
    const auto u32 = [&](qint64 at) { return big ? in.be32(at) : in.le32(at); };
    const auto directory = u32(4);
    if (!directory) {
        return {};
    }
    const auto entries = u16(*directory);
    if (!entries || !in.has(*directory, 2 + 12 * qint64(*entries) + 4)) {
        return {};
    }
    // Bytes per value of each field type (0 for types libtiff does not know here).
    const auto typeBytes = [](quint32 type) -> qint64 {
        switch (type) {
        case 1:
        case 2:
        case 6:
        case 7:
            return 1;
        case 3:
        case 8:
            return 2;
        case 4:
        case 9:
        case 11:
        case 13:
            return 4;
        case 5:
        case 10:
        case 12:
            return 8;
        default:
            return 0;
        }
    };
    struct Field {
        quint32 type = 0;
        quint32 count = 0;
        qint64 data = 0; // where the values are
    };
    // The tags read here: size, samples, rows per strip, and where the strips or tiles lie.
    static constexpr quint32 tags[] = {256, 257, 258, 273, 277, 278, 279, 322, 323, 324, 325};
    std::map<quint32, Field> fields;
    bool whole = true;
    for (quint32 i = 0; i < *entries; ++i) {
        const qint64 at = *directory + 2 + 12 * qint64(i);
        Field field{*u16(at + 2), *u32(at + 4), at + 8};
        const qint64 bytes = typeBytes(field.type) * field.count;
        if (bytes > 4) {
            field.data = *u32(at + 8);
            if (!in.has(field.data, bytes)) {
                whole = false; // values that lie past the end
                continue;
            }
        }
        const quint32 tag = *u16(at);
        if (std::find(std::begin(tags), std::end(tags), tag) != std::end(tags)) {
            fields.insert_or_assign(tag, field);
        }
    }
    const auto value = [&](quint32 tag, quint32 index, quint64 otherwise) -> quint64 {
        const auto found = fields.find(tag);
        if (found == fields.end() || index >= found->second.count) {
            return otherwise;
        }
        if (found->second.type == 3) {
            return *u16(found->second.data + 2 * qint64(index));
        }
        if (found->second.type == 4) {
            return *u32(found->second.data + 4 * qint64(index));
        }
        return otherwise;
    };
    const auto size = sizeOf(value(256, 0, 0), value(257, 0, 0));
    if (!size) {
        return {};
    }
    const quint64 samples = std::clamp<quint64>(value(277, 0, 1), 1, 64);
    quint64 bits = 1;
    for (quint32 s = 0; s < samples; ++s) {
        bits = std::max<quint64>(bits, std::min<quint64>(value(258, s, 1), 64));
    }
    const bool tiled = fields.count(322) != 0;
    // Every strip or tile lies within the bytes.
    const quint32 offsetsTag = tiled ? 324 : 273;
    const quint32 countsTag = tiled ? 325 : 279;
    const auto offsets = fields.find(offsetsTag);
    whole = whole && offsets != fields.end() && offsets->second.count > 0 &&
            offsets->second.count <= maxParts;
    for (quint32 i = 0; whole && i < offsets->second.count; ++i) {
        const quint64 start = value(offsetsTag, i, quint64(in.size()) + 1);
        const quint64 length = value(countsTag, i, 0);
        whole = start <= quint64(in.size()) && length <= quint64(in.size()) - start;
    }
    qint64 bufferPixels = 0;
    if (tiled) {
        bufferPixels = Saturating::multiply(qint64(std::min<quint64>(value(322, 0, 0), 1u << 20)),
                                            qint64(std::min<quint64>(value(323, 0, 0), 1u << 20)));
    } else {
        const quint64 rows =
            std::min<quint64>(value(278, 0, quint64(size->height())), quint64(size->height()));
        bufferPixels = Saturating::multiply(qint64(rows), size->width());
    }
    ImageFormat out;
    out.kind = Kind::tiff;
    out.size = *size;
    out.whole = whole;
    // libtiff's strip or tile buffer, raw and decoded.
    out.workingBytes = Saturating::multiply(bufferPixels, qint64(samples), qint64(bits), 2) / 8;
    return out;
}

// --- SVG ---------------------------------------------------------------------------------------

// True when the first element of the text is an "svg" element (with or without a prefix),
// after any XML declaration, comments, processing instructions and document type.
bool rootIsSvg(QStringView text) {
    qsizetype at = 0;
    const auto skipSpace = [&] {
        while (at < text.size() && text[at].isSpace()) {
            ++at;
        }
    };
    for (;;) {
        skipSpace();
        if (text.mid(at).startsWith(u"<?")) {
            const qsizetype close = text.indexOf(u"?>", at);
            if (close < 0) {
                return false;
            }
            at = close + 2;
        } else if (text.mid(at).startsWith(u"<!--")) {
            const qsizetype close = text.indexOf(u"-->", at + 4);
            if (close < 0) {
                return false;
            }
            at = close + 3;
        } else if (text.mid(at).startsWith(u"<!DOCTYPE")) {
            int depth = 0;
            for (; at < text.size(); ++at) {
                if (text[at] == u'[') {
                    ++depth;
                } else if (text[at] == u']') {
                    --depth;
                } else if (text[at] == u'>' && depth <= 0) {
                    break;
                }
            }
            if (at >= text.size()) {
                return false;
            }
            ++at;
        } else if (text.mid(at).startsWith(u"<")) {
            qsizetype end = at + 1;
            while (end < text.size() && !text[end].isSpace() && text[end] != u'>' &&
                   text[end] != u'/') {
                ++end;
            }
            const QStringView name = text.mid(at + 1, end - at - 1);
            return name == u"svg" || name.endsWith(u":svg");
        } else {
            return false;
        }
    }
}

bool isSvg(QByteArrayView head) {
    head = head.first(std::min(head.size(), ImageFormat::headBytes));
    if (head.startsWith("\xef\xbb\xbf")) {
        return rootIsSvg(QString::fromUtf8(head.sliced(3)));
    }
    if (head.startsWith("\xff\xfe") || head.startsWith("\xfe\xff")) {
        const bool little = head.startsWith("\xff\xfe");
        QString text;
        for (qsizetype i = 2; i + 1 < head.size(); i += 2) {
            const auto a = static_cast<uchar>(head[i]);
            const auto b = static_cast<uchar>(head[i + 1]);
            text.append(QChar(little ? ushort(a | (b << 8)) : ushort((a << 8) | b)));
        }
        return rootIsSvg(text);
    }
    return !head.isEmpty() && (head[0] == '<' || QChar(head[0]).isSpace()) &&
           rootIsSvg(QString::fromUtf8(head));
}

} // namespace

ImageFormat::Kind ImageFormat::sniff(QByteArrayView head) {
    if (PngImage::isPng(head)) {
        return Kind::png;
    }
    const Bytes in(head);
    if (in.is(0, "\xff\xd8\xff")) {
        return Kind::jpeg;
    }
    if (in.is(0, "GIF87a") || in.is(0, "GIF89a")) {
        return Kind::gif;
    }
    if (in.is(0, "RIFF") && in.is(8, "WEBP")) {
        return Kind::webp;
    }
    if (in.is(0, "BM")) {
        return Kind::bmp;
    }
    if (in.is(0, "II*\0") || in.is(0, "MM\0*")) {
        return Kind::tiff;
    }
    if (HeifImage::isHeif(head)) {
        return Kind::heif;
    }
    if (isSvg(head)) {
        return Kind::svg;
    }
    return Kind::none;
}

ImageFormat ImageFormat::of(QByteArrayView bytes) {
    const Bytes in(bytes);
    ImageFormat out;
    switch (sniff(bytes)) {
    case Kind::png:
        out = png(in);
        break;
    case Kind::jpeg:
        out = jpeg(in);
        break;
    case Kind::gif:
        out = gif(in);
        break;
    case Kind::webp:
        out = webp(in);
        break;
    case Kind::bmp:
        out = bmp(in);
        break;
    case Kind::tiff:
        out = tiff(in);
        break;
    case Kind::heif:
        out = heif(in);
        break;
    case Kind::svg:
        out.kind = Kind::svg;
        out.workingBytes = Saturating::multiply(in.size(), 8);
        break;
    case Kind::none:
        break;
    }
    out.fileBytes = in.size();
    return out;
}

QByteArray ImageFormat::qtName() const {
    switch (kind) {
    case Kind::png:
        return "png";
    case Kind::jpeg:
        return "jpeg";
    case Kind::gif:
        return "gif";
    case Kind::webp:
        return "webp";
    case Kind::bmp:
        return "bmp";
    case Kind::tiff:
        return "tiff";
    case Kind::svg:
        return "svg";
    case Kind::heif:
    case Kind::none:
        break;
    }
    return {};
}

qint64 ImageFormat::decodeBytes(QSize target) const {
    if (kind == Kind::none) {
        return std::numeric_limits<qint64>::max();
    }
    if (kind == Kind::svg) {
        return Saturating::add(workingBytes, Saturating::multiply(area(target), 4));
    }
    const QSize shown = target.boundedTo(size);
    // The picture as decoded, and, when that is not the size wanted, the copy scaled from it.
    QSize decoded = scalesWhileDecoding ? shown : size;
    if (kind == Kind::jpeg) {
        // libjpeg decodes at the smallest of 1/8 … 8/8 that still covers the target.
        int eighths = 1;
        while (eighths < 8 && (qint64(size.width()) * eighths < qint64(shown.width()) * 8 ||
                               qint64(size.height()) * eighths < qint64(shown.height()) * 8)) {
            ++eighths;
        }
        decoded = QSize(int((qint64(size.width()) * eighths + 7) / 8),
                        int((qint64(size.height()) * eighths + 7) / 8));
    }
    const qint64 copy = decoded == shown ? 0 : Saturating::multiply(area(shown), 4);
    return Saturating::add(workingBytes, Saturating::multiply(area(decoded), 4), copy);
}

bool ImageFormat::decodable(QSize target) const {
    const bool readable = whole || (kind == Kind::png && !interlaced);
    return readable && decodeBytes(target) <= decodeLimit(fileBytes);
}

qint64 ImageFormat::decodeLimit(qint64 fileBytes) {
    return std::clamp(Saturating::multiply(fileBytes, 64), decodeFloor, decodeCeiling);
}

std::optional<QByteArray> ImageFormat::pngText(QByteArrayView bytes, QByteArrayView keyword) {
    if (!PngImage::isPng(bytes)) {
        return std::nullopt;
    }
    const Bytes in(bytes);
    for (qint64 at = 8, chunks = 0; at < in.size() && chunks < maxParts; ++chunks) {
        const auto length = pngChunkLength(in, at);
        if (!length) {
            return std::nullopt;
        }
        const QByteArrayView data = bytes.sliced(at + 8, *length);
        if (in.is(at + 4, "tEXt") && data.size() > keyword.size() && data.startsWith(keyword) &&
            data[keyword.size()] == '\0') {
            return data.sliced(keyword.size() + 1).toByteArray();
        }
        if (in.is(at + 4, "IEND")) {
            break;
        }
        at += 12 + qint64(*length);
    }
    return std::nullopt;
}

} // namespace ostrel
