#pragma once

#include "Ostrel/Views/ThumbnailCache.h"
#include "OstrelCore/Records/ShelfItem.h"
#include "Platform/ThumbnailGenerator.h"

#include <QImage>
#include <QList>
#include <QObject>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <ratio>

namespace ostrel {

// The pictures the cards show: one memory cache for the whole process, filled from the item's
// stored JPEG thumbnail, the item's own file (pictures) or the thumbnail generator (everything
// else, written back as the stored JPEG so the next run finds it on disk).
namespace Thumbnailer {

inline constexpr qsizetype countLimit = 600;
inline constexpr qint64 costLimit = 134'217'728; // 128 MiB

// The process-wide cache, made on first use.
ThumbnailCache& cache();

// "<id>@<side>", the side truncated to a whole number.
QString cacheKey(const QString& itemID, double side);
// What a picture costs the cache at a side: four bytes a pixel of the larger of side² and the
// picture's own pixel count.
qint64 cost(double side, const QImage& image);
// The smallest longer side a stored JPEG needs to stand in at a side: ceil(0.8 × side).
int minimumSide(double side);
// The side a card of `size` points asks for: twice its larger dimension.
double side(QSizeF size);

std::optional<QImage> cachedImage(const ShelfItem& item, double side);

// A card as it is drawn: `size` points at `pixelRatio` device pixels a point, its picture scaled
// to cover it and cut to its shape. A picture whose shape differs from the card's shows only a
// part of itself, so its stored thumbnail may be large enough by its longer side and still be
// enlarged severalfold on the card.
struct Fill {
    QSizeF size;
    double pixelRatio = 2;
    // The device pixels the card covers, as ThumbnailCard rasters it.
    QSize pixels() const;
};
// A picture is decoded for a card at most this many times the card's pixels (a 500 × 3000
// screenshot of a page covers a 4:3 card with eight), before the card's part of it is cut out.
inline constexpr int fillPixelsLimit = 8;
// The longer side a picture of `size` is decoded at for a card: at least `side` (what any card of
// that side gets), and beyond it only as far as covering the card without enlarging needs, within
// the picture's own size and fillPixelsLimit times the card's pixels.
int fillSide(QSize picture, const Fill& fill, double side);
// How many times a picture of `size` is enlarged to cover `card` pixels; 1 where it needs none.
double enlargement(QSize picture, QSize card);
// How far a stored thumbnail may be enlarged to cover a card, 13/10: the 1.25 its longer side may
// fall short by (0.8 of the side), with room for its shorter side's rounding to whole pixels (a
// 16:9 picture is stored 360 × 203, 1.26 times short of the 256 pixels the vertical stacks' card
// has at a pixel ratio of 2). Banners and pages fall far beyond it and are decoded from their own
// file.
using storedEnlargement = std::ratio<13, 10>;
// Whether a picture of `size` covers `card` pixels enlarged at most storedEnlargement times: the
// one test of whether a card takes the item's stored thumbnail.
bool coversWithinTolerance(QSize picture, QSize card);
// Whether a card needs no other picture than this one: it covers the card without being enlarged,
// or it was loaded for a card at least as large (a stored JPEG within coversWithinTolerance, or
// all that its file gives).
bool fills(const QImage& picture, const Fill& fill);
// The largest device pixel ratio among the screens (2 without any): the ratio a card is taken to
// be drawn at before it is.
double screenPixelRatio();

// Cancels a load: its generator request is skipped and its result not delivered.
class LoadHandle {
public:
    LoadHandle() = default;
    void cancel() const;
    bool isCancelled() const;

private:
    friend LoadHandle load(const ShelfItem&, const QUrl&, double, QObject*,
                           std::function<void(std::optional<QImage>)>, std::optional<Fill>);
    std::shared_ptr<std::atomic<bool>> cancelled_;
};

// Loads the item's picture off the main thread and caches it. `done`, when given, runs on the
// main thread with the picture or none, only while `context` still exists and the load has not
// been cancelled. With a `fill`, a picture item's stored JPEG stands in only when it also covers
// that card within coversWithinTolerance; else the item's own file is decoded to cover it and only
// the part the card shows is kept, at the card's pixels (the stored JPEG still answers when that
// file is gone or unreadable). Other kinds load as without it.
LoadHandle load(const ShelfItem& item, const QUrl& thumbURL, double side, QObject* context,
                std::function<void(std::optional<QImage>)> done, std::optional<Fill> fill = {});

// Starts loads for the items whose stored JPEG exists and whose picture is not cached, for cards
// of `size` at screenPixelRatio(); returns at once.
void prefetch(const QList<ShelfItem>& items, const std::function<QUrl(const QString&)>& thumbURL,
              QSizeF size);

// The file decoded no larger than `side`; none when it is not a picture or its longer side is
// below `minimumSide` (when that is at least 1).
std::optional<QImage> image(const QUrl& at, double side, double minimumSide);

// Writes the picture as the item's stored JPEG while the item's file exists. The write is atomic,
// and a JPEG whose item vanished while it was being written is removed again.
void writeBack(const QUrl& itemFile, const QImage& image, const QUrl& thumbURL);

// The whole load on the calling thread, generator included (no timeout). For callers already off
// the main thread, such as benchmarks.
std::optional<QImage> loadNow(const ShelfItem& item, const QUrl& thumbURL, double side,
                              std::optional<Fill> fill = {});

// The generator used for non-picture kinds; the desktop's by default.
void setGenerator(std::shared_ptr<ThumbnailGenerator> generator);
// How long a load waits for the generator before it gives none (the render may still finish and
// fill the cache).
void setGeneratorTimeout(int milliseconds);
// Blocks until every pending decode, render and write-back has finished.
void waitForIdle();

} // namespace Thumbnailer

} // namespace ostrel
