#include "Ostrel/Views/ThumbnailView.h"

#include "Ostrel/Model/MenuAction.h"
#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Views/RasterBands.h"
#include "Ostrel/Views/ShelfTips.h"
#include "Ostrel/Views/Symbols.h"
#include "OstrelCore/Display/ShelfMetrics.h"
#include "OstrelCore/Display/ShelfStyle.h"

#include <QAccessibleActionInterface>
#include <QFontMetricsF>
#include <QGraphicsSceneContextMenuEvent>
#include <QGraphicsSceneHoverEvent>
#include <QGraphicsSceneMouseEvent>
#include <QGuiApplication>
#include <QHash>
#include <QMenu>
#include <QPainter>
#include <QPalette>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace ostrel {

namespace {

constexpr double corner = ShelfStyle::thumbCorner;
// How far the pointer moves before a press becomes a drag.
constexpr double dragMinimum = 3;
constexpr double fadeDuration = 0.12;
constexpr double frameInterval = 1.0 / 60;

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

// --- Drawing ---

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
    // The fill over nothing is the fill itself.
    out.fill(ShelfStyle::cardFill());
    const QRectF bounds(QPointF(0, 0), size);
    QPainter painter(&out);
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

QImage LiftedCard::render(const ThumbnailCard& card, double pixelRatio) {
    const QSizeF full = card.size + QSizeF(2 * margin, 2 * margin);
    QImage out((full * pixelRatio).toSize(), QImage::Format_ARGB32_Premultiplied);
    if (out.isNull()) {
        return out;
    }
    out.setDevicePixelRatio(pixelRatio);
    out.fill(Qt::transparent);

    // The shadow: the card's shape in black, blurred by drawing it in widening, fainter rings.
    QImage shadow(out.size(), QImage::Format_ARGB32_Premultiplied);
    shadow.setDevicePixelRatio(pixelRatio);
    shadow.fill(Qt::transparent);
    {
        QPainter p(&shadow);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        const QRectF base(QPointF(margin, margin + 5), card.size);
        constexpr int steps = 10;
        for (int i = steps; i >= 1; --i) {
            const double grow = 10.0 * i / steps;
            p.setBrush(black(0.45 / steps));
            p.drawRoundedRect(base.adjusted(-grow, -grow, grow, grow), corner + grow,
                              corner + grow);
        }
    }
    QPainter painter(&out);
    painter.drawImage(QPointF(0, 0), shadow);
    painter.translate(margin, margin);
    ThumbnailCard flat = card;
    flat.hovering = false; // the rim of the lifted card is the resting one
    flat.pictureOpacity = 1;
    flat.paint(painter);
    painter.end();
    return out;
}

// --- The live card ---

ThumbnailView::ThumbnailView(ShelfModel* model, quint32 display, const ShelfItem& item, QSizeF size,
                             Options options, QGraphicsItem* parent,
                             std::shared_ptr<MainClock> clock)
    : QGraphicsObject(parent), model_(model), display_(display), item_(item), size_(size),
      options_(options), clock_(std::move(clock)) {
    setAcceptHoverEvents(true);
    setAcceptedMouseButtons(Qt::LeftButton);
    // A card is drawn once into a pixmap of its on-screen pixels and then only copied while it
    // scrolls; scaling its picture and laying out its title again each frame costs more than the
    // rest of the drawer together.
    setCacheMode(DeviceCoordinateCache);
    // A card that was shown before draws its picture in its first frame.
    image_ = Thumbnailer::cachedImage(item_, side());
    anchor_ = new AnchorView(model, item_.id, this);
    anchor_->setSize(size_);
    updateAnchor();
    connect(&DragLift::shared(), &DragLift::liftedIDChanged, this, &ThumbnailView::updateLift);
    updateLift();
}

ThumbnailView::~ThumbnailView() {
    setTips(nullptr);
    load_.cancel();
    frame_.cancel();
    if (shown_ && options_.tracksVisibility && model_) {
        model_->itemDisappeared(item_.id, display_);
    }
}

ViewContext::CardFactory ThumbnailView::factory(const ViewContext& context) {
    QPointer<ShelfModel> model(context.model);
    QPointer<ShelfTips> tips(context.tips);
    const quint32 display = context.display;
    const std::shared_ptr<MainClock> clock = context.clock;
    return
        [model, tips, display, clock](const ShelfItem& item, QSizeF size, QGraphicsItem* parent) {
            auto* card = new ThumbnailView(model.data(), display, item, size, {}, parent, clock);
            card->setTips(tips.data());
            return card;
        };
}

void ThumbnailView::setTips(ShelfTips* tips) {
    if (tips_ == tips && (tip_ || !tips)) {
        return;
    }
    if (tips_ && tip_) {
        tips_->forget(tip_.get());
    }
    tips_ = tips;
    tip_.reset();
    if (tips_) {
        tip_ = TipAnchor::following(anchor_);
        tips_->add(tip_);
    }
}

double ThumbnailView::side() const {
    return Thumbnailer::side(size_);
}

void ThumbnailView::setItem(const ShelfItem& item) {
    if (item == item_) {
        return;
    }
    const QString previous = item_.id;
    item_ = item;
    fading_ = {};
    if (item_.id != previous) {
        anchor_->setItemID(item_.id);
        if (shown_ && options_.tracksVisibility && model_) {
            model_->itemDisappeared(previous, display_);
            model_->itemAppeared(item_.id, display_);
        }
        load_.cancel();
        fade_.set(1);
        image_ = Thumbnailer::cachedImage(item_, side());
        if (shown_) {
            startLoad();
        }
        updateLift();
    }
    updateAnchor();
    update();
}

void ThumbnailView::setSize(QSizeF size) {
    if (size == size_) {
        return;
    }
    prepareGeometryChange();
    size_ = size;
    fading_ = {};
    anchor_->setSize(size_);
    // The title is cut to the card's width.
    updateAnchor();
    update();
}

void ThumbnailView::setOptions(const Options& options) {
    if (options == options_) {
        return;
    }
    const bool tracked = options_.tracksVisibility;
    const bool tipChanged =
        options.showsTitle != options_.showsTitle || options.showsTip != options_.showsTip;
    options_ = options;
    fading_ = {};
    if (shown_ && model_ && tracked != options_.tracksVisibility) {
        if (options_.tracksVisibility) {
            model_->itemAppeared(item_.id, display_);
        } else {
            model_->itemDisappeared(item_.id, display_);
        }
    }
    // Laying out the title again is for its tip only.
    if (tipChanged) {
        updateAnchor();
    }
    update();
}

void ThumbnailView::setShown(bool shown) {
    if (shown == shown_) {
        return;
    }
    shown_ = shown;
    if (shown_) {
        if (model_ && !DragLift::shared().supportDir()) {
            DragLift::shared().setSupportDir(model_->storeRoot());
        }
        if (options_.tracksVisibility && model_) {
            model_->itemAppeared(item_.id, display_);
        }
        startLoad();
    } else {
        load_.cancel();
        if (options_.tracksVisibility && model_) {
            model_->itemDisappeared(item_.id, display_);
        }
    }
}

void ThumbnailView::startLoad() {
    if (image_ || !model_) {
        return;
    }
    load_.cancel();
    const QString id = item_.id;
    load_ = Thumbnailer::load(
        item_, model_->thumbURL(id), side(), this,
        [this, id](std::optional<QImage> picture) { pictureArrived(id, std::move(picture)); });
}

void ThumbnailView::pictureArrived(const QString& itemID, std::optional<QImage> picture) {
    if (itemID != item_.id || !picture || image_) {
        return;
    }
    image_ = std::move(picture);
    // Fades in only where the user is looking: the open shelf of this card's display.
    if (model_ && model_->openScreen() == display_) {
        fade_.set(0);
        fade_.animate(1, Motion::Curve::easeOut(fadeDuration * model_->motionScale()),
                      clock_->now());
        scheduleFrame();
    } else {
        fade_.set(1);
    }
    update();
}

void ThumbnailView::scheduleFrame() {
    frame_.cancel();
    frame_ = clock_->after(frameInterval, this, [this] {
        update();
        if (fade_.isRunning(clock_->now())) {
            scheduleFrame();
        }
    });
}

void ThumbnailView::updateAnchor() {
    ThumbnailCard laidOut;
    laidOut.item = item_;
    laidOut.size = size_;
    title_ = laidOut.title();
    *titleCut_ = options_.showsTitle && title_.cut;
    TipAnchorView::Tip tip;
    tip.title = item_.title;
    tip.font = ShelfStyle::tipFont();
    tip.cut = options_.showsTitle ? titleCut_ : nullptr;
    tip.textOrigin = AnchorView::tipTextOrigin;
    tip.bottomEdge = true;
    tip.enabled = options_.showsTip;
    tip.display = display_;
    anchor_->setTip(std::move(tip));
}

void ThumbnailView::updateLift() {
    const auto& lifted = DragLift::shared().liftedID();
    setOpacity(lifted && *lifted == item_.id ? DragLift::liftedOpacity : 1.0);
}

ThumbnailCard ThumbnailView::card() const {
    ThumbnailCard c;
    c.item = item_;
    c.size = size_;
    c.image = image_;
    c.showsTitle = options_.showsTitle;
    c.hovering = hovering_;
    c.dot = options_.dot;
    c.pictureOpacity = fade_.value(clock_->now());
    c.titleLayout = title_;
    return c;
}

DragLift::Render ThumbnailView::renderer() {
    return [self = QPointer<ThumbnailView>(this)]() -> QImage {
        if (!self) {
            return {};
        }
        return LiftedCard::render(self->card());
    };
}

QRectF ThumbnailView::boundingRect() const {
    return QRectF(QPointF(0, 0), size_);
}

QPainterPath ThumbnailView::shape() const {
    return ThumbnailCard::outline(size_);
}

void ThumbnailView::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    ThumbnailCard drawn = card();
    if (drawn.image) {
        // The picture scaled once to the pixels it covers, not at every paint.
        const double ratio = RasterBands::ratio(*painter);
        const qint64 key = drawn.image->cacheKey();
        if (cover_.key != key || cover_.ratio != ratio || cover_.size != size_) {
            cover_ = {key, ratio, size_, ThumbnailCard::cover(*drawn.image, size_, ratio)};
        }
        drawn.image = cover_.image;
    }
    if (drawn.image && drawn.pictureOpacity < 1) {
        // The picture fading in: the card without it and with it, each drawn once for the whole
        // fade, cross-faded at every frame (drawing the card anew at each step of its picture's
        // opacity costs more than the rest of a frame together).
        const double ratio = RasterBands::ratio(*painter);
        const Fade key{ratio, drawn.image->cacheKey(), drawn.hovering, drawn.dot, {}, {}};
        if (!fade_.isRunning(clock_->now()) || !fading_.sameAs(key)) {
            fading_ = key;
            ThumbnailCard before = drawn;
            before.image.reset();
            ThumbnailCard after = drawn;
            after.pictureOpacity = 1;
            fading_.before = before.raster(ratio);
            fading_.after = after.raster(ratio);
        }
        painter->save();
        painter->setRenderHint(QPainter::SmoothPixmapTransform,
                               painter->worldTransform().type() > QTransform::TxTranslate);
        painter->drawImage(QPointF(0, 0), fading_.before);
        painter->setOpacity(painter->opacity() * drawn.pictureOpacity);
        painter->drawImage(QPointF(0, 0), fading_.after);
        painter->restore();
    } else {
        fading_ = {};
        drawn.paint(*painter);
    }
    if (options_.selected) {
        SelectionRing::paint(*painter, size_);
    }
}

