#include "Platform/HeifImage.h"
#include "Platform/ImageFormatParts.h"

#include <QByteArray>

#include <array>
#include <map>
#include <set>
#include <vector>

namespace ostrel::imageFormatParts {

namespace {

// Reads a bit string most significant bit first, as HEVC and AV1 headers are written.
class Bits {
public:
    explicit Bits(QByteArray bytes) : bytes_(std::move(bytes)) {}
    bool failed() const { return failed_; }
    quint64 read(int count) {
        quint64 out = 0;
        for (int i = 0; i < count; ++i) {
            if (position_ >= quint64(bytes_.size()) * 8) {
                failed_ = true;
                return 0;
            }
            const auto byte = static_cast<uchar>(bytes_[qsizetype(position_ / 8)]);
            out = (out << 1) | ((byte >> (7 - position_ % 8)) & 1);
            ++position_;
        }
        return out;
    }
    void skip(int count) {
        for (; count > 0 && !failed_; count -= 32) {
            read(std::min(count, 32));
        }
    }
    // Exp-Golomb code (HEVC's ue(v)).
    quint64 golomb() {
        int zeros = 0;
        while (!failed_ && read(1) == 0) {
            if (++zeros > 31) {
                failed_ = true;
                return 0;
            }
        }
        return ((quint64(1) << zeros) - 1) + read(zeros);
    }

private:
    QByteArray bytes_;
    quint64 position_ = 0;
    bool failed_ = false;
};

// --- HEIF --------------------------------------------------------------------------------------

// An RBSP without its emulation-prevention bytes (00 00 03).
QByteArray unescaped(const uchar* data, qint64 size) {
    QByteArray out;
    out.reserve(size);
    int zeros = 0;
    for (qint64 i = 0; i < size; ++i) {
        if (zeros >= 2 && data[i] == 3) {
            zeros = 0;
            continue;
        }
        zeros = data[i] == 0 ? zeros + 1 : 0;
        out.append(char(data[i]));
    }
    return out;
}

// The picture size an HEVC sequence parameter set declares: what the decoder allocates for.
std::optional<QSize> hevcSize(const uchar* nal, qint64 size) {
    Bits bits(unescaped(nal, size));
    bits.skip(16); // NAL unit header
    bits.skip(4);
    const int subLayers = int(bits.read(3));
    bits.skip(1);
    bits.skip(96); // general profile, tier and level
    bool profile[8] = {};
    bool level[8] = {};
    for (int i = 0; i < subLayers; ++i) {
        profile[i] = bits.read(1) != 0;
        level[i] = bits.read(1) != 0;
    }
    if (subLayers > 0) {
        bits.skip(2 * (8 - subLayers));
    }
    for (int i = 0; i < subLayers; ++i) {
        bits.skip(profile[i] ? 88 : 0);
        bits.skip(level[i] ? 8 : 0);
    }
    bits.golomb(); // sps_seq_parameter_set_id
    if (bits.golomb() == 3) {
        bits.skip(1);
    }
    const quint64 width = bits.golomb();
    const quint64 height = bits.golomb();
    return bits.failed() ? std::nullopt : sizeOf(width, height);
}

// The largest picture an HEVC configuration ("hvcC") declares in its parameter sets.
std::optional<QSize> hevcConfigSize(const Bytes& in, qint64 at, qint64 end) {
    std::optional<QSize> largest;
    const auto arrays = in.u8(at + 22);
    if (!arrays || end - at < 23) {
        return std::nullopt;
    }
    qint64 p = at + 23;
    for (quint32 a = 0; a < *arrays; ++a) {
        const auto type = in.u8(p);
        const auto count = in.be16(p + 1);
        if (!type || !count) {
            return std::nullopt;
        }
        p += 3;
        for (quint32 n = 0; n < *count; ++n) {
            const auto length = in.be16(p);
            if (!length || p + 2 + qint64(*length) > end) {
                return std::nullopt;
            }
            if ((*type & 0x3f) == 33) {
                const auto size = hevcSize(in.at(p + 2), *length);
                if (!size) {
                    return std::nullopt;
                }
                if (!largest || area(*size) > area(*largest)) {
                    largest = size;
                }
            }
            p += 2 + *length;
        }
    }
    return largest;
}

// The largest frame an AV1 configuration ("av1C") allows, from its sequence header.
std::optional<QSize> av1ConfigSize(const Bytes& in, qint64 at, qint64 end) {
    qint64 p = at + 4;
    while (p < end) {
        const quint32 header = *in.u8(p);
        const quint32 type = (header >> 3) & 15;
        qint64 q = p + 1 + ((header & 4) ? 1 : 0);
        quint64 length = quint64(end - q);
        if (header & 2) {
            length = 0;
            for (int i = 0; i < 8; ++i) {
                const auto byte = in.u8(q++);
                if (!byte) {
                    return std::nullopt;
                }
                length |= quint64(*byte & 0x7f) << (7 * i);
                if (!(*byte & 0x80)) {
                    break;
                }
            }
        }
        if (q > end || length > quint64(end - q)) {
            return std::nullopt;
        }
        if (type == 1) {
            Bits bits(QByteArray(reinterpret_cast<const char*>(in.at(q)), qsizetype(length)));
            bits.skip(4); // profile, still picture
            if (bits.read(1) != 0) {
                bits.skip(5); // reduced header: one level
            } else {
                int delayBits = 0;
                bool decoderModel = false;
                if (bits.read(1) != 0) { // timing info
                    bits.skip(64);
                    if (bits.read(1) != 0) {
                        int zeros = 0; // uvlc
                        while (!bits.failed() && bits.read(1) == 0 && zeros < 32) {
                            ++zeros;
                        }
                        bits.skip(zeros);
                    }
                    decoderModel = bits.read(1) != 0;
                    if (decoderModel) {
                        delayBits = int(bits.read(5)) + 1;
                        bits.skip(32 + 5 + 5);
                    }
                }
                const bool displayDelay = bits.read(1) != 0;
                const int points = int(bits.read(5)) + 1;
                for (int i = 0; i < points && !bits.failed(); ++i) {
                    bits.skip(12);
                    if (bits.read(5) > 7) {
                        bits.skip(1);
                    }
                    if (decoderModel && bits.read(1) != 0) {
                        bits.skip(2 * delayBits + 1);
                    }
                    if (displayDelay && bits.read(1) != 0) {
                        bits.skip(4);
                    }
                }
            }
            const int widthBits = int(bits.read(4)) + 1;
            const int heightBits = int(bits.read(4)) + 1;
            const quint64 width = bits.read(widthBits) + 1;
            const quint64 height = bits.read(heightBits) + 1;
            return bits.failed() ? std::nullopt : sizeOf(width, height);
        }
        p = q + qint64(length);
    }
    return std::nullopt;
}

constexpr quint32 fourcc(const char (&text)[5]) {
    return (quint32(uchar(text[0])) << 24) | (quint32(uchar(text[1])) << 16) |
           (quint32(uchar(text[2])) << 8) | quint32(uchar(text[3]));
}

// Images made from other images ("grid", "iden", "iovl") may be made from such images in turn;
// real files go two steps deep. A chain longer than this, a loop among them included, is refused.
constexpr int maxDerivation = 8;

// What one property of the property container tells about the decode.
struct Property {
    std::optional<QSize> size; // an extent, or the largest picture a coded stream declares
    bool wide = false;         // a coded stream of more than eight bits a sample
    bool broken = false;       // an extent or a configuration that does not read
};

struct Item {
    quint32 type = 0;
    std::vector<quint16> properties; // 1-based places in the property container
};

// Where an item's bytes lie: in the file (method 0) or in the "idat" box (method 1).
struct Location {
    quint32 method = 0;
    std::vector<std::pair<qint64, qint64>> extents; // offset and length; 0 runs to the end
};

struct Reference {
    quint32 type = 0;
    quint32 from = 0;
    quint32 to = 0;
};

// What the "meta" box says about the images: which is the primary one, what each is made from,
// and the properties and bytes of each.
struct Meta {
    std::optional<quint32> primary;
    std::map<quint32, Item> items;
    std::vector<Property> properties;
    std::vector<Reference> references;
    std::map<quint32, Location> locations;
    std::optional<std::pair<qint64, qint64>> data; // the "idat" box's payload
    qint64 parts = 0;
};

// Reads one box's fields in order; any read past the box's end fails the whole box.
class Fields {
public:
    Fields(const Bytes& in, qint64 at, qint64 end) : in_(in), at_(at), end_(end) {}
    bool failed() const { return failed_; }
    quint64 read(int bytes) {
        if (failed_ || bytes > end_ - at_) {
            failed_ = true;
            return 0;
        }
        quint64 out = 0;
        for (int i = 0; i < bytes; ++i) {
            out = (out << 8) | *in_.u8(at_ + i);
        }
        at_ += bytes;
        return out;
    }
    quint32 read32(int bytes) { return quint32(read(bytes)); }

private:
    const Bytes& in_;
    qint64 at_;
    qint64 end_;
    bool failed_ = false;
};

// A full box's version and flags.
std::pair<quint32, quint32> versionAndFlags(Fields& f) {
    const quint32 word = f.read32(4);
    return {word >> 24, word & 0xffffff};
}

// The property at `at`, `length` bytes with a header of `header`.
Property propertyAt(const Bytes& in, quint32 type, qint64 at, qint64 header, qint64 length) {
    Property out;
    if (type == fourcc("ispe")) {
        Fields f(in, at + header, at + length);
        versionAndFlags(f);
        const quint64 width = f.read(4);
        const quint64 height = f.read(4);
        out.size = f.failed() ? std::nullopt : sizeOf(width, height);
        out.broken = !out.size;
        return out;
    }
    if (type == fourcc("hvcC")) {
        out.size = hevcConfigSize(in, at + header, at + length);
        out.broken = !out.size;
        out.wide = out.size &&
                   ((*in.u8(at + header + 17) & 7) != 0 || (*in.u8(at + header + 18) & 7) != 0);
        return out;
    }
    if (type == fourcc("av1C")) {
        out.size = av1ConfigSize(in, at + header, at + length);
        const auto flags = in.u8(at + header + 2);
        out.wide = !flags || (*flags & 0x40) != 0;
    }
    return out;
}

// Reads the leaf boxes of the "meta" box that tell the images apart. False when one is
// malformed or holds more parts than maxParts.
bool readInfe(Fields& f, Meta& meta) {
    const auto [version, flags] = versionAndFlags(f);
    if (version < 2) {
        return !f.failed(); // no item type: not an image
    }
    const quint32 id = f.read32(version == 2 ? 2 : 4);
    f.read(2); // protection
    const quint32 type = f.read32(4);
    if (f.failed()) {
        return false;
    }
    meta.items[id].type = type;
    return true;
}

bool readReference(Fields& f, quint32 type, quint32 idBytes, Meta& meta) {
    const quint32 from = f.read32(int(idBytes));
    const quint64 count = f.read(2);
    for (quint64 i = 0; i < count && !f.failed(); ++i) {
        const quint32 to = f.read32(int(idBytes));
        if (++meta.parts > maxParts) {
            return false;
        }
        meta.references.push_back({type, from, to});
    }
    return !f.failed();
}

bool readAssociations(Fields& f, Meta& meta) {
    const auto [version, flags] = versionAndFlags(f);
    const quint64 entries = f.read(4);
    for (quint64 e = 0; e < entries && !f.failed(); ++e) {
        // An entry that lists nothing still takes a table entry.
        if (++meta.parts > maxParts) {
            return false;
        }
        const quint32 id = f.read32(version < 1 ? 2 : 4);
        const quint64 count = f.read(1);
        std::vector<quint16>& places = meta.items[id].properties;
        for (quint64 i = 0; i < count && !f.failed(); ++i) {
            const quint64 place = (flags & 1) != 0 ? f.read(2) & 0x7fff : f.read(1) & 0x7f;
            if (++meta.parts > maxParts) {
                return false;
            }
            places.push_back(quint16(place));
        }
    }
    return !f.failed();
}

bool readLocations(Fields& f, Meta& meta) {
    const auto [version, flags] = versionAndFlags(f);
    const quint32 sizes = f.read32(2);
    const int offsetBytes = int(sizes >> 12);
    const int lengthBytes = int((sizes >> 8) & 15);
    const int baseBytes = int((sizes >> 4) & 15);
    const int indexBytes = version >= 1 ? int(sizes & 15) : 0;
    const quint64 count = f.read(version < 2 ? 2 : 4);
    for (quint64 i = 0; i < count && !f.failed(); ++i) {
        if (++meta.parts > maxParts) {
            return false;
        }
        const quint32 id = f.read32(version < 2 ? 2 : 4);
        Location location;
        if (version >= 1) {
            location.method = f.read32(2) & 15;
        }
        f.read(2); // data reference
        const quint64 base = f.read(baseBytes);
        const quint64 extents = f.read(2);
        for (quint64 x = 0; x < extents && !f.failed(); ++x) {
            f.read(indexBytes);
            const quint64 offset = f.read(offsetBytes);
            const quint64 length = f.read(lengthBytes);
            if (++meta.parts > maxParts) {
                return false;
            }
            const quint64 far = quint64(Saturating::largest);
            location.extents.emplace_back(
                Saturating::add(qint64(std::min(base, far)), qint64(std::min(offset, far))),
                qint64(std::min(length, far)));
        }
        meta.locations[id] = std::move(location);
    }
    return !f.failed();
}

} // namespace

ImageFormat heif(const Bytes& in) {
    Meta meta;
    bool whole = true;
    // The boxes not yet ended, outermost first; the file itself is the first.
    struct Open {
        quint32 type = 0;
        qint64 end = 0;
        quint32 version = 0;
    };
    std::array<Open, maxDepth> open{};
    int depth = 0;
    open[0] = {0, in.size(), 0};
    bool sawProperties = false;
    const auto within = [&](std::initializer_list<quint32> path) {
        if (depth != int(path.size())) {
            return false;
        }
        int level = 1;
        for (const quint32 type : path) {
            if (open[size_t(level++)].type != type) {
                return false;
            }
        }
        return true;
    };
    qint64 at = 0;
    for (qint64 boxes = 0;; ++boxes) {
        while (depth > 0 && at >= open[size_t(depth)].end) {
            if (open[size_t(depth)].type == fourcc("ipco") &&
                within({fourcc("meta"), fourcc("iprp"), fourcc("ipco")})) {
                sawProperties = true;
            }
            --depth;
        }
        const qint64 to = open[size_t(depth)].end;
        if (at >= to) {
            break;
        }
        if (boxes >= maxParts) {
            return {};
        }
        const auto small = in.be32(at);
        if (!small || to - at < 8) {
            whole = false;
            break;
        }
        qint64 length = *small;
        qint64 header = 8;
        if (*small == 1) {
            const auto high = in.be32(at + 8);
            const auto low = in.be32(at + 12);
            if (!high || !low || *high > 0x7fffffffu) {
                whole = false;
                break;
            }
            length = (qint64(*high) << 32) | *low;
            header = 16;
        } else if (*small == 0) {
            length = to - at;
        }
        if (length < header || length > to - at) {
            whole = false; // a box that passes the end of what holds it
            break;
        }
        const quint32 type = *in.be32(at + 4);
        Fields fields(in, at + header, at + length);
        bool read = true;
        if (within({fourcc("meta"), fourcc("iprp"), fourcc("ipco")}) && !sawProperties) {
            read = ++meta.parts <= maxParts;
            if (read) {
                meta.properties.push_back(propertyAt(in, type, at, header, length));
            }
        } else if (within({fourcc("meta"), fourcc("iinf")}) && type == fourcc("infe")) {
            read = ++meta.parts <= maxParts && readInfe(fields, meta);
        } else if (within({fourcc("meta"), fourcc("iref")})) {
            read = readReference(fields, type, open[size_t(depth)].version == 0 ? 2 : 4, meta);
        } else if (within({fourcc("meta"), fourcc("iprp")}) && type == fourcc("ipma")) {
            read = readAssociations(fields, meta);
        } else if (within({fourcc("meta")}) && type == fourcc("pitm")) {
            const quint32 version = versionAndFlags(fields).first;
            meta.primary = fields.read32(version == 0 ? 2 : 4);
            read = !fields.failed();
        } else if (within({fourcc("meta")}) && type == fourcc("iloc")) {
            read = readLocations(fields, meta);
        } else if (within({fourcc("meta")}) && type == fourcc("idat")) {
            meta.data = {at + header, length - header};
        }
        if (!read) {
            whole = false;
            break;
        }
        // Boxes that hold boxes, and what comes before their first child.
        qint64 skip = -1;
        quint32 version = 0;
        if (type == fourcc("iprp") || type == fourcc("ipco")) {
            skip = 0;
        } else if (type == fourcc("meta") || type == fourcc("iref") || type == fourcc("iinf")) {
            Fields full(in, at + header, at + length);
            version = versionAndFlags(full).first;
            skip = type != fourcc("iinf") ? 4 : version == 0 ? 6 : 8;
        }
        if (skip < 0) {
            at += length;
            continue;
        }
        if (depth + 1 >= maxDepth) {
            return {};
        }
        if (length - header < skip) {
            whole = false;
            break;
        }
        open[size_t(++depth)] = {type, at + length, version};
        at += header + skip;
    }

    // The primary image and every image it is made from (tiles, the images an overlay or a
    // derivation takes), with the auxiliary images (alpha) of each: what libheif decodes.
    std::set<quint32> decoded;
    if (meta.primary) {
        std::set<quint32> level{*meta.primary};
        for (int step = 0; !level.empty(); ++step) {
            if (step > maxDerivation) {
                return {};
            }
            decoded.insert(level.begin(), level.end());
            std::set<quint32> next;
            for (const Reference& r : meta.references) {
                if (r.type == fourcc("dimg") && level.count(r.from) != 0) {
                    next.insert(r.to);
                } else if (r.type == fourcc("auxl") && level.count(r.to) != 0) {
                    next.insert(r.from);
                }
            }
            level = std::move(next);
        }
    }
    // The first bytes of an item, wherever they lie.
    const auto head = [&](quint32 id, qint64 count) -> std::optional<QByteArray> {
        const auto found = meta.locations.find(id);
        if (found == meta.locations.end() || found->second.method > 1 ||
            (found->second.method == 1 && !meta.data)) {
            return std::nullopt;
        }
        const qint64 base = found->second.method == 1 ? meta.data->first : 0;
        const qint64 limit = found->second.method == 1 ? meta.data->second : in.size();
        QByteArray out;
        for (const auto& [offset, length] : found->second.extents) {
            if (offset > limit) {
                return std::nullopt;
            }
            const qint64 size = length == 0 ? limit - offset : length;
            const qint64 take = std::min(size, count - out.size());
            if (size > limit - offset || !in.has(base + offset, take)) {
                return std::nullopt;
            }
            out.append(reinterpret_cast<const char*>(in.at(base + offset)), qsizetype(take));
            if (out.size() == count) {
                break;
            }
        }
        return out;
    };
    // The canvas a grid or an overlay is drawn onto, as its bytes give it.
    const auto canvas = [&](quint32 id, quint32 type) -> std::optional<QSize> {
        const qint64 before = type == fourcc("grid") ? 4 : 10;
        const auto bytes = head(id, before + 8);
        if (!bytes || bytes->size() < before + 4) {
            return std::nullopt;
        }
        const Bytes data(*bytes);
        const bool wide = (*data.u8(1) & 1) != 0;
        if (wide && bytes->size() < before + 8) {
            return std::nullopt;
        }
        return wide ? sizeOf(*data.be32(before), *data.be32(before + 4))
                    : sizeOf(*data.be16(before), *data.be16(before + 2));
    };
    std::optional<QSize> largest;
    bool eightBit = true;
    const auto grow = [&](const std::optional<QSize>& size) {
        if (size && (!largest || area(*size) > area(*largest))) {
            largest = size;
        }
    };
    for (const quint32 id : decoded) {
        const auto item = meta.items.find(id);
        if (item == meta.items.end()) {
            continue;
        }
        for (const quint16 place : item->second.properties) {
            if (place >= 1 && place <= meta.properties.size()) {
                const Property& property = meta.properties[place - 1];
                grow(property.size);
                eightBit = eightBit && !property.wide;
                whole = whole && !property.broken;
            }
        }
        if (item->second.type == fourcc("grid") || item->second.type == fourcc("iovl")) {
            grow(canvas(id, item->second.type));
        }
    }
    whole = whole && largest.has_value();
    const auto declared = HeifImage::size(
        QByteArrayView(reinterpret_cast<const char*>(in.at(0)), qsizetype(in.size())));
    if (!declared) {
        return {};
    }
    grow(declared);
    ImageFormat out;
    out.kind = ImageFormat::Kind::heif;
    out.size = *declared;
    out.whole = whole;
    // The decoder's own pictures and the planes handed out (a turned picture's twice), for the
    // largest picture the primary image is made of (its own extent, a tile's, a grid's or an
    // overlay's canvas, or what a coded stream declares); samples of more than eight bits are
    // wider, and turned into RGBA by libheif.
    out.scalesWhileDecoding = true;
    out.workingBytes = Saturating::multiply(area(*largest), eightBit ? 6 : 11);
    return out;
}

} // namespace ostrel::imageFormatParts
