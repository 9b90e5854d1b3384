#include "OstrelCore/Engine/ImageProbe.h"

#include "Platform/AtomicFile.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>

namespace ostrel::ImageProbe {

std::optional<ImageSource> source(const QByteArray& data) {
    return ImageSource::open(data);
}

std::optional<ImageSource> source(const QUrl& fileURL) {
    if (!fileURL.isLocalFile()) {
        return std::nullopt;
    }
    return ImageSource::openFile(fileURL.toLocalFile(), maxImageBytes);
}

std::optional<QSize> pixelSize(const ImageSource& source) {
    return source.pixelSize();
}

std::optional<QImage> thumbnail(const ImageSource& source, int maxPixel, int minimumSide) {
    const auto size = pixelSize(source);
    if (minimumSide >= 1 && (!size || std::max(size->width(), size->height()) < minimumSide)) {
        return std::nullopt;
    }
    return source.picture(maxPixel, &decodeBudget());
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
    return ImageSource::budget();
}

bool writeJPEG(const QImage& image, const QUrl& to) {
    if (!to.isLocalFile()) {
        return false;
    }
    const auto encoded = encodeJPEG(image);
    return encoded && !AtomicFile::write(to.toLocalFile(), *encoded, 0600).has_value();
}

} // namespace ostrel::ImageProbe
