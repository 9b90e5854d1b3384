#include "HostilePictures.h"

#include "PictureBytes.h"

#include <QFile>
#include <QImage>

#include <libheif/heif.h>
#include <zlib.h>

#include <algorithm>
#include <tuple>
#include <vector>

namespace ostrel::test::HostilePictures {

namespace {

void put32(QByteArray& out, quint32 value) {
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.append(char((value >> shift) & 0xff));
    }
}

void put32At(QByteArray& out, qsizetype at, quint32 value) {
    for (int i = 0; i < 4; ++i) {
        out[at + i] = char((value >> (24 - 8 * i)) & 0xff);
    }
}

void putLe(QByteArray& out, quint32 value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out.append(char((value >> (8 * i)) & 0xff));
    }
}

QImage solid(int width, int height, const QColor& color) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

} // namespace

QByteArray pngClaimingChunk(int side, bool afterPixels, bool interlaced) {
    const auto chunk = [](const char* type, const QByteArray& data, quint32 claimed = 0) {
        QByteArray out;
        put32(out, claimed != 0 ? claimed : quint32(data.size()));
        const QByteArray body = type + data;
        out += body;
        put32(out,
              quint32(crc32(0, reinterpret_cast<const Bytef*>(body.data()), uInt(body.size()))));
        return out;
    };
    QByteArray header;
    put32(header, quint32(side));
    put32(header, quint32(side));
    header += QByteArray("\x08\x02\x00\x00", 4) + char(interlaced ? 1 : 0); // 8-bit RGB
    // Every row (of every Adam7 pass) unfiltered, one colour.
    QByteArray rows;
    const auto addRows = [&](int width, int height) {
        for (int y = 0; width > 0 && y < height; ++y) {
            rows += '\0';
            for (int x = 0; x < width; ++x) {
                rows += QByteArray("\x28\x5a\xa0", 3);
            }
        }
    };
    if (interlaced) {
        constexpr int passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                      {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
        for (const auto& [x0, y0, dx, dy] : passes) {
            addRows((side - x0 + dx - 1) / dx, (side - y0 + dy - 1) / dy);
        }
    } else {
        addRows(side, side);
    }
    // A text chunk that claims almost 2 GiB and holds 400 bytes.
    const QByteArray claiming =
        chunk("tEXt", QByteArray("Comment\0", 8) + QByteArray(392, 'x'), 0x7ffffff0u);
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    png += chunk("IHDR", header);
    png += afterPixels ? QByteArray() : claiming;
    png += chunk("IDAT", qCompress(rows).mid(4)); // a zlib stream without Qt's length prefix
    png += afterPixels ? claiming : QByteArray();
    return png + chunk("IEND", {});
}

QByteArray gifClaimingScreen(int width, int height) {
    QByteArray out("GIF89a");
    putLe(out, quint32(width), 2);
    putLe(out, quint32(height), 2);
    out += QByteArray("\x80\x00\x00", 3);             // a palette of two colours
    out += QByteArray("\xff\x00\x00\x00\x00\xff", 6); // red, blue
    out += QByteArray("\x2c\0\0\0\0\x01\0\x01\0\0", 10);
    out += QByteArray("\x02\x02\x44\x01\x00", 5); // code size 2: clear, 0, end
    out += ';';
    return out;
}

QByteArray webpClaimingSize(int width, int height) {
    QByteArray webp = encoded(solid(1, 1, Qt::black), "webp", 100); // lossless
    const qsizetype at = webp.indexOf("VP8L") + 9;
    quint32 bits = 0;
    for (int i = 0; i < 4; ++i) {
        bits |= quint32(uchar(webp[at + i])) << (8 * i);
    }
    bits = (bits & ~((1u << 28) - 1)) | quint32(width - 1) | (quint32(height - 1) << 14);
    for (int i = 0; i < 4; ++i) {
        webp[at + i] = char((bits >> (8 * i)) & 0xff);
    }
    return webp;
}

QByteArray progressiveJpegClaimingSize(int width, int height) {
    QByteArray jpeg = encoded(solid(16, 16, Qt::gray), "jpeg", 90, true);
    const qsizetype frame = jpeg.indexOf("\xff\xc2");
    jpeg[frame + 5] = char(height >> 8);
    jpeg[frame + 6] = char(height & 0xff);
    jpeg[frame + 7] = char(width >> 8);
    jpeg[frame + 8] = char(width & 0xff);
    return jpeg;
}

QByteArray bmpClaimingSize(quint32 width, quint32 height, qint64 fileBytes) {
    QByteArray out("BM");
    putLe(out, quint32(fileBytes), 4);
    putLe(out, 0, 4);
    putLe(out, 54, 4); // where the pixels would start
    putLe(out, 40, 4);
    putLe(out, width, 4);
    putLe(out, height, 4);
    putLe(out, 1, 2);  // planes
    putLe(out, 24, 2); // bits per pixel
    out += QByteArray(24, '\0');
    return out + QByteArray(std::max<qint64>(0, fileBytes - out.size()), '\0');
}

QByteArray tiffClaimingSize(int width, int height) {
    QByteArray out("II*\0", 4);
    putLe(out, 8, 4);
    const quint16 entries = 9;
    putLe(out, entries, 2);
    const quint32 values = 8 + 2 + entries * 12 + 4; // where the bits-per-sample values go
    const auto field = [&](quint16 tag, quint16 type, quint32 count, quint32 value) {
        putLe(out, tag, 2);
        putLe(out, type, 2);
        putLe(out, count, 4);
        putLe(out, value, 4);
    };
    field(256, 4, 1, quint32(width));
    field(257, 4, 1, quint32(height));
    field(258, 3, 3, values);
    field(259, 3, 1, 1);          // no compression
    field(262, 3, 1, 2);          // RGB
    field(273, 4, 1, values + 6); // the strip
    field(277, 3, 1, 3);
    field(278, 4, 1, quint32(height));
    field(279, 4, 1, 3);
    putLe(out, 0, 4);
    putLe(out, 8, 2);
    putLe(out, 8, 2);
    putLe(out, 8, 2);
    out += QByteArray("\x80\x40\x20", 3);
    return out;
}

std::optional<QByteArray> heicUnderstatingSize(int width, int height) {
    // Grey in 4:2:0 YCbCr, as cameras store their pictures.
    heif_image* image = nullptr;
    heif_image_create(width, height, heif_colorspace_YCbCr, heif_chroma_420, &image);
    const int chromaWidth = (width + 1) / 2;
    const int chromaHeight = (height + 1) / 2;
    for (const auto& [channel, w, h] : {std::tuple{heif_channel_Y, width, height},
                                        std::tuple{heif_channel_Cb, chromaWidth, chromaHeight},
                                        std::tuple{heif_channel_Cr, chromaWidth, chromaHeight}}) {
        heif_image_add_plane(image, channel, w, h, 8);
        int stride = 0;
        uint8_t* plane = heif_image_get_plane(image, channel, &stride);
        for (int y = 0; y < h; ++y) {
            std::fill(plane + qsizetype(y) * stride, plane + qsizetype(y) * stride + w, 128);
        }
    }
    auto heic = encodedHeic(image, 10);
    if (!heic) {
        return std::nullopt;
    }
    QByteArray out = *std::move(heic);
    const qsizetype box = out.indexOf("ispe");
    if (box < 0) {
        return std::nullopt;
    }
    put32At(out, box + 8, 64);
    put32At(out, box + 12, 64);
    return out;
}

QByteArray box(const char* type, const QByteArray& payload) {
    QByteArray out;
    put32(out, quint32(8 + payload.size()));
    return out + type + payload;
}

QByteArray fullBox(const char* type, quint8 version, quint32 flags, const QByteArray& payload) {
    QByteArray head;
    put32(head, (quint32(version) << 24) | (flags & 0xffffff));
    return box(type, head + payload);
}

QByteArray ispe(quint32 width, quint32 height) {
    QByteArray sizes;
    put32(sizes, width);
    put32(sizes, height);
    return fullBox("ispe", 0, 0, sizes);
}

QByteArray hevcConfig(quint32 width, quint32 height, int depth) {
    // The parameter set bit by bit: its NAL header (type 33), one sub-layer, a profile, tier and
    // level of 96 bits, then in Exp-Golomb codes its id, the chroma format (4:2:0) and the size.
    std::vector<bool> bits;
    const auto put = [&](quint64 value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            bits.push_back(((value >> i) & 1) != 0);
        }
    };
    const auto golomb = [&](quint64 value) {
        int zeros = 0;
        while (((value + 1) >> (zeros + 1)) != 0) {
            ++zeros;
        }
        put(0, zeros);
        put(value + 1, zeros + 1);
    };
    put(0x4201, 16);
    put(1, 8);
    for (int i = 0; i < 12; ++i) {
        put(0x11, 8);
    }
    golomb(0);
    golomb(1);
    golomb(width);
    golomb(height);
    put(1, 1);
    while (bits.size() % 8 != 0) {
        bits.push_back(false);
    }
    // Two zero bytes are never followed by a byte below four: an emulation-prevention byte
    // (3) comes between.
    QByteArray nal;
    int zeros = 0;
    for (size_t at = 0; at < bits.size(); at += 8) {
        quint32 byte = 0;
        for (size_t i = 0; i < 8; ++i) {
            byte = (byte << 1) | (bits[at + i] ? 1 : 0);
        }
        if (zeros >= 2 && byte <= 3) {
            nal += char(3);
            zeros = 0;
        }
        nal += char(byte);
        zeros = byte == 0 ? zeros + 1 : 0;
    }
    const char bitsMinus8 = char(0xf8 | ((depth - 8) & 7));
    QByteArray record("\x01\x01\x60\0\0\0\x90\0\0\0\0\0\x5d\xf0\0\xfc\xfd", 17);
    record += bitsMinus8;
    record += bitsMinus8;
    record += QByteArray("\0\0\x0f\x01\xa1\0\x01", 7); // one array of one parameter set
    record += char((nal.size() >> 8) & 0xff);
    record += char(nal.size() & 0xff);
    return box("hvcC", record + nal);
}

