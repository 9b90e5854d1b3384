#include "Ostrel/Surface/ShelfView.h"

#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Surface/DrawerContent.h"
#include "Ostrel/Surface/ShelfPanelAccessible.h"
#include "Ostrel/Views/AccessibleItem.h"
#include "Ostrel/Views/AccessibleTree.h"
#include "Ostrel/Views/SessionRailView.h"
#include "Ostrel/Views/ShelfHeader.h"
#include "Ostrel/Views/ShelfTips.h"
#include "Ostrel/Views/ThumbnailView.h"
#include "Ostrel/Views/ViewContext.h"

#include "OstrelCore/Display/DrawerSize.h"
#include "OstrelCore/Display/ShelfLayoutKind.h"

#include <QGraphicsEffect>
#include <QGraphicsSceneMouseEvent>
#include <QGraphicsView>
#include <QPaintDevice>
#include <QPainter>
#include <QStyleOptionGraphicsItem>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <utility>

namespace ostrel {

namespace {

double monotonicSeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

double pixelsOf(const QPainter* painter) {
    const QPaintDevice* device = painter->device();
    return device ? device->devicePixelRatioF() : 1.0;
}

// Fades the drawer content and cuts it to the drawer's outline with smooth edges. A clip path on
// the painter cuts pixels whole, which leaves stair steps along the rounded corners; here the
// content is drawn into a layer and composited through an anti-aliased mask of the outline.
class DrawerClip : public QGraphicsEffect {
public:
    void set(const QPainterPath& path, double opacity) {
        if (path == path_ && opacity == opacity_) {
            return;
        }
        path_ = path;
        opacity_ = opacity;
        update();
    }

protected:
    void draw(QPainter* painter) override {
        if (opacity_ <= 0 || path_.isEmpty()) {
            return;
        }
        QPoint offset;
        // The content drawn scaled (the drawer growing open or shrinking shut): what items keep
        // as pictures of themselves (a deck's cards) is scaled smoothly, not sampled into stripes.
        const bool smooth = painter->testRenderHint(QPainter::SmoothPixmapTransform);
        painter->setRenderHint(QPainter::SmoothPixmapTransform,
                               smooth ||
                                   painter->worldTransform().type() > QTransform::TxTranslate);
        const QPixmap source = sourcePixmap(Qt::DeviceCoordinates, &offset, NoPad);
        painter->setRenderHint(QPainter::SmoothPixmapTransform, smooth);
        if (source.isNull()) {
            return;
        }
        const double dpr = source.devicePixelRatio();
        QImage layer = source.toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
        layer.setDevicePixelRatio(dpr);
        // The mask changes only while the drawer moves; at rest it is drawn once.
        const Mask key{path_, painter->worldTransform(), layer.size(), offset, dpr, {}};
        if (!mask_.sameAs(key)) {
            mask_ = key;
            mask_.image = QImage(layer.size(), QImage::Format_ARGB32_Premultiplied);
            mask_.image.setDevicePixelRatio(dpr);
            mask_.image.fill(Qt::transparent);
            QPainter p(&mask_.image);
            p.setRenderHint(QPainter::Antialiasing);
            // The offset is in the device's logical coordinates.
            p.translate(-QPointF(offset));
            p.setTransform(painter->worldTransform(), true);
            p.fillPath(path_, Qt::black);
        }
        {
            QPainter p(&layer);
            p.setCompositionMode(QPainter::CompositionMode_DestinationIn);
            p.drawImage(0, 0, mask_.image);
        }
        painter->save();
        painter->setWorldTransform(QTransform());
        painter->setOpacity(painter->opacity() * std::min(opacity_, 1.0));
        painter->drawImage(QPointF(offset), layer);
        painter->restore();
    }

private:
    struct Mask {
        QPainterPath path;
        QTransform transform;
        QSize size;
        QPoint offset;
        double dpr = 0;
        QImage image;
        bool sameAs(const Mask& other) const {
            return !image.isNull() && size == other.size && offset == other.offset &&
                   dpr == other.dpr && transform == other.transform && path == other.path;
        }
    };

