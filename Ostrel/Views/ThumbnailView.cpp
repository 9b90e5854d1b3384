// The live card in a scene: its item, picture loading and fade, pointer input, menu and what a
// screen reader is told. How it looks is ThumbnailCard's.
#include "Ostrel/Views/ThumbnailView.h"

#include "Ostrel/Model/MenuAction.h"
#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Views/RasterBands.h"
#include "Ostrel/Views/ShelfTips.h"
#include "OstrelCore/Display/ShelfStyle.h"

#include <QAccessibleActionInterface>
#include <QGraphicsSceneContextMenuEvent>
#include <QGraphicsSceneHoverEvent>
#include <QGraphicsSceneMouseEvent>
#include <QGraphicsView>
#include <QMenu>
#include <QPainter>

#include <cmath>
#include <utility>

namespace ostrel {

namespace {

// How far the pointer moves before a press becomes a drag.
constexpr double dragMinimum = 3;
constexpr double fadeDuration = 0.12;
constexpr double frameInterval = 1.0 / 60;

// Puts the painter on whole device pixels at `ratio` where it would draw a card of `size` less
// than half a device pixel larger or smaller than that (a spring settling scales what holds the
// card by a few ten-thousandths for a moment): the card is then drawn as it stands, pixel for
// pixel. Drawn as the painter asks, its picture would be scaled anew by that hair and every line
// in it spread over two pixels until the spring comes to rest. A card drawn at another size, or
// turned, is left to the painter.
void snapTo(QPainter& painter, double ratio, QSizeF size) {
    const QTransform world = painter.worldTransform();
    const double device = painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1.0;
    const double drawn = RasterBands::ratio(painter);
    const double extent = std::max(size.width(), size.height());
    if (world.type() > QTransform::TxScale || drawn == ratio || !(device > 0) ||
        !(world.m11() > 0 && world.m22() > 0) ||
        std::abs(world.m11() - world.m22()) * extent * device >= 0.5 ||
        std::abs(drawn - ratio) * extent >= 0.5) {
        return;
    }
    const double scale = ratio / device;
    painter.setWorldTransform(QTransform(scale, 0, 0, scale,
                                         std::round(world.dx() * device) / device,
                                         std::round(world.dy() * device) / device));
}

} // namespace

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

Thumbnailer::Fill ThumbnailView::fill() const {
    double ratio = pixelRatio_;
    if (scene() != nullptr) {
        for (const QGraphicsView* view : scene()->views()) {
            ratio = std::max(ratio, view->devicePixelRatioF());
        }
    }
    return {size_, ratio > 0 ? ratio : Thumbnailer::screenPixelRatio()};
}

bool ThumbnailView::wantsPicture() const {
    return !image_ || (item_.kind == ShelfItemKind::image && !Thumbnailer::fills(*image_, fill()));
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
    const bool tipChanged = options.showsTitle != options_.showsTitle ||
                            options.showsTip != options_.showsTip ||
                            options.tipAvoid != options_.tipAvoid;
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
    if (!wantsPicture() || !model_) {
        return;
    }
    load_.cancel();
    const QString id = item_.id;
    const Thumbnailer::Fill card = fill();
    loadedFor_ = card.pixels();
    load_ = Thumbnailer::load(
        item_, model_->thumbURL(id), side(), this,
        [this, id](std::optional<QImage> picture) { pictureArrived(id, std::move(picture)); },
        card);
}

void ThumbnailView::pictureArrived(const QString& itemID, std::optional<QImage> picture) {
    if (itemID != item_.id || !picture || !wantsPicture()) {
        return;
    }
    // A card keeps what it shows until a sharper picture comes: asking for a finer one, it may get
    // the stored thumbnail of a file that has gone meanwhile.
    const QSize card = fill().pixels();
    if (image_ && Thumbnailer::enlargement(picture->size(), card) >
                      Thumbnailer::enlargement(image_->size(), card)) {
        return;
    }
    const bool first = !image_;
    image_ = std::move(picture);
    fading_ = {};
    // Fades in only where the user is looking: the open shelf of this card's display. A sharper
    // picture takes the place of a blurred one at once.
    if (first && model_ && model_->openScreen() == display_) {
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
    tip.avoid = options_.tipAvoid;
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
    if (options_.grounded) {
        c.ground = ShelfStyle::drawerGround();
    }
    c.titleLayout = title_;
    return c;
}

DragLift::Render ThumbnailView::renderer() {
    return [self = QPointer<ThumbnailView>(this)](double pixelRatio, bool shadow) -> QImage {
        if (!self) {
            return {};
        }
        return LiftedCard::render(self->card(), pixelRatio, shadow);
    };
}

QRectF ThumbnailView::boundingRect() const {
    return QRectF(QPointF(0, 0), size_);
}

QPainterPath ThumbnailView::shape() const {
    return ThumbnailCard::outline(size_);
}

void ThumbnailView::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    painter->save();
    snapTo(*painter, fill().pixelRatio, size_);
    // Drawn finer than its picture was loaded for (its view moved to a denser screen, or it had
    // none when it was shown): a sharper one is loaded. The drawer growing open draws it smaller
    // first, which asks for nothing.
    pixelRatio_ = std::max(pixelRatio_, RasterBands::ratio(*painter));
    if (shown_ && fill().pixels() != loadedFor_ && wantsPicture()) {
        startLoad();
    }
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
    painter->restore();
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
