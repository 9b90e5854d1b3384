#include "Platform/ThumbnailGenerator.h"

#include "Platform/SafeSvg.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeDatabase>
#include <QPainter>
#include <QPdfDocument>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QSvgRenderer>
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

std::optional<QImage> readScaledImage(const QString& path, int maxPixel, qint64 maxBytes) {
    QImageReader reader(path);
    reader.setAutoTransform(true);
    if (!reader.canRead()) {
        return std::nullopt;
    }
    QSize stored = reader.size();
    if (!stored.isValid() || stored.isEmpty()) {
        return std::nullopt;
    }
    const bool quarter = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
    const QSize oriented = quarter ? stored.transposed() : stored;
    const QSize target = fitted(oriented, maxPixel);
    // A reader that scales while decoding never holds the full picture; any other does, so its
    // full size must fit the budget.
    const bool scalesWhileDecoding = reader.supportsOption(QImageIOHandler::ScaledSize);
    if (!scalesWhileDecoding &&
        static_cast<qint64>(stored.width()) * stored.height() * 4 > maxBytes) {
        return std::nullopt;
    }
    if (scalesWhileDecoding && target != oriented) {
        // The scaled size applies before the orientation turns the picture.
        reader.setScaledSize(quarter ? target.transposed() : target);
    }
    QImage image = reader.read();
    return bounded(std::move(image), maxPixel);
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
    if (mime == QLatin1String("image/svg+xml") ||
        mime == QLatin1String("image/svg+xml-compressed")) {
        return renderSvg(path, maxPixel);
    }
    if (mime.startsWith(QLatin1String("image/"))) {
        return readScaledImage(path, maxPixel);
    }
    return std::nullopt;
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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > config_.maxSvgBytes) {
        return std::nullopt;
    }
    QByteArray bytes = file.read(config_.maxSvgBytes + 1);
    if (bytes.size() > config_.maxSvgBytes) {
        return std::nullopt;
    }
    const auto drawing = SafeSvg::withoutExternalReferences(bytes);
    if (!drawing) {
        return std::nullopt;
    }
    QSvgRenderer renderer;
    if (!renderer.load(*drawing) || !renderer.isValid()) {
        return std::nullopt;
    }
    QSizeF natural = renderer.viewBoxF().size();
    if (natural.isEmpty()) {
        natural = renderer.defaultSize();
    }
    const QSize size = filled(natural, maxPixel);
    if (size.isEmpty()) {
        return std::nullopt;
    }
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    painter.end();
    return image;
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
    const QFileInfo result(output);
    if (!result.isFile() || result.size() > config_.maxOutputBytes) {
        return std::nullopt;
    }
    return readScaledImage(output, maxPixel);
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
        QFileInfo info(file);
        if (!info.isFile() || info.size() > config_.maxOutputBytes) {
            continue;
        }
        // Cache entries are at most 1024 pixels a side; anything larger is not one of them.
        QImageReader reader(file);
        const QSize size = reader.size();
        if (!size.isValid() || size.width() > 1024 || size.height() > 1024) {
            continue;
        }
        QImage image = reader.read();
        // The modification time is a text chunk that may follow the pixels.
        if (image.isNull() ||
            image.text(QStringLiteral("Thumb::MTime")) != QString::number(mtimeSeconds)) {
            continue;
        }
        if (auto picture = bounded(std::move(image), maxPixel)) {
            return picture;
        }
    }
    return std::nullopt;
}

} // namespace ostrel
