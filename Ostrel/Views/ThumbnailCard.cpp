// How a card looks at a size, drawn apart from any scene: its picture, symbol, rim, title, badge
// and dot, the selection ring around it, and the lifted card a drag carries.
#include "Ostrel/Views/ThumbnailCard.h"

#include "Ostrel/Panels/GlowImage.h"
#include "Ostrel/Views/RasterBands.h"
#include "Ostrel/Views/Symbols.h"
#include "Ostrel/Views/ThumbnailCache.h"
#include "OstrelCore/Display/ShelfMetrics.h"
#include "OstrelCore/Display/ShelfStyle.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHash>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace ostrel {

namespace {

constexpr double corner = ShelfStyle::thumbCorner;

QColor black(double alpha) {
    return QColor::fromRgbF(0, 0, 0, static_cast<float>(alpha));
}

QFont titleFont() {
    QFont font = ShelfStyle::labelFont();
    font.setWeight(QFont::Medium);
    return font;
}

// A rounded rectangle stroked inside its edge, as a border drawn within the shape.
void strokeInside(QPainter& painter, const QRectF& rect, double radius, double width,
                  const QColor& color) {
    const double half = width / 2;
    QPen pen(color, width);
    pen.setJoinStyle(Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(rect.adjusted(half, half, -half, -half), std::max(0.0, radius - half),
                            std::max(0.0, radius - half));
}

// The picture scaled to cover the card, centred; the excess falls outside.
QRectF coverRect(QSizeF picture, QSizeF card) {
    const double scale = std::max(card.width() / picture.width(), card.height() / picture.height());
    const QSizeF drawn = picture * scale;
    return QRectF(QPointF((card.width() - drawn.width()) / 2, (card.height() - drawn.height()) / 2),
                  drawn);
}

} // namespace

namespace ThumbnailKinds {

QString cardSymbol(ShelfItemKind kind) {
    switch (kind) {
    case ShelfItemKind::image:
        return QStringLiteral("photo");
    case ShelfItemKind::html:
        return QStringLiteral("globe");
    case ShelfItemKind::pdf:
        return QStringLiteral("doc.richtext");
    case ShelfItemKind::document:
        return QStringLiteral("doc.text");
    case ShelfItemKind::video:
        return QStringLiteral("film");
    case ShelfItemKind::audio:
        return QStringLiteral("waveform");
    case ShelfItemKind::artifact:
        return QStringLiteral("sparkles.rectangle.stack");
    case ShelfItemKind::file:
        return QStringLiteral("doc");
    }
    return QStringLiteral("doc");
}

std::optional<QString> badgeSymbol(ShelfItemKind kind) {
    switch (kind) {
    case ShelfItemKind::image:
        return std::nullopt;
    case ShelfItemKind::video:
        return QStringLiteral("play.fill");
    case ShelfItemKind::artifact:
        return QStringLiteral("sparkles");
    default:
        return cardSymbol(kind);
    }
}

QString accessibilityWord(ShelfItemKind kind) {
    switch (kind) {
    case ShelfItemKind::image:
        return QStringLiteral("Image");
    case ShelfItemKind::html:
        return QStringLiteral("HTML page");
    case ShelfItemKind::pdf:
        return QStringLiteral("PDF");
    case ShelfItemKind::document:
        return QStringLiteral("Document");
    case ShelfItemKind::video:
        return QStringLiteral("Video");
    case ShelfItemKind::audio:
        return QStringLiteral("Audio");
    case ShelfItemKind::artifact:
        return QStringLiteral("Published artifact");
    case ShelfItemKind::file:
        return QStringLiteral("File");
    }
    return QStringLiteral("File");
}

} // namespace ThumbnailKinds

QPainterPath ThumbnailCard::outline(QSizeF size) {
    QPainterPath path;
    path.addRoundedRect(QRectF(QPointF(0, 0), size), corner, corner);
    return path;
}

ThumbnailCard::Title ThumbnailCard::title() const {
    const double padding = ShelfMetrics::thumbPadding;
    const QSizeF inset = ShelfMetrics::thumbInset;
    const QFontMetricsF metrics(titleFont());
    const double room = std::max(0.0, size.width() - 2 * padding - 2 * inset.width());

    // One line: a title with line breaks shows its first line and an ellipsis.
    QString line = item.title;
    bool more = false;
    if (const auto breakAt = std::find_if(line.cbegin(), line.cend(),
                                          [](QChar c) { return c == u'\r' || c == u'\n'; });
        breakAt != line.cend()) {
        line = line.left(breakAt - line.cbegin());
        more = true;
    }
    QString text = metrics.elidedText(line, Qt::ElideMiddle, room);
    if (more && !text.endsWith(QChar(0x2026))) {
        text = metrics.elidedText(line + QChar(0x2026), Qt::ElideMiddle, room);
        if (!text.endsWith(QChar(0x2026))) {
            text += QChar(0x2026);
        }
    }
    Title out;
    out.text = text;
    out.cut = more || text != line;
    const double textWidth = std::min(room, metrics.horizontalAdvance(text));
    const double height = std::ceil(metrics.height()) + 2 * inset.height();
    out.capsule =
        QRectF(padding, size.height() - padding - height, textWidth + 2 * inset.width(), height);
    out.textAt = QPointF(out.capsule.left() + inset.width(), out.capsule.top() + inset.height());
    return out;
}

// A card is put together from copies (its picture, and its rim and corner cut drawn once per
// size) and from small shapes filled a few rows at a time, so that drawing one stays on the calling
// thread (`RasterBands`).
namespace {

// What every card of one size shares at one ratio: the coverage of its rounded shape where it is
// partial (offsets into the card's pixels), and its rim in each colour.
struct CardShape {
    std::vector<std::pair<qsizetype, uchar>> partial;
    QHash<QRgb, QImage> rims;
};

CardShape& cardShape(QSize pixels, double ratio) {
    static QHash<QString, CardShape> shapes;
    const QString key =
        QStringLiteral("%1x%2@%3").arg(pixels.width()).arg(pixels.height()).arg(ratio);
    auto it = shapes.find(key);
    if (it != shapes.end()) {
        return *it;
    }
    if (shapes.size() > 16) {
        shapes.clear();
    }
    QImage mask(pixels, QImage::Format_Alpha8);
    mask.setDevicePixelRatio(ratio);
    mask.fill(Qt::transparent);
    {
        QPainter p(&mask);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillPath(ThumbnailCard::outline(QSizeF(pixels) / ratio), Qt::black);
    }
    CardShape shape;
    for (int y = 0; y < mask.height(); ++y) {
        const uchar* row = mask.constScanLine(y);
        for (int x = 0; x < mask.width(); ++x) {
            if (row[x] != 255) {
                shape.partial.emplace_back(qsizetype(y) * mask.width() + x, row[x]);
            }
        }
    }
    return *shapes.insert(key, std::move(shape));
}

const QImage& rim(QSize pixels, double ratio, const QColor& color) {
    CardShape& shape = cardShape(pixels, ratio);
    auto it = shape.rims.find(color.rgba());
    if (it == shape.rims.end()) {
        QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(ratio);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        strokeInside(p, QRectF(QPointF(0, 0), QSizeF(pixels) / ratio), corner, 1, color);
        p.end();
        it = shape.rims.insert(color.rgba(), image);
    }
    return *it;
}

} // namespace

QImage ThumbnailCard::raster(double pixelRatio) const {
    const QSize pixels(int(std::ceil(size.width() * pixelRatio - 1e-6)),
                       int(std::ceil(size.height() * pixelRatio - 1e-6)));
    if (pixels.isEmpty()) {
        return {};
    }
    QImage out(pixels, QImage::Format_ARGB32_Premultiplied);
    if (out.isNull()) {
        return out;
    }
    out.setDevicePixelRatio(pixelRatio);
    const QRectF bounds(QPointF(0, 0), size);
    // The fill over nothing is the fill itself.
    out.fill(ground ? *ground : ShelfStyle::cardFill());
    QPainter painter(&out);
    if (ground) {
        painter.fillRect(bounds, ShelfStyle::cardFill());
    }
    painter.setRenderHint(QPainter::Antialiasing);
    const bool hasPicture = image && !image->isNull() && image->width() > 0 && image->height() > 0;
    if (hasPicture) {
        // Scaled to the pixels it covers and copied there unscaled.
        const QRectF target = coverRect(image->deviceIndependentSize(), size);
        const QSize want = (target.size() * pixelRatio).toSize();
        QImage picture = *image;
        if (std::abs(picture.width() - want.width()) > 1 ||
            std::abs(picture.height() - want.height()) > 1) {
            picture = picture.scaled(want, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        }
        picture.setDevicePixelRatio(pixelRatio);
        painter.setOpacity(pictureOpacity);
        painter.drawImage(QPointF(std::round(target.left() * pixelRatio) / pixelRatio,
                                  std::round(target.top() * pixelRatio) / pixelRatio),
                          picture);
    }
    if (!hasPicture || pictureOpacity < 1) {
        painter.setOpacity(hasPicture ? 1 - pictureOpacity : 1);
        const double glyph =
            std::min(ShelfMetrics::thumbGlyphScale * size.height(), ShelfMetrics::thumbGlyphMax);
        Symbols::paint(painter, ThumbnailKinds::cardSymbol(item.kind), bounds.center(), glyph,
                       ShelfStyle::thumbGlyph());
    }
    painter.end();

    // Cut to the rounded card: only the pixels along its corners (and any edge that falls
    // between pixels) are partly covered.
    const CardShape& shape = cardShape(pixels, pixelRatio);
    auto* bits = reinterpret_cast<QRgb*>(out.bits());
    const qsizetype stride = out.bytesPerLine() / 4;
    for (const auto& [at, cover] : shape.partial) {
        QRgb& p = bits[(at / pixels.width()) * stride + at % pixels.width()];
        const auto scale = [cover](int c) { return (c * cover + 127) / 255; };
        p = qRgba(scale(qRed(p)), scale(qGreen(p)), scale(qBlue(p)), scale(qAlpha(p)));
    }

    painter.begin(&out);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.drawImage(
        QPointF(0, 0),
        rim(pixels, pixelRatio, hovering ? ShelfStyle::cardHover() : ShelfStyle::hairline()));

    if (showsTitle && !item.title.isEmpty()) {
        const Title t = titleLayout ? *titleLayout : title();
        const double radius = t.capsule.height() / 2;
        painter.setPen(Qt::NoPen);
        painter.setBrush(ShelfStyle::thumbShade());
        RasterBands::draw(painter, t.capsule,
                          [&] { painter.drawRoundedRect(t.capsule, radius, radius); });
        painter.setFont(titleFont());
        painter.setPen(ShelfStyle::thumbLabel());
        const QFontMetricsF metrics(titleFont());
        painter.drawText(QPointF(t.textAt.x(), t.textAt.y() + metrics.ascent()), t.text);
    }

    if (const auto badge = ThumbnailKinds::badgeSymbol(item.kind)) {
        const double d = ShelfMetrics::thumbBadgeSize;
        const QRectF disc(ShelfMetrics::thumbPadding, ShelfMetrics::thumbPadding, d, d);
        painter.setPen(Qt::NoPen);
        painter.setBrush(black(0.55));
        RasterBands::draw(painter, disc, [&] { painter.drawEllipse(disc); });
        Symbols::paint(painter, *badge, disc.center(), ShelfStyle::badgeFontSize + 1,
                       ShelfStyle::thumbLabel());
    }

    if (dot) {
        const double d = ShelfMetrics::thumbDotSize;
        const QRectF circle(size.width() - ShelfMetrics::thumbDotInset - d,
                            ShelfMetrics::thumbDotInset, d, d);
        const double s = ShelfMetrics::thumbStroke;
        RasterBands::draw(painter, circle, [&] {
            painter.setPen(Qt::NoPen);
            painter.setBrush(ShelfStyle::accent());
            painter.drawEllipse(circle);
            painter.setPen(QPen(black(0.6), s));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(circle.adjusted(s / 2, s / 2, -s / 2, -s / 2));
        });
    }
    painter.end();
    return out;
}

void ThumbnailCard::paint(QPainter& painter) const {
    const QImage drawn = raster(RasterBands::ratio(painter));
    painter.save();
    // A copy where the painter only moves; smoothing would send it through the pool.
    painter.setRenderHint(QPainter::SmoothPixmapTransform,
                          painter.worldTransform().type() > QTransform::TxTranslate);
    painter.drawImage(QPointF(0, 0), drawn);
    painter.restore();
}

void SelectionRing::paint(QPainter& painter, QSizeF size) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds(QPointF(0, 0), size);
    strokeInside(painter, bounds, corner, 3, QGuiApplication::palette().color(QPalette::Highlight));
    strokeInside(painter, bounds.adjusted(3, 3, -3, -3), corner, 1, black(0.5));
    painter.restore();
}

namespace {

// Pictures scaled down to their cards, for cards made again: the grids delete a card that leaves
// the view, and scrolling back makes it anew. Kept by the picture (its cache key names one
// picture's pixels for good) and the pixels covered, within a budget of their own.
constexpr qsizetype coverCount = 128;
constexpr qint64 coverBytes = 16 * 1024 * 1024;

ThumbnailCache& covers() {
    static ThumbnailCache* instance = new ThumbnailCache(coverCount, coverBytes);
    return *instance;
}

// The shadow under a lifted card of `size`: black at 0.45, blurred by 10 points, 5 points down, in
// an image of `pixels` at `pixelRatio`.
QImage shadowOf(QSizeF size, QSize pixels, double pixelRatio) {
    const QRectF base(QPointF(LiftedCard::margin, LiftedCard::margin + 5), size);
    return roundedShadow(base, corner, 10, 0.45, pixels, pixelRatio);
}

} // namespace

QImage ThumbnailCard::cover(const QImage& picture, QSizeF size, double pixelRatio) {
    if (picture.isNull() || picture.width() <= 0 || picture.height() <= 0) {
        return picture;
    }
    const QSize pixels = (coverRect(picture.size(), size).size() * pixelRatio).toSize();
    if (pixels.isEmpty() || pixels.width() >= picture.width()) {
        return picture;
    }
    const QString key =
        QStringLiteral("%1@%2x%3").arg(picture.cacheKey()).arg(pixels.width()).arg(pixels.height());
    if (auto cached = covers().object(key)) {
        return *cached;
    }
    QImage out = picture.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    out.setDevicePixelRatio(double(out.width()) / coverRect(picture.size(), size).width());
    covers().insert(key, out, out.sizeInBytes());
    return out;
}

QImage LiftedCard::render(const ThumbnailCard& card, double pixelRatio, bool shadow) {
    const QSizeF full = card.size + QSizeF(2 * margin, 2 * margin);
    QImage out((full * pixelRatio).toSize(), QImage::Format_ARGB32_Premultiplied);
    if (out.isNull()) {
        return out;
    }
    out.setDevicePixelRatio(pixelRatio);
    out.fill(Qt::transparent);
    QPainter painter(&out);
    if (shadow) {
        painter.drawImage(QPointF(0, 0), shadowOf(card.size, out.size(), pixelRatio));
    }
    painter.translate(margin, margin);
    ThumbnailCard flat = card;
    flat.hovering = false; // the rim of the lifted card is the resting one
    flat.pictureOpacity = 1;
    flat.paint(painter);
    painter.end();
    return out;
}

} // namespace ostrel
