#include "OstrelCore/Engine/ImageProbe.h"

#include "Platform/AtomicFile.h"
#include "Platform/BoxScaler.h"
#include "Platform/HeifImage.h"
#include "Platform/PngImage.h"
#include "Platform/SafeSvg.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QImageWriter>
#include <QPainter>

#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel::ImageProbe {

namespace {

// The size a picture of `size` takes when its longer side is cut to `maxPixel`.
QSize boundedSize(QSize size, int maxPixel) {
    const int longer = std::max(size.width(), size.height());
    if (longer <= maxPixel) {
        return size;
    }
    const double scale = static_cast<double>(maxPixel) / longer;
    return QSize(std::max(1, static_cast<int>(std::round(size.width() * scale))),
                 std::max(1, static_cast<int>(std::round(size.height() * scale))));
}

// Reads a regular file whole with plain reads, refusing anything larger than `limit`.
std::optional<QByteArray> readBounded(const QString& path, qint64 limit) {
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > limit) {
        ::close(fd);
        return std::nullopt;
    }
    QByteArray out;
    out.resize(static_cast<qsizetype>(st.st_size));
    qsizetype filled = 0;
    bool failed = false;
    while (filled < out.size()) {
        const ssize_t n = ::read(fd, out.data() + filled, static_cast<size_t>(out.size() - filled));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            failed = true;
            break;
        }
        if (n == 0) {
            break; // shortened while reading: keep what there is
        }
        filled += n;
    }
    ::close(fd);
    if (failed) {
        return std::nullopt;
    }
    out.truncate(filled);
    return out;
}

// A picture decoded whole (or at a fraction of its size where the reader can) by Qt's readers,
// then brought to `target` on this thread.
std::optional<QImage> decodeQt(const ImageSource& source, QSize target) {
    QBuffer buffer;
    buffer.setData(source.bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, source.format);
    reader.setDecideFormatFromContent(false);
    reader.setAutoTransform(true);
    // Qt scales before it turns the picture: give the target in stored orientation. Only readers
    // that decode straight at a smaller size (JPEG) are asked to: for the others Qt would scale a
    // whole decoded picture on its own thread pool.
    const QSize stored = source.quarterTurn ? target.transposed() : target;
    const qint64 whole =
        static_cast<qint64>(source.storedSize->width()) * source.storedSize->height() * 4;
    const bool scaledRead = stored != *source.storedSize &&
                            reader.supportsOption(QImageIOHandler::ScaledSize) &&
                            source.format != "png";
    // A scaled read decodes at most about twice the target's sides.
    const qint64 needed =
        scaledRead ? std::min<qint64>(whole, qint64(target.width()) * target.height() * 16 * 2)
                   : whole;
    const MemoryBudget::Hold hold = decodeBudget().acquire(needed);
    if (scaledRead) {
        reader.setScaledSize(stored);
    }
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        return std::nullopt;
    }
    if (image.size() == target) {
        return image;
    }
    // Not scaled while read, scaled to another size, or turned differently.
    const QSize fit = boundedSize(image.size(), std::max(target.width(), target.height()));
    if (fit.width() > image.width() || fit.height() > image.height()) {
        return image.scaled(fit, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return BoxScaler::scaled(image, fit);
}

} // namespace

std::optional<ImageSource> source(const QByteArray& data) {
    if (data.isEmpty()) {
        return std::nullopt;
    }
    ImageSource out;
    out.bytes = data;
    if (HeifImage::isHeif(data)) {
        out.heif = true;
        out.storedSize = HeifImage::size(data);
        if (!out.storedSize) {
            return std::nullopt; // a HEIF header that libheif cannot open
        }
        return out;
    }
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    if (!reader.canRead()) {
        return std::nullopt;
    }
    out.format = reader.format();
    if (out.format == "svg" || out.format == "svgz") {
        // A drawing may name other pictures of the user's; the reader would draw them in.
        auto drawing = SafeSvg::withoutExternalReferences(data);
        if (!drawing) {
            return std::nullopt;
        }
        if (*drawing != data) {
            return source(*drawing);
        }
    }
    const QSize size = reader.size();
    if (size.isValid() && size.width() > 0 && size.height() > 0) {
        out.storedSize = size;
    }
    const QImageIOHandler::Transformations transformation = reader.transformation();
    out.quarterTurn = transformation.testFlag(QImageIOHandler::TransformationRotate90);
    out.transformed = transformation != QImageIOHandler::TransformationNone;
    return out;
}