QList<MenuEntry> ThumbnailView::contextMenu() const {
    const QPointer<ShelfModel> model = model_;
    const ShelfItem item = item_;
    const bool artifact = item.kind == ShelfItemKind::artifact;
    const auto act = [model, item](void (ShelfModel::*op)(const ShelfItem&)) {
        return [model, item, op] {
            if (model) {
                (model.data()->*op)(item);
            }
        };
    };
    QList<MenuEntry> entries;
    if (item.fileURL) {
        entries << MenuEntry::item(QStringLiteral("Quick Look"),
                                   act(&ShelfModel::selectAndPreview));
    }
    entries << MenuEntry::item(artifact ? QStringLiteral("Open in Browser")
                                        : QStringLiteral("Open"),
                               act(&ShelfModel::openInDefaultApp));
    if (item.fileURL) {
        entries << MenuEntry::item(QStringLiteral("Reveal in Files"),
                                   act(&ShelfModel::revealInFinder));
    }
    entries << MenuEntry::divider();
    entries << MenuEntry::item(artifact ? QStringLiteral("Copy Link") : QStringLiteral("Copy Path"),
                               act(&ShelfModel::copyLink));
    if (item.kind == ShelfItemKind::image) {
        entries << MenuEntry::item(QStringLiteral("Copy Image"), act(&ShelfModel::copyImage));
    }
    entries << MenuEntry::divider();
    entries << MenuEntry::item(QStringLiteral("Hide from Shelf"), act(&ShelfModel::hide));
    entries << MenuEntry::item(QStringLiteral("Delete"), [model, item] {
        if (model) {
            model->deleteItems({item});
        }
    });
    return entries;
}

