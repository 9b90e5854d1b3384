#include "Platform/HeifImage.h"
#include "Platform/ImageFormatParts.h"

#include <QByteArray>

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

} // namespace

ImageFormat heif(const Bytes& in) {
    std::optional<QSize> largest;
    // Every coded picture has 8-bit samples, which HeifImage turns into pixels row by row.
    bool eightBit = true;
    const auto grow = [&](const std::optional<QSize>& size) {
        if (size && (!largest || area(*size) > area(*largest))) {
            largest = size;
        }
    };
    // Boxes that hold boxes, and how many bytes come before their first child.
    const auto childrenAt = [&](qint64 at) -> std::optional<qint64> {
        if (in.is(at + 4, "meta")) {
            return 12;
        }
        if (in.is(at + 4, "iprp") || in.is(at + 4, "ipco")) {
            return 8;
        }
        return std::nullopt;
    };
    const auto walk = [&](auto&& self, qint64 from, qint64 to) -> bool {
        qint64 at = from;
        while (at < to) {
            const auto small = in.be32(at);
            if (!small || to - at < 8) {
                return false;
            }
            qint64 length = *small;
            qint64 header = 8;
            if (*small == 1) {
                const auto high = in.be32(at + 8);
                const auto low = in.be32(at + 12);
                if (!high || !low || *high > 0x7fffffffu) {
                    return false;
                }
                length = (qint64(*high) << 32) | *low;
                header = 16;
            } else if (*small == 0) {
                length = to - at;
            }
            if (length < header || length > to - at) {
                return false; // a box that passes the end of what holds it
            }
            if (const auto skip = childrenAt(at)) {
                if (length < *skip || !self(self, at + *skip, at + length)) {
                    return false;
                }
            } else if (in.is(at + 4, "ispe")) {
                if (length < 20) {
                    return false;
                }
                const auto size = sizeOf(*in.be32(at + 12), *in.be32(at + 16));
                if (!size) {
                    return false;
                }
                grow(size);
            } else if (in.is(at + 4, "hvcC")) {
                const auto size = hevcConfigSize(in, at + header, at + length);
                if (!size) {
                    return false;
                }
                grow(size);
                eightBit = eightBit && (*in.u8(at + header + 17) & 7) == 0 &&
                           (*in.u8(at + header + 18) & 7) == 0;
            } else if (in.is(at + 4, "av1C")) {
                grow(av1ConfigSize(in, at + header, at + length));
                const auto flags = in.u8(at + header + 2);
                eightBit = eightBit && flags && (*flags & 0x40) == 0;
            }
            at += length;
        }
        return true;
    };
    const bool whole = walk(walk, 0, in.size()) && largest.has_value();
    const auto declared = HeifImage::size(
        QByteArrayView(reinterpret_cast<const char*>(in.at(0)), qsizetype(in.size())));
    if (!declared) {
        return {};
    }
    ImageFormat out;
    out.kind = ImageFormat::Kind::heif;
    out.size = *declared;
    out.whole = whole;
    // The decoder's own pictures and the planes handed out (a turned picture's twice), for the
    // largest picture the file declares anywhere (an image, a tile or a parameter set); samples of
    // more than eight bits are wider, and turned into RGBA by libheif.
    out.scalesWhileDecoding = true;
    out.workingBytes = area(largest.value_or(*declared)) * (eightBit ? 6 : 11);
    return out;
}

} // namespace ostrel::imageFormatParts
