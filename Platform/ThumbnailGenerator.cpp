#include "Platform/ThumbnailGenerator.h"

#include "Platform/ImageSource.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMimeDatabase>
#include <QPainter>
#include <QPdfDocument>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <cmath>
#include <sys/stat.h>

namespace ostrel {

namespace {

// The size `size` fitted into maxPixel × maxPixel, never enlarged, never empty.
QSize fitted(QSizeF size, int maxPixel) {
    if (!(size.width() > 0) || !(size.height() > 0)) {
        return {};
    }
    const double scale = std::min(1.0, maxPixel / std::max(size.width(), size.height()));
    return QSize(std::max(1, static_cast<int>(std::lround(size.width() * scale))),
                 std::max(1, static_cast<int>(std::lround(size.height() * scale))));
}

// As above, but a small vector or page is drawn up to the full side.
QSize filled(QSizeF size, int maxPixel) {
    if (!(size.width() > 0) || !(size.height() > 0)) {
        return {};
    }
    const double scale = maxPixel / std::max(size.width(), size.height());
    return QSize(std::max(1, static_cast<int>(std::lround(size.width() * scale))),
                 std::max(1, static_cast<int>(std::lround(size.height() * scale))));
}

// A picture bounded to maxPixel whatever its source handed back.
std::optional<QImage> bounded(QImage image, int maxPixel) {
    if (image.isNull()) {
        return std::nullopt;
    }
    if (std::max(image.width(), image.height()) > maxPixel) {
        image = image.scaled(fitted(image.size(), maxPixel), Qt::IgnoreAspectRatio,
                             Qt::SmoothTransformation);
    }
    return image;
}

// Decodes a picture file no larger than `maxPixel` on its longer side, turned upright by its EXIF
// orientation; none when it is not a regular file, is larger than `limit`, holds no picture, or
// decoding it would cost more memory than its file is allowed (ImageSource).
std::optional<QImage> readScaledImage(const QString& path, int maxPixel,
                                      qint64 limit = ImageSource::maxFileBytes) {
    const auto source = ImageSource::openFile(path, limit);
    return source ? source->picture(maxPixel) : std::nullopt;
}

struct FileKey {
    qint64 size = 0;
    qint64 mtimeSeconds = 0;
    qint64 mtimeNanos = 0;
};

std::optional<FileKey> regularFile(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return FileKey{st.st_size, st.st_mtim.tv_sec, st.st_mtim.tv_nsec};
}

QStringList dataFolders() {
    QStringList folders;
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    if (home.isEmpty()) {
        home = QDir::homePath() + QStringLiteral("/.local/share");
    }
    folders << home;
    QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dirs.isEmpty()) {
        dirs = QStringLiteral("/usr/local/share:/usr/share");
    }
    for (const QString& dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        folders << dir;
    }
    return folders;
}

} // namespace

int ThumbnailRequest::maxPixel() const {
    const double side = std::max(size.width(), size.height()) * scale;
    if (!(side >= 1)) {
        return 1;
    }
    return static_cast<int>(std::min(side, 16384.0));
}

DesktopThumbnailGenerator::Config DesktopThumbnailGenerator::defaultConfig() {
    Config config;
    for (const QString& folder : dataFolders()) {
        config.thumbnailerFolders << folder + QStringLiteral("/thumbnailers");
    }
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty()) {
        cache = QDir::homePath() + QStringLiteral("/.cache");
    }
    config.cacheFolder = cache + QStringLiteral("/thumbnails");
    return config;
}

DesktopThumbnailGenerator::DesktopThumbnailGenerator(Config config)
    : config_(std::move(config)), running_(std::max(1, config_.maxRunning)) {}

std::optional<QImage> DesktopThumbnailGenerator::generate(const ThumbnailRequest& request) {
    const auto file = regularFile(request.path);
    if (!file) {
        return std::nullopt;
    }
    const QString failKey = request.path + QLatin1Char('\n') + QString::number(file->size) +
                            QLatin1Char('\n') + QString::number(file->mtimeSeconds) +
                            QLatin1Char('.') + QString::number(file->mtimeNanos);
    {
        QMutexLocker lock(&mutex_);
        if (failed_.contains(failKey)) {
            return std::nullopt;
        }
    }
    const int maxPixel = request.maxPixel();
    const QMimeType mime = QMimeDatabase().mimeTypeForFile(request.path);
    QStringList mimeNames{mime.name()};
    mimeNames << mime.aliases() << mime.allAncestors();

    std::optional<QImage> image = renderInProcess(request.path, mime.name(), maxPixel);
    if (!image) {
        image = runThumbnailers(request.path, mimeNames, maxPixel);
    }
    if (!image) {
        image = fromCache(request.path, file->mtimeSeconds, maxPixel);
    }
    if (!image) {
        QMutexLocker lock(&mutex_);
        failed_.insert(failKey);
    }
    return image;
}