QByteArray heifOf(const HeifParts& parts) {
    const auto put16 = [](QByteArray& out, quint32 value) {
        out.append(char((value >> 8) & 0xff));
        out.append(char(value & 0xff));
    };
    const QByteArray ftyp = box("ftyp", QByteArray("heic\0\0\0\0mif1heic", 16));
    QByteArray pitm;
    put16(pitm, parts.primary);
    QByteArray infos;
    put16(infos, quint32(parts.items.size()));
    QByteArray associations;
    put32(associations, quint32(parts.items.size()) + parts.strayAssociations);
    for (const HeifItem& item : parts.items) {
        QByteArray info;
        put16(info, item.id);
        put16(info, 0);
        infos += fullBox("infe", 2, 0, info + item.type.left(4) + '\0');
        put16(associations, item.id);
        associations += char(item.properties.size());
        for (const quint16 place : item.properties) {
            associations += char(place);
        }
    }
    for (quint32 k = 0; k < parts.strayAssociations; ++k) {
        put16(associations, 1000 + k % 60000); // clear of the few real ids
        associations += '\0';
    }
    QByteArray references;
    for (const HeifReference& reference : parts.references) {
        QByteArray ids;
        put16(ids, reference.from);
        put16(ids, quint32(reference.to.size()));
        for (const quint32 to : reference.to) {
            put16(ids, to);
        }
        references += box(reference.type.constData(), ids);
    }
    // Locations of four-byte offsets and lengths, filled in once the media data's place is known.
    const auto located = [&](qint64 mediaData) {
        QByteArray locations("\x44\0", 2);
        QList<const HeifItem*> stored;
        for (const HeifItem& item : parts.items) {
            if (!item.data.isEmpty()) {
                stored.append(&item);
            }
        }
        put16(locations, quint32(stored.size()));
        qint64 at = mediaData;
        for (const HeifItem* item : stored) {
            put16(locations, item->id);
            put16(locations, 0);
            put16(locations, 1);
            put32(locations, quint32(at));
            put32(locations, quint32(item->data.size()));
            at += item->data.size();
        }
        QByteArray properties;
        for (const QByteArray& property : parts.properties) {
            properties += property;
        }
        return fullBox(
            "meta", 0, 0,
            fullBox("hdlr", 0, 0, QByteArray(4, '\0') + "pict" + QByteArray(13, '\0')) +
                fullBox("pitm", 0, 0, pitm) + fullBox("iinf", 0, 0, infos) +
                (references.isEmpty() ? QByteArray() : fullBox("iref", 0, 0, references)) +
                box("iprp", box("ipco", properties) + fullBox("ipma", 0, 0, associations)) +
                fullBox("iloc", 0, 0, locations));
    };
    const qint64 metaBytes = located(0).size();
    QByteArray media;
    for (const HeifItem& item : parts.items) {
        media += item.data;
    }
    return ftyp + located(ftyp.size() + metaBytes + 8) + box("mdat", media);
}

