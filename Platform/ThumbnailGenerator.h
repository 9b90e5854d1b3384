#pragma once

#include <QImage>
#include <QList>
#include <QMutex>
#include <QSemaphore>
#include <QSet>
#include <QSizeF>
#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>

namespace ostrel {

// What a thumbnail is wanted of: a local file, at a size in points and a scale in pixels per point.
struct ThumbnailRequest {
    QString path;
    QSizeF size;
    double scale = 2.0;

    // The longest side in pixels the answer may have.
    int maxPixel() const;
};

// Renders thumbnails of files that are not plain pictures (pages, documents, video…). Blocking;
// callable from any thread at once.
class ThumbnailGenerator {
public:
    virtual ~ThumbnailGenerator() = default;
    // A picture whose longer side is at most the request's maxPixel, or none when the file cannot
    // be rendered.
    virtual std::optional<QImage> generate(const ThumbnailRequest& request) = 0;
};

// The desktop's way of rendering thumbnails: PDF first pages through QtPdf, then pictures and
// drawings by what the file holds, whatever its name (ImageSource); then the installed thumbnailer
// programs (freedesktop
// "*.thumbnailer" entries), then the freedesktop thumbnail cache when its entry is current.
// A file that none of them renders is remembered for the run (by path, size and modification
// time) and not tried again until it changes.
class DesktopThumbnailGenerator final : public ThumbnailGenerator {
public:
    struct Config {
        // Folders holding "*.thumbnailer" entries, searched in order; earlier ones win.
        QStringList thumbnailerFolders;
        // The freedesktop cache root holding "large" and "x-large".
        QString cacheFolder;
        int timeoutMs = 5000;
        int maxRunning = 2;
        // A thumbnailer's output file larger than this is not read.
        qint64 maxOutputBytes = 32LL * 1024 * 1024;
        // An SVG larger than this is not parsed.
        qint64 maxSvgBytes = 16LL * 1024 * 1024;
    };

    // $XDG_DATA_HOME and $XDG_DATA_DIRS "thumbnailers" folders; $XDG_CACHE_HOME/thumbnails.
    static Config defaultConfig();

    explicit DesktopThumbnailGenerator(Config config = defaultConfig());

    std::optional<QImage> generate(const ThumbnailRequest& request) override;

    // How many thumbnailer programs were started so far.
    int programRuns() const { return programRuns_.load(); }

    // One installed thumbnailer program.
    struct Entry {
        // The command line split into arguments, field codes still in place.
        QStringList exec;
        QStringList mimeTypes;
    };
    // Reads one "*.thumbnailer" file; none when it is not a usable entry (no Exec, unbalanced
    // quotes, no output field, a TryExec that is not installed).
    static std::optional<Entry> readEntry(const QString& path);
    // The Exec value split into arguments the way desktop entries quote them; none when the
    // quoting is broken.
    static std::optional<QStringList> splitExec(const QString& exec);
    // The arguments with %i (path), %u (URI), %o (output), %s (size) and %% filled in; other field
    // codes are dropped.
    static QStringList fillExec(const QStringList& exec, const QString& input,
                                const QString& output, int size);

private:
    std::optional<QImage> renderInProcess(const QString& path, const QString& mime, int maxPixel);
    std::optional<QImage> renderPdf(const QString& path, int maxPixel);
    std::optional<QImage> renderSvg(const QString& path, int maxPixel);
    std::optional<QImage> runThumbnailers(const QString& path, const QStringList& mimeNames,
                                          int maxPixel);
    std::optional<QImage> runProgram(const Entry& entry, const QString& path, int maxPixel);
    std::optional<QImage> fromCache(const QString& path, qint64 mtimeSeconds, int maxPixel);
    const QList<Entry>& entries();

    const Config config_;
    QSemaphore running_;
    std::atomic<int> programRuns_{0};
    QMutex mutex_;
    bool entriesLoaded_ = false;
    QList<Entry> entries_;
    QSet<QString> failed_;
};

} // namespace ostrel