std::optional<QImage>
DesktopThumbnailGenerator::renderInProcess(const QString& path, const QString& mime, int maxPixel) {
    if (mime == QLatin1String("application/pdf")) {
        return renderPdf(path, maxPixel);
    }
    // Pictures and drawings by what they hold, whatever their name says.
    switch (ImageSource::sniffFile(path)) {
    case ImageFormat::Kind::none:
        return std::nullopt;
    case ImageFormat::Kind::svg:
        return renderSvg(path, maxPixel);
    default:
        return readScaledImage(path, maxPixel);
    }
}

std::optional<QImage> DesktopThumbnailGenerator::renderPdf(const QString& path, int maxPixel) {
    QPdfDocument document(nullptr);
    if (document.load(path) != QPdfDocument::Error::None || document.pageCount() < 1) {
        return std::nullopt;
    }
    const QSize size = filled(document.pagePointSize(0), maxPixel);
    if (size.isEmpty()) {
        return std::nullopt;
    }
    QImage page = document.render(0, size);
    if (page.isNull()) {
        return std::nullopt;
    }
    // Pages without a background of their own are white on paper, not transparent.
    QImage paper(page.size(), QImage::Format_RGB32);
    paper.fill(Qt::white);
    QPainter painter(&paper);
    painter.drawImage(0, 0, page);
    painter.end();
    return bounded(std::move(paper), maxPixel);
}

std::optional<QImage> DesktopThumbnailGenerator::renderSvg(const QString& path, int maxPixel) {
    const auto source = ImageSource::openFile(path, config_.maxSvgBytes);
    if (!source || !source->isDrawing() || !source->storedSize) {
        return std::nullopt;
    }
    QImage image = source->drawing(filled(*source->storedSize, maxPixel));
    return image.isNull() ? std::nullopt : std::optional<QImage>(std::move(image));
}

const QList<DesktopThumbnailGenerator::Entry>& DesktopThumbnailGenerator::entries() {
    QMutexLocker lock(&mutex_);
    if (!entriesLoaded_) {
        entriesLoaded_ = true;
        QSet<QString> seen;
        for (const QString& folder : config_.thumbnailerFolders) {
            const QStringList names =
                QDir(folder).entryList({QStringLiteral("*.thumbnailer")}, QDir::Files, QDir::Name);
            for (const QString& name : names) {
                // An entry of a user folder hides the system's entry of the same name.
                if (seen.contains(name)) {
                    continue;
                }
                seen.insert(name);
                if (auto entry = readEntry(QDir(folder).filePath(name))) {
                    entries_ << *entry;
                }
            }
        }
    }
    return entries_;
}

std::optional<DesktopThumbnailGenerator::Entry>
DesktopThumbnailGenerator::readEntry(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > 64 * 1024) {
        return std::nullopt;
    }
    QString exec;
    QString tryExec;
    QString mimeTypes;
    bool inGroup = false;
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    for (QString line : lines) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QLatin1String("[Thumbnailer Entry]");
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (!inGroup || eq < 1) {
            continue;
        }
        const QString key = line.left(eq).trimmed();
        const QString value = line.mid(eq + 1).trimmed();
        if (key == QLatin1String("Exec")) {
            exec = value;
        } else if (key == QLatin1String("TryExec")) {
            tryExec = value;
        } else if (key == QLatin1String("MimeType")) {
            mimeTypes = value;
        }
    }
    auto args = splitExec(exec);
    if (!args || args->isEmpty() || mimeTypes.isEmpty()) {
        return std::nullopt;
    }
    if (!std::any_of(args->cbegin(), args->cend(),
                     [](const QString& arg) { return arg.contains(QLatin1String("%o")); })) {
        return std::nullopt;
    }
    if (!tryExec.isEmpty() && QStandardPaths::findExecutable(tryExec).isEmpty() &&
        !QFileInfo(tryExec).isExecutable()) {
        return std::nullopt;
    }
    return Entry{*args, mimeTypes.split(QLatin1Char(';'), Qt::SkipEmptyParts)};
}

