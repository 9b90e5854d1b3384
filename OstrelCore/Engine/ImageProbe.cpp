#include "OstrelCore/Engine/ImageProbe.h"

#include "Platform/AtomicFile.h"
#include "Platform/HeifImage.h"
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

std::optional<QImage> decodeQt(const ImageSource& source, QSize target) {
    QBuffer buffer;
    buffer.setData(source.bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, source.format);
    reader.setDecideFormatFromContent(false);
    reader.setAutoTransform(true);
    // Qt scales before it turns the picture: give the target in stored orientation. A PNG must be
    // inflated whole whatever size is asked for, and Qt's scaled read of one costs more than a
    // full decode followed by one smooth scale (measured: bench_ColdStart thumbs), so PNGs are
    // scaled below; JPEG readers decode straight at a fraction of the size.
    const QSize stored = source.quarterTurn ? target.transposed() : target;
    if (source.storedSize && stored != *source.storedSize && source.format != "png") {
        reader.setScaledSize(stored);
    }
    QImage image;
    if (!reader.read(&image) || image.isNull()) {
        return std::nullopt;
    }
    if (image.size() != target) {
        // A PNG, a reader that ignored the scaled size, or one that turned the picture
        // differently.
        image = image.scaled(boundedSize(image.size(), std::max(target.width(), target.height())),
                             Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return image;
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
    out.quarterTurn = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
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
    if (source.heif) {
        QImage image = HeifImage::thumbnail(source.bytes, maxPixel, maxDecodePixels);
        if (image.isNull()) {
            return std::nullopt;
        }
        return image;
    }
    return decodeQt(source, boundedSize(*size, maxPixel));
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

bool writeJPEG(const QImage& image, const QUrl& to) {
    if (!to.isLocalFile()) {
        return false;
    }
    const auto encoded = encodeJPEG(image);
    return encoded && !AtomicFile::write(to.toLocalFile(), *encoded, 0600).has_value();
}

} // namespace ostrel::ImageProbe
