#include "Platform/ImageSource.h"

#include "Platform/BoxScaler.h"
#include "Platform/Descriptors.h"
#include "Platform/HeifImage.h"
#include "Platform/PngImage.h"
#include "Platform/SafeSvg.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>
#include <QMovie>
#include <QPainter>
#include <QSvgRenderer>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

namespace {

// A reader of Qt's for the format the bytes hold, which never picks another by content.
struct Reader {
    QBuffer buffer;
    QImageReader reader;
    explicit Reader(const ImageSource& source) {
        buffer.setData(source.bytes);
        buffer.open(QIODevice::ReadOnly);
        reader.setDevice(&buffer);
        reader.setFormat(source.format.qtName());
        reader.setDecideFormatFromContent(false);
        reader.setAutoTransform(true);
    }
};

// The picture decoded by Qt's reader (at a fraction of its size where the reader can), then
// brought to `target` on this thread.
std::optional<QImage> decodeQt(const ImageSource& source, QSize target) {
    Reader open(source);
    QImageReader& reader = open.reader;
    // Qt scales before it turns the picture: give the target in stored orientation. Only readers
    // that decode straight at a smaller size are asked to: for the others Qt would scale a whole
    // decoded picture on its own thread pool.
    const QSize stored = source.quarterTurn ? target.transposed() : target;
    if (source.format.scalesWhileDecoding && stored != *source.storedSize) {
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
    const QSize fit = BoxScaler::bounded(image.size(), std::max(target.width(), target.height()));
    if (fit.width() > image.width() || fit.height() > image.height()) {
        return image.scaled(fit, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return BoxScaler::scaled(image, fit);
}

} // namespace

std::optional<QByteArray> ImageSource::readFile(const QString& path, qint64 limit) {
    const QByteArray native = QFile::encodeName(path);
    const int fd = Descriptors::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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

ImageFormat::Kind ImageSource::sniffFile(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return ImageFormat::Kind::none;
    }
    return ImageFormat::sniff(file.read(ImageFormat::headBytes));
}

MemoryBudget& ImageSource::budget() {
    static MemoryBudget shared(budgetBytes);
    return shared;
}

std::optional<ImageSource> ImageSource::open(const QByteArray& bytes) {
    ImageSource out;
    out.format = ImageFormat::of(bytes);
    if (out.format.kind == ImageFormat::Kind::none) {
        return std::nullopt;
    }
    if (out.isDrawing()) {
        auto drawing = SafeSvg::withoutExternalReferences(bytes);
        if (!drawing) {
            return std::nullopt;
        }
        out.bytes = *std::move(drawing);
        const QSvgRenderer renderer(out.bytes);
        if (!renderer.isValid()) {
            return std::nullopt;
        }
        if (!renderer.defaultSize().isEmpty()) {
            out.storedSize = renderer.defaultSize();
        }
        return out;
    }
    out.bytes = bytes;
    if (out.isHeif() || !out.format.whole) {
        // libheif's size is turned and mirrored already; a picture cut short is read by no
        // reader of Qt's, and keeps the size its header gives.
        out.storedSize = out.format.size;
        return out;
    }
    Reader open(out);
    if (!open.reader.canRead()) {
        return std::nullopt;
    }
    const QSize size = open.reader.size();
    if (size.isValid() && size.width() > 0 && size.height() > 0) {
        out.storedSize = size;
    }
    const QImageIOHandler::Transformations transformation = open.reader.transformation();
    out.quarterTurn = transformation.testFlag(QImageIOHandler::TransformationRotate90);
    out.transformed = transformation != QImageIOHandler::TransformationNone;
    return out;
}

std::optional<ImageSource> ImageSource::openFile(const QString& path, qint64 limit) {
    const auto bytes = readFile(path, limit);
    if (!bytes) {
        return std::nullopt;
    }
    return open(*bytes);
}

std::optional<QSize> ImageSource::pixelSize() const {
    if (!storedSize) {
        return std::nullopt;
    }
    return quarterTurn ? storedSize->transposed() : *storedSize;
}

std::optional<QImage> ImageSource::picture(int maxPixel, MemoryBudget* budget) const {
    const auto size = pixelSize();
    if (!size || maxPixel < 1) {
        return std::nullopt; // no bounded decode without a size
    }
    if (static_cast<qint64>(size->width()) * size->height() > maxDecodePixels && !isDrawing()) {
        return std::nullopt;
    }
    const QSize target = BoxScaler::bounded(*size, maxPixel);
    if (!format.decodable(quarterTurn ? target.transposed() : target)) {
        return std::nullopt;
    }
    MemoryBudget::Hold hold;
    // PngImage holds what it inflates whole from the budget itself.
    const bool ownRows =
        format.kind == ImageFormat::Kind::png && !format.interlaced && !transformed;
    if (budget != nullptr && !ownRows) {
        hold = budget->acquire(format.decodeBytes(target));
    }
    if (isDrawing()) {
        return drawing(target);
    }
    if (isHeif()) {
        QImage image = HeifImage::thumbnail(bytes, maxPixel, maxDecodePixels);
        return image.isNull() ? std::nullopt : std::optional<QImage>(std::move(image));
    }
    if (ownRows) {
        QImage image = PngImage::thumbnail(bytes, target, budget);
        return image.isNull() ? std::nullopt : std::optional<QImage>(std::move(image));
    }
    return decodeQt(*this, target);
}

std::optional<QImage> ImageSource::wholePicture(MemoryBudget* budget) const {
    const auto size = pixelSize();
    return size ? picture(std::max(size->width(), size->height()), budget) : std::nullopt;
}

QRectF ImageSource::viewport(QSizeF natural, const QRectF& bounds) {
    if (natural.isEmpty()) {
        return bounds;
    }
    const QSizeF fitted = natural.scaled(bounds.size(), Qt::KeepAspectRatio);
    return QRectF(bounds.center() - QPointF(fitted.width() / 2, fitted.height() / 2), fitted);
}

QImage ImageSource::drawing(QSize size) const {
    if (!isDrawing() || size.isEmpty() ||
        format.decodeBytes(size) > ImageFormat::decodeLimit(format.fileBytes)) {
        return {};
    }
    QSvgRenderer renderer(bytes);
    if (!renderer.isValid()) {
        return {};
    }
    // The picture's own edges cut whatever the drawing paints beyond its viewport.
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    painter.end();
    return image;
}

QMovie* ImageSource::movie(QObject* parent) const {
    if (!format.animated || format.qtName().isEmpty() || !format.decodable(format.size)) {
        return nullptr;
    }
    auto* movie = new QMovie(parent);
    auto* device = new QBuffer(movie);
    device->setData(bytes);
    device->open(QIODevice::ReadOnly);
    movie->setFormat(format.qtName());
    movie->setDevice(device);
    if (!movie->isValid()) {
        delete movie;
        return nullptr;
    }
    return movie;
}

} // namespace ostrel