std::optional<HeifParts> heicParts(int width, int height) {
    heif_image* image = nullptr;
    heif_image_create(width, height, heif_colorspace_monochrome, heif_chroma_monochrome, &image);
    heif_image_add_plane(image, heif_channel_Y, width, height, 8);
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image, heif_channel_Y, &stride);
    std::fill(plane, plane + qsizetype(height) * stride, 128);
    const auto heic = encodedHeic(image, 10);
    if (!heic) {
        return std::nullopt;
    }
    // A whole box, from its length before the type to its end.
    const auto whole = [&](const char* type) {
        const qsizetype at = heic->indexOf(type) - 4;
        if (at < 0) {
            return QByteArray();
        }
        const auto* p = reinterpret_cast<const uchar*>(heic->constData() + at);
        const quint32 length = (quint32(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
        return heic->mid(at, length);
    };
    const QByteArray config = whole("hvcC");
    const QByteArray media = whole("mdat");
    if (config.isEmpty() || media.size() <= 8) {
        return std::nullopt;
    }
    HeifParts parts;
    parts.properties = {config, ispe(quint32(width), quint32(height))};
    parts.items = {{1, "hvc1", media.mid(8), {1, 2}}};
    return parts;
}

HeifParts gridOf(HeifParts tile, QSize declared, QSize canvas) {
    QByteArray data("\0\1\0\1", 4); // 32-bit sides, one row of two columns
    put32(data, quint32(canvas.width()));
    put32(data, quint32(canvas.height()));
    tile.properties.append(ispe(quint32(declared.width()), quint32(declared.height())));
    quint32 id = 0;
    for (const HeifItem& item : tile.items) {
        id = std::max(id, item.id + 1);
    }
    tile.items.append({id, "grid", data, {quint16(tile.properties.size())}});
    tile.references.append({"dimg", id, {tile.primary, tile.primary}});
    tile.primary = id;
    return tile;
}

QByteArray heifNested(int levels) {
    QByteArray out = box("ftyp", QByteArray("heic\0\0\0\0mif1heic", 16));
    const quint32 inner = 8u * quint32(levels);
    put32(out, 12 + inner);
    out += QByteArray("meta\0\0\0\0", 8);
    for (int i = 0; i < levels; ++i) {
        put32(out, inner - 8u * quint32(i));
        out += "ipco";
    }
    return out;
}

QString writePrivatePicture(const QString& path, const QColor& color, int side) {
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    file.write(encoded(solid(side, side, color), "png"));
    return path;
}

QByteArray drawingOf(const QByteArray& address, int side) {
    const QByteArray s = QByteArray::number(side);
    return "<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink' "
           "width='" +
           s + "' height='" + s + "' viewBox='0 0 " + s + " " + s + "'><rect width='" + s +
           "' height='" + s + "' fill='#00c000'/><image xlink:href='" + address + "' width='" + s +
           "' height='" + s + "'/></svg>";
}

QByteArray drawingNaming(const QString& path, int side) {
    return drawingOf(path.toUtf8(), side);
}

QByteArray drawingEmbedding(const QByteArray& picture, int side) {
    return drawingOf("data:image/png;base64," + picture.toBase64(), side);
}

int pixelsNear(const QImage& image, const QColor& color, int tolerance) {
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    int count = 0;
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            count += std::abs(qRed(line[x]) - color.red()) <= tolerance &&
                     std::abs(qGreen(line[x]) - color.green()) <= tolerance &&
                     std::abs(qBlue(line[x]) - color.blue()) <= tolerance;
        }
    }
    return count;
}

} // namespace ostrel::test::HostilePictures