QString ThumbnailView::accessibleLabel() const {
    QString label =
        item_.title + QStringLiteral(", ") + ThumbnailKinds::accessibilityWord(item_.kind);
    if (item_.isUnread()) {
        label += QStringLiteral(", new");
    }
    return label;
}

QAccessible::State ThumbnailView::accessibleState() const {
    QAccessible::State state;
    state.selectable = true;
    state.focusable = true;
    state.selected = options_.selected;
    // The selected card is where the keyboard is.
    state.focused = options_.selected;
    state.hotTracked = hovering_;
    return state;
}

QStringList ThumbnailView::accessibleActions() const {
    return {QAccessibleActionInterface::pressAction()};
}

void ThumbnailView::doAccessibleAction(const QString& name) {
    if (name != QAccessibleActionInterface::pressAction() || !model_) {
        return;
    }
    // A double click's opening, which no pointer drag before it holds back.
    model_->setSelectedItemID(item_.id);
    if (model_->onPreviewOpened) {
        model_->onPreviewOpened();
    }
    model_->openInDefaultApp(item_);
}

void ThumbnailView::hoverEnterEvent(QGraphicsSceneHoverEvent* event) {
    hovering_ = true;
    if (model_) {
        model_->setHoveredItem(item_);
    }
    DragLift::shared().setHover(item_.id, event->pos(), renderer());
    update();
}