    QPainterPath path_;
    double opacity_ = 1;
    Mask mask_;
};

} // namespace

// Holds the drawer content, mapped from its own open-size coordinates into the panel.
class ShelfView::ContentFrame : public QGraphicsObject {
public:
    explicit ContentFrame(QGraphicsItem* parent) : QGraphicsObject(parent), clip_(new DrawerClip) {
        setGraphicsEffect(clip_);
        setAcceptedMouseButtons(Qt::NoButton);
    }
    void apply(const DrawerMotion::Frame& f) {
        if (size_ != f.contentSize) {
            prepareGeometryChange();
            size_ = f.contentSize;
        }
        setTransform(f.contentTransform);
        bool invertible = false;
        const QTransform back = f.contentTransform.inverted(&invertible);
        clip_->set(invertible ? back.map(f.shape) : QPainterPath(), f.contentOpacity);
        // Open and still, the drawer's outline cuts only its rounded corners, where the content
        // keeps its padding: the content is drawn straight, clipped to the outline (hard-edged,
        // which shows only if something reaches a corner), without the layer and mask the smooth
        // cut costs on every frame.
        const bool whole = invertible && f.contentOpacity >= 1 &&
                           f.contentTransform.type() <= QTransform::TxTranslate &&
                           std::abs(f.contentFrame.width() - f.contentSize.width()) < 0.5 &&
                           std::abs(f.contentFrame.height() - f.contentSize.height()) < 0.5;
        const QPainterPath outline = whole ? back.map(f.shape) : QPainterPath();
        if (outline != outline_) {
            prepareGeometryChange();
            outline_ = outline;
        }
        setFlag(ItemClipsChildrenToShape, whole);
        clip_->setEnabled(!whole);
        // Nearly revealed content alone takes the pointer; a disabled item passes no events to
        // its children.
        setEnabled(f.contentHits);
        setVisible(f.contentOpacity > 0);
    }
    QRectF boundingRect() const override { return QRectF(QPointF(), size_); }
    QPainterPath shape() const override {
        if (outline_.isEmpty()) {
            return QGraphicsObject::shape();
        }
        return outline_;
    }
    void paint(QPainter*, const QStyleOptionGraphicsItem*, QWidget*) override {}

private:
    DrawerClip* clip_;
    QSizeF size_;
    QPainterPath outline_;
};

// The count badge, in front of the content.
class ShelfView::BadgeItem : public QGraphicsItem {
public:
    explicit BadgeItem(ShelfView* view) : QGraphicsItem(view), view_(view) {
        setAcceptedMouseButtons(Qt::NoButton);
    }
    QRectF boundingRect() const override { return view_->boundingRect(); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override {
        painter->setRenderHint(QPainter::TextAntialiasing);
        DrawerMotion::paintBadge(*painter, view_->frame_);
    }

private:
    ShelfView* view_;
};

// The peek card's hit area: a tap opens the shelf, a drag moves the card along its edge's axis.
class ShelfView::CardItem : public QGraphicsItem {
public:
    explicit CardItem(ShelfView* view) : QGraphicsItem(view), view_(view) {
        setAcceptedMouseButtons(Qt::LeftButton);
        setVisible(false);
    }
    void setArea(const std::optional<QRectF>& area) {
        if (!area) {
            if (dragging_) {
                dragging_ = false;
            }
            setVisible(false);
            return;
        }
        if (rect_ != QRectF(QPointF(), area->size())) {
            prepareGeometryChange();
            rect_ = QRectF(QPointF(), area->size());
        }
        // The area follows the dragged card; the drag is measured in the panel, so it does not
        // move under the pointer.
        setPos(area->topLeft());
        setVisible(true);
    }
    QRectF boundingRect() const override { return rect_; }
    QPainterPath shape() const override {
        QPainterPath p;
        p.addPath(CornerShape::uniform(Motion::cardCorner).path(rect_));
        return p;
    }
    void paint(QPainter*, const QStyleOptionGraphicsItem*, QWidget*) override {}

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override {
        press_ = event->scenePos();
        samples_.clear();
        samples_.push_back({view_->now(), press_});
        dragging_ = false;
        event->accept();
    }
    void mouseMoveEvent(QGraphicsSceneMouseEvent* event) override {
        const QPointF t = event->scenePos() - press_;
        samples_.push_back({view_->now(), event->scenePos()});
        if (samples_.size() > 4) {
            samples_.erase(samples_.begin());
        }
        if (!dragging_ && std::hypot(t.x(), t.y()) < Motion::dragMinimum) {
            return;
        }
        dragging_ = true;
        view_->cardDragged(t, predicted(t), false);
    }
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override {
        const QPointF t = event->scenePos() - press_;
        if (dragging_) {
            dragging_ = false;
            view_->cardDragged(t, predicted(t), true);
        } else {
            view_->cardTapped();
        }
    }

private:
    struct Sample {
        double time;
        QPointF pos;
    };
    // Where the card would come to rest if let go now: the drag plus its recent velocity carried
    // on for a quarter second.
    QPointF predicted(const QPointF& translation) const {
        if (samples_.size() < 2) {
            return translation;
        }
        const Sample& a = samples_.front();
        const Sample& b = samples_.back();
        const double dt = b.time - a.time;
        if (dt <= 0) {
            return translation;
        }
        const QPointF v = (b.pos - a.pos) / dt;
        return translation + v * 0.25;
    }