std::optional<QStringList> DesktopThumbnailGenerator::splitExec(const QString& exec) {
    QStringList args;
    QString current;
    bool inArg = false;
    bool quoted = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        if (quoted) {
            if (c == QLatin1Char('\\') && i + 1 < exec.size()) {
                current += exec.at(++i);
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                current += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
            inArg = true;
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (inArg) {
                args << current;
                current.clear();
                inArg = false;
            }
        } else {
            current += c;
            inArg = true;
        }
    }
    if (quoted) {
        return std::nullopt;
    }
    if (inArg) {
        args << current;
    }
    return args;
}

QStringList DesktopThumbnailGenerator::fillExec(const QStringList& exec, const QString& input,
                                                const QString& output, int size) {
    QStringList filled;
    for (const QString& arg : exec) {
        QString out;
        for (qsizetype i = 0; i < arg.size(); ++i) {
            if (arg.at(i) != QLatin1Char('%') || i + 1 >= arg.size()) {
                out += arg.at(i);
                continue;
            }
            const QChar code = arg.at(++i);
            if (code == QLatin1Char('i')) {
                out += input;
            } else if (code == QLatin1Char('u')) {
                out += QString::fromUtf8(QUrl::fromLocalFile(input).toEncoded());
            } else if (code == QLatin1Char('o')) {
                out += output;
            } else if (code == QLatin1Char('s')) {
                out += QString::number(size);
            } else if (code == QLatin1Char('%')) {
                out += QLatin1Char('%');
            }
        }
        if (!out.isEmpty() || arg.isEmpty()) {
            filled << out;
        }
    }
    return filled;
}

std::optional<QImage> DesktopThumbnailGenerator::runThumbnailers(const QString& path,
                                                                 const QStringList& mimeNames,
                                                                 int maxPixel) {
    for (const Entry& entry : entries()) {
        const bool handles =
            std::any_of(mimeNames.cbegin(), mimeNames.cend(),
                        [&](const QString& m) { return entry.mimeTypes.contains(m); });
        if (!handles) {
            continue;
        }
        if (auto image = runProgram(entry, path, maxPixel)) {
            return image;
        }
    }
    return std::nullopt;
}

std::optional<QImage> DesktopThumbnailGenerator::runProgram(const Entry& entry, const QString& path,
                                                            int maxPixel) {
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        return std::nullopt;
    }
    const QString output = scratch.filePath(QStringLiteral("thumbnail.png"));
    const QStringList args = fillExec(entry.exec, path, output, maxPixel);
    if (args.isEmpty()) {
        return std::nullopt;
    }
    QString program = args.first();
    if (!program.contains(QLatin1Char('/'))) {
        program = QStandardPaths::findExecutable(program);
    }
    if (program.isEmpty() || !QFileInfo(program).isExecutable()) {
        return std::nullopt;
    }

    running_.acquire();
    programRuns_.fetch_add(1);
    QProcess process;
    process.setProgram(program);
    process.setArguments(args.mid(1));
    process.setWorkingDirectory(scratch.path());
    // Nothing the program prints is kept: a chatty thumbnailer cannot fill our memory.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();
    bool ok = process.waitForStarted(config_.timeoutMs) &&
              process.waitForFinished(config_.timeoutMs) &&
              process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(1000);
        ok = false;
    }
    running_.release();
    if (!ok) {
        return std::nullopt;
    }
    return readScaledImage(output, maxPixel, config_.maxOutputBytes);
}

std::optional<QImage> DesktopThumbnailGenerator::fromCache(const QString& path, qint64 mtimeSeconds,
                                                           int maxPixel) {
    if (config_.cacheFolder.isEmpty()) {
        return std::nullopt;
    }
    const QByteArray uri = QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toEncoded();
    const QString name =
        QString::fromLatin1(QCryptographicHash::hash(uri, QCryptographicHash::Md5).toHex()) +
        QStringLiteral(".png");
    // The larger entry first: it scales down to any side we ask for.
    for (const char* folder : {"x-large", "large"}) {
        const QString file =
            QDir(config_.cacheFolder).filePath(QLatin1String(folder) + QLatin1Char('/') + name);
        const auto bytes = ImageSource::readFile(file, config_.maxOutputBytes);
        // The modification time is a text chunk that may follow the pixels.
        if (!bytes ||
            ImageFormat::pngText(*bytes, "Thumb::MTime") != QByteArray::number(mtimeSeconds)) {
            continue;
        }
        // Cache entries are at most 1024 pixels a side; anything larger is not one of them.
        const auto source = ImageSource::open(*bytes);
        const auto size = source ? source->pixelSize() : std::nullopt;
        if (!size || size->width() > 1024 || size->height() > 1024) {
            continue;
        }
        if (auto picture = source->picture(maxPixel)) {
            return picture;
        }
    }
    return std::nullopt;
}

} // namespace ostrel