std::optional<ImageSource> source(const QUrl& fileURL) {
    if (!fileURL.isLocalFile()) {
        return std::nullopt;
    }
    const auto bytes = readBounded(fileURL.toLocalFile(), maxImageBytes);
    if (!bytes) {
        return std::nullopt;
    }
    return source(*bytes);
}

std::optional<QSize> pixelSize(const ImageSource& source) {
    if (!source.storedSize) {
        return std::nullopt;
    }
    return source.quarterTurn ? source.storedSize->transposed() : *source.storedSize;
}

std::optional<QImage> thumbnail(const ImageSource& source, int maxPixel, int minimumSide) {
    const auto size = pixelSize(source);
    if (minimumSide >= 1 && (!size || std::max(size->width(), size->height()) < minimumSide)) {
        return std::nullopt;
    }
    if (!size || maxPixel < 1) {
        return std::nullopt; // no bounded decode without a size
    }
    if (static_cast<qint64>(size->width()) * size->height() > maxDecodePixels) {
        return std::nullopt;
    }
    const QSize target = boundedSize(*size, maxPixel);
    if (source.heif) {
        // libheif decodes the whole picture (as RGBA, from planes of its own).
        const MemoryBudget::Hold hold =
            decodeBudget().acquire(static_cast<qint64>(size->width()) * size->height() * 6);
        QImage image = HeifImage::thumbnail(source.bytes, maxPixel, maxDecodePixels);
        if (image.isNull()) {
            return std::nullopt;
        }
        return image;
    }
    if (source.format == "png" && !source.transformed) {
        bool interlaced = false;
        QImage image = PngImage::thumbnail(source.bytes, target, &interlaced, &decodeBudget());
        if (!image.isNull()) {
            return image;
        }
        if (!interlaced) {
            return std::nullopt;
        }
    }
    return decodeQt(source, target);
}

std::optional<QImage> thumbnail(const QUrl& at, int maxPixel, int minimumSide) {
    const auto src = source(at);
    if (!src) {
        return std::nullopt;
    }
    return thumbnail(*src, maxPixel, minimumSide);
}

bool writeThumbnail(const ImageSource& source, const QUrl& to, int maxPixel) {
    const auto image = thumbnail(source, maxPixel, 0);
    return image && writeJPEG(*image, to);
}

std::optional<QByteArray> thumbnailJPEG(const ImageSource& source, int maxPixel) {
    const auto image = thumbnail(source, maxPixel, 0);
    if (!image) {
        return std::nullopt;
    }
    return encodeJPEG(*image);
}

std::optional<QByteArray> encodeJPEG(const QImage& image) {
    if (image.isNull()) {
        return std::nullopt;
    }
    QImage opaque;
    if (image.hasAlphaChannel()) {
        opaque = QImage(image.size(), QImage::Format_RGB32);
        opaque.fill(Qt::white);
        QPainter painter(&opaque);
        painter.drawImage(0, 0, image);
    } else {
        opaque = image;
    }
    QByteArray encoded;
    QBuffer buffer(&encoded);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(jpegQuality);
    if (!writer.write(opaque)) {
        return std::nullopt;
    }
    buffer.close();
    return encoded;
}

MemoryBudget& decodeBudget() {
    static MemoryBudget budget(decodeBudgetBytes);
    return budget;
}

bool writeJPEG(const QImage& image, const QUrl& to) {
    if (!to.isLocalFile()) {
        return false;
    }
    const auto encoded = encodeJPEG(image);
    return encoded && !AtomicFile::write(to.toLocalFile(), *encoded, 0600).has_value();
}

} // namespace ostrel::ImageProbe