    ShelfView* view_;
    QRectF rect_;
    QPointF press_;
    std::vector<Sample> samples_;
    bool dragging_ = false;
};

ShelfView::ShelfView(quint32 display, Hooks hooks, Clock clock, QGraphicsItem* parent)
    : QGraphicsObject(parent), display_(display), hooks_(std::move(hooks)),
      clock_(clock ? std::move(clock) : Clock(monotonicSeconds)),
      signal_(display, ShelfSignal::Hooks{
                           [this] {
                               ShelfSignal::Inputs s;
                               s.signalUnread = in_.signalUnread;
                               s.signal = in_.signal;
                               s.glowStrength = in_.glowStrength;
                               s.glowPulses = in_.glowPulses;
                               s.pillPreview = in_.pillPreview;
                               if (in_.layout) {
                                   s.style = in_.layout->style();
                                   s.peekCard = in_.layout->peekCardRect().size();
                               }
                               s.peekHovered = in_.peekHovered;
                               s.countWidth = in_.countWidth;
                               return s;
                           },
                           [this] { return motionContext(); },
                           [this](bool on) {
                               if (hooks_.setPeeking) {
                                   hooks_.setPeeking(on);
                               }
                           },
                           [this] { return hooks_.arrivalCount ? hooks_.arrivalCount() : 0; },
                           [this](int n) {
                               return hooks_.arrivalImages ? hooks_.arrivalImages(n)
                                                           : std::vector<std::optional<QImage>>{};
                           },
                       }),
      contentFrame_(new ContentFrame(this)), badge_(new BadgeItem(this)),
      card_(new CardItem(this)) {
    setAcceptedMouseButtons(Qt::NoButton);
    setFlag(ItemHasNoContents, false);
    // The part to repaint is told to paint(): a scroll repaints a little of the surface.
    setFlag(ItemUsesExtendedStyleOption);
    contentFrame_->setZValue(1);
    badge_->setZValue(2);
    card_->setZValue(3);
    frames_.setTimerType(Qt::PreciseTimer);
    frames_.setSingleShot(true);
    connect(&frames_, &QTimer::timeout, this, &ShelfView::tick);
}

ShelfView::~ShelfView() {
    // The content belongs to the drawer; it goes with the view.
    delete content_.data();
}

double ShelfView::now() const {
    return clock_();
}

Motion::Context ShelfView::motionContext() const {
    return hooks_.motion ? hooks_.motion() : Motion::current();
}

void ShelfView::setCompositing(bool on) {
    if (compositing_ != on) {
        compositing_ = on;
        update();
    }
}

void ShelfView::setInputs(const Inputs& next) {
    const double t = now();
    const auto m = motionContext();
    const Inputs prev = in_;
    in_ = next;
    const std::optional<DisplayStyle> style =
        next.layout ? std::optional<DisplayStyle>(next.layout->style()) : std::nullopt;
    const Motion::GlowLook look = Motion::glowLook(next.glowStrength);

    if (!started_) {
        started_ = true;
        progress_.set(next.openScreen == display_ ? 1 : 0);
        message_.set(next.pendingUndo ? DrawerSize::messageRoom : 0);
        radius_.set(look.radius);
        core_.set(look.core);
        sunk_.set(next.styleSunk ? 1 : 0);
        lineLit_.set(next.signalUnread >= 1 ? 1 : 0);
        signal_.refresh(false, t);
        updateContent();
        compose(t);
        scheduleFrames();
        return;
    }

    signal_.advance(t);
    if (next.arrivalTick != prev.arrivalTick) {
        signal_.arrivalChanged(t);
    }
    if (next.styleSunk != prev.styleSunk) {
        signal_.sunkChanged(next.styleSunk, t);
        sunk_.animate(next.styleSunk ? 1 : 0, next.sunkCurve, t);
    }
    if (next.stylePulseTick != prev.stylePulseTick) {
        signal_.restartStylePulse(t);
    }
    if (next.openScreen != prev.openScreen) {
        signal_.openChanged(next.openScreen, t);
        // Under reduce motion the drawer fades where it would grow; without a compositor a fade
        // cannot blend and shows its colours unmixed (the closed shelf's accent wash, then
        // black), so there the drawer comes and goes at once.
        const bool atOnce = m.reduceMotion && !compositing_;
        if (next.openScreen == display_) {
            progress_.animate(1, atOnce ? Motion::Curve::none() : Motion::drawerOpen(style, m), t);
        } else if (prev.openScreen == display_) {
            progress_.animate(0, atOnce ? Motion::Curve::none() : Motion::drawerClose(style, m), t);
        }
    }
    if (next.peekHovered != prev.peekHovered) {
        signal_.peekHoverChanged(next.peekHovered, t);
    }
    if (next.signalUnread != prev.signalUnread) {
        signal_.unreadChanged(next.signalUnread, t);
        countFrom_ = prev.signalUnread;
        countRoll_.set(0);
        countRoll_.animate(1, Motion::drawerSpring(m), t);
    }
    if (next.signal != prev.signal) {
        signal_.refresh(true, t);
    }
    if (next.glowStrength != prev.glowStrength) {
        signal_.refresh(true, t);
        radius_.animate(look.radius, Motion::slowFade(m), t);
        core_.animate(look.core, Motion::slowFade(m), t);
    }
    message_.animate(next.pendingUndo ? DrawerSize::messageRoom : 0, Motion::standard(m), t);
    lineLit_.animate(next.signalUnread >= 1 ? 1 : 0, Motion::fadeOut(m), t);
    updateContent();
    compose(t);
    scheduleFrames();
}

void ShelfView::updateContent() {
    std::optional<DrawerContentPlan> plan;
    if (in_.layout && in_.drawerBuilt) {
        const DisplayLayout& layout = *in_.layout;
        const ShelfLayoutKind kind = resolveShelfLayoutKind(layout.style(), in_.layoutChoice);
        plan = DrawerContentPlan{
            display_,
            kind,
            layout.drawerSize(kind),
            in_.pendingUndo ? DrawerSize::messageRoom : 0,
            DrawerGeometry::topReserve(layout),
            layout.style().position() == DisplayStylePosition::bottom ? 8.0 : 0.0,
            layout.messageOnTop(),
        };
    }
    if (!plan) {
        delete content_.data();
        // Nothing of this display counts as visible while its drawer is not built.
        if (!clearedRegion_ && hooks_.clearRegion) {
            hooks_.clearRegion();
        }
        clearedRegion_ = true;
        plan_.reset();
        return;
    }
    clearedRegion_ = false;
    if (!content_ && hooks_.makeContent) {
        content_ = hooks_.makeContent(*plan);
        if (content_) {
            content_->setParentItem(contentFrame_);
            content_->setPos(0, 0);
            content_->setPlan(*plan);
        }
    } else if (content_ && plan != plan_) {
        content_->setPlan(*plan);
    }
    plan_ = plan;
}

void ShelfView::compose(double t) {
    if (!in_.layout) {
        if (!frame_.panel.isEmpty()) {
            prepareGeometryChange();
        }
        frame_ = DrawerMotion::Frame{};
        contentFrame_->setVisible(false);
        card_->setArea(std::nullopt);
        update();
        return;
    }
    const auto m = motionContext();
    const DisplayLayout& layout = *in_.layout;
    const ShelfLayoutKind kind = resolveShelfLayoutKind(layout.style(), in_.layoutChoice);
    DrawerMotion d;
    d.progress = progress_.value(t);
    d.trailing = signal_.trailing().value(t);
    d.message = message_.value(t);
    d.layout = layout;
    d.base = layout.drawerSize(kind);
    d.glow = signal_.glow().value(t);
    d.halo = in_.signal == ArrivalSignal::glow;
    d.strength = Motion::GlowLook{radius_.value(t), core_.value(t)};
    d.count = in_.signalUnread;
    d.countFrom = countFrom_;
    d.countRoll = countRoll_.value(t);
    d.hidesAtRest = layout.hidesAtRest(in_.fullscreen);
    d.peeking = signal_.peekShown().value(t);
    d.peekActive = signal_.peeking();
    d.peekImages = signal_.peekImages();
    d.peekCount = signal_.peekCount();
    d.pile = in_.pillPile;
    d.cardDrag = signal_.cardDrag().value(t);
    d.sunk = sunk_.value(t);
    d.highlight = signal_.highlight().value(t);
    d.restLevel = Motion::glowOpacity(in_.glowStrength, m);
    d.lineLit = lineLit_.value(t);
    d.reduceMotion = m.reduceMotion;
    motion_ = std::move(d);
    const QSizeF oldPanel = frame_.panel;
    frame_ = motion_.compose();
    if (oldPanel != frame_.panel) {
        prepareGeometryChange();
    }
    contentFrame_->apply(frame_);
    card_->setArea(frame_.cardHitArea);
    badge_->update();
    placeTips();
    labelWindows();
    update();
}

void ShelfView::placeTips() {
    if (!hooks_.placeTips || !in_.layout) {
        return;
    }
    const DisplayLayout& layout = *in_.layout;
    const QRectF panel = layout.panelFrame();
    const ShelfLayoutKind kind = resolveShelfLayoutKind(layout.style(), in_.layoutChoice);
    const QRectF drawer = DrawerMotion::toPanel(
        panel,
        layout.drawerRect(layout.drawerSize(kind), in_.pendingUndo ? DrawerSize::messageRoom : 0));
    constexpr double inset = 8;
    const QRectF bounds = drawer.adjusted(inset, inset, -inset, -inset);
    std::optional<QRectF> avoid;
    if (layout.style().isNotch()) {
        avoid = DrawerMotion::toPanel(panel, layout.collapsedRect());
    }
    auto place = std::make_pair(bounds, avoid);
    if (tipPlace_ != place) {
        tipPlace_ = place;
        hooks_.placeTips(bounds, avoid);
    }
}

void ShelfView::labelWindows() {
    if (!scene()) {
        return;
    }
    const QString label = accessibleLabel();
    for (QGraphicsView* view : scene()->views()) {
        if (view->accessibleName() != label) {
            view->setAccessibleName(label);
        }
    }
}

QVariant ShelfView::itemChange(GraphicsItemChange change, const QVariant& value) {
    if (change == ItemSceneHasChanged) {
        labelWindows();
    }
    return QGraphicsObject::itemChange(change, value);
}

void ShelfView::tick() {
    const double t = now();
    signal_.advance(t);
    compose(t);
    scheduleFrames();
}

void ShelfView::scheduleFrames() {
    const double t = now();
    const bool moving = progress_.isRunning(t) || message_.isRunning(t) || radius_.isRunning(t) ||
                        core_.isRunning(t) || sunk_.isRunning(t) || lineLit_.isRunning(t) ||
                        countRoll_.isRunning(t) || signal_.glow().isRunning(t) ||
                        signal_.trailing().isRunning(t) || signal_.highlight().isRunning(t) ||
                        signal_.cardDrag().isRunning(t) || signal_.peekShown().isRunning(t);
    if (moving) {
        frames_.start(1000 / 60);
        return;
    }
    if (const auto due = signal_.nextDue()) {
        frames_.start(static_cast<int>(std::clamp(std::ceil((*due - t) * 1000), 0.0, 1e9)));
        return;
    }
    frames_.stop();
}

void ShelfView::announceSelection(const std::optional<QString>& itemID) {
    if (!QAccessible::isActive() || !scene()) {
        return;
    }
    ThumbnailView* card = nullptr;
    for (QGraphicsView* view : scene()->views()) {
        for (QGraphicsObject* item : AccessibleTree::of(view)->items()) {
            auto* shown = qobject_cast<ThumbnailView*>(item);
            if (shown && itemID && shown->item().id == *itemID) {
                card = shown;
            }
        }
    }
    QAccessible::State selected;
    selected.selected = true;
    selected.focused = true;
    if (announced_ && announced_ != card) {
        AccessibleItem::notifyState(announced_, selected);
    }
    announced_ = card;
    if (card) {
        AccessibleItem::notifyState(card, selected);
        AccessibleItem::notify(card, QAccessible::Focus);
    }
}

QString ShelfView::accessibleLabel() const {
    if (in_.signalUnread < 1) {
        return QStringLiteral("Ostrel shelf");
    }
    return QString::asprintf("%lld", static_cast<long long>(in_.signalUnread)) +
           QStringLiteral(" new items");
}

QRectF ShelfView::boundingRect() const {
    return QRectF(QPointF(), frame_.panel);
}

void ShelfView::paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget*) {
    if (!in_.layout) {
        return;
    }
    motion_.paintBehind(*painter, frame_, pixelsOf(painter), compositing_,
                        option ? option->exposedRect : QRectF());
}

void ShelfView::cardTapped() {
    if (hooks_.peekTapped) {
        hooks_.peekTapped();
    }
}

void ShelfView::cardDragged(QPointF translation, QPointF predicted, bool ended) {
    const double t = now();
    signal_.advance(t);
    signal_.cardDragged(translation, predicted, ended, t);
    compose(t);
    scheduleFrames();
}

namespace {

ShelfView::Inputs inputsFrom(const ShelfModel& model, quint32 display) {
    ShelfView::Inputs in;
    const auto& layouts = model.layouts();
    if (const auto it = layouts.find(display); it != layouts.end()) {
        in.layout = it->second;
    }
    in.layoutChoice = model.layoutChoice();
    in.pendingUndo = model.pendingUndo().has_value();
    in.drawerBuilt = model.drawerBuilt();
    in.openScreen = model.openScreen();
    in.fullscreen = model.fullscreen().contains(display);
    in.signal = model.signal();
    in.glowStrength = model.glowStrength();
    in.glowPulses = static_cast<int>(model.glowPulses());
    in.pillPreview = model.pillPreview();
    in.pillPile = model.pillPile();
    in.signalUnread = static_cast<int>(std::min<qint64>(model.signalUnread(), INT_MAX));
    in.arrivalTick = static_cast<int>(model.arrivalTick());
    in.peekHovered = model.peekHovered();
    in.styleSunk = model.styleSunk();
    // Only read when the sunk flag changes, which the model announces with its curve.
    in.sunkCurve = model.animation();
    in.stylePulseTick = static_cast<int>(model.stylePulseTick());
    in.countWidth = model.countWidth();
    return in;
}

} // namespace

ViewContext ShelfView::drawerContext(ShelfModel& model, quint32 display) {
    ViewContext context;
    context.model = &model;
    context.display = display;
    context.clock = model.clock();
    context.tips = dynamic_cast<ShelfTips*>(&model.tips());
    context.makeCard = ThumbnailView::factory(context);
    return context;
}

ShelfView* ShelfView::create(ShelfModel& model, quint32 display) {
    ShelfPanelAccessible::install();
    QPointer<ShelfModel> m(&model);
    Hooks hooks;
    hooks.setPeeking = [m, display](bool on) {
        if (m) {
            m->setPeeking(display, on);
        }
    };
    hooks.arrivalCount = [m] { return m ? static_cast<int>(m->arrivalItems().size()) : 0; };
    hooks.arrivalImages = [m](int n) {
        std::vector<std::optional<QImage>> images;
        if (!m) {
            return images;
        }
        for (const auto& item : m->arrivalItems()) {
            if (static_cast<int>(images.size()) >= n) {
                break;
            }
            QImage image(m->thumbURL(item.id).toLocalFile());
            images.push_back(image.isNull() ? std::nullopt : std::optional<QImage>(image));
        }
        return images;
    };
    hooks.clearRegion = [m, display] {
        if (m) {
            m->clearRegion(display);
        }
    };
    hooks.peekTapped = [m, display] {
        if (m && m->onPeekTapped) {
            m->onPeekTapped(display);
        }
    };
    const ViewContext context = drawerContext(model, display);
    hooks.makeContent = DrawerContent::factory(context);
    auto tipLayer = std::make_shared<QPointer<TipLayer>>();
    hooks.placeTips = [tipLayer](const QRectF& bounds, const std::optional<QRectF>& avoid) {
        if (*tipLayer) {
            (*tipLayer)->setBounds(bounds, avoid);
        }
    };
    const std::shared_ptr<MainClock> clock = context.clock;
    auto* view = new ShelfView(display, std::move(hooks), [clock] { return clock->now(); });
    *tipLayer = new TipLayer(context.tips, display, context.clock, view);
    const auto follow = [view, m, display] {
        if (m) {
            view->setInputs(inputsFrom(*m, display));
        }
    };
    for (const auto signal : {&ShelfModel::layoutsChanged, &ShelfModel::layoutChoiceChanged,
                              &ShelfModel::pendingUndoChanged, &ShelfModel::drawerBuiltChanged,
                              &ShelfModel::openScreenChanged, &ShelfModel::fullscreenChanged,
                              &ShelfModel::signalChanged, &ShelfModel::glowStrengthChanged,
                              &ShelfModel::glowPulsesChanged, &ShelfModel::pillPreviewChanged,
                              &ShelfModel::pillPileChanged, &ShelfModel::signalUnreadChanged,
                              &ShelfModel::arrivalTickChanged, &ShelfModel::peekHoveredChanged,
                              &ShelfModel::styleSunkChanged, &ShelfModel::stylePulseTickChanged}) {
        QObject::connect(&model, signal, view, follow);
    }
    follow();
    // Assistive technology hears of a selection move once the views have caught up with it.
    QObject::connect(&model, &ShelfModel::selectedItemIDChanged, view, [view, m] {
        QTimer::singleShot(0, view, [view, m] {
            if (m) {
                view->announceSelection(m->selectedItemID());
            }
        });
    });
    return view;
}

} // namespace ostrel