void ThumbnailView::hoverMoveEvent(QGraphicsSceneHoverEvent* event) {
    DragLift::shared().setHover(item_.id, event->pos(), renderer());
}

void ThumbnailView::hoverLeaveEvent(QGraphicsSceneHoverEvent*) {
    hovering_ = false;
    // Another card may have taken the hover meanwhile.
    if (model_ && model_->hoveredItem() && model_->hoveredItem()->id == item_.id) {
        model_->setHoveredItem(std::nullopt);
    }
    update();
}

void ThumbnailView::mousePressEvent(QGraphicsSceneMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    pressed_ = true;
    doubleClick_ = false;
    dragged_ = false;
    pressAt_ = event->pos();
}

void ThumbnailView::mouseDoubleClickEvent(QGraphicsSceneMouseEvent* event) {
    mousePressEvent(event);
    doubleClick_ = event->button() == Qt::LeftButton;
}

void ThumbnailView::mouseMoveEvent(QGraphicsSceneMouseEvent* event) {
    if (!pressed_) {
        return;
    }
    const QPointF translation = event->pos() - pressAt_;
    if (!dragged_ && std::hypot(translation.x(), translation.y()) < dragMinimum) {
        return;
    }
    dragged_ = true;
    if (!options_.dragsOut || !model_ || model_->isDraggingOut()) {
        return;
    }
    DragLift::shared().setPending(item_.id, pressAt_, translation, renderer());
    model_->beginDragOut(item_);
}

void ThumbnailView::mouseReleaseEvent(QGraphicsSceneMouseEvent* event) {
    if (!pressed_ || event->button() != Qt::LeftButton) {
        return;
    }
    pressed_ = false;
    if (dragged_) {
        return;
    }
    const int count = doubleClick_ ? 2 : 1;
    if (onTap_) {
        onTap_(count);
    } else if (model_) {
        model_->click(item_, count);
    }
}

void ThumbnailView::contextMenuEvent(QGraphicsSceneContextMenuEvent* event) {
    QMenu menu;
    MenuAction::fill(menu, contextMenu());
    menu.exec(event->screenPos());
}

} // namespace ostrel
