#include "Ostrel/Panels/NotchPanel.h"

#include "Ostrel/Panels/FlatFrame.h"
#include "Ostrel/Panels/ShelfKeyEvent.h"

#include <QCoreApplication>
#include <QGraphicsItem>
#include <QGraphicsScene>
#include <QGraphicsSceneWheelEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEngine>
#include <QPainter>
#include <QScreen>
#include <QWheelEvent>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace ostrel {

NotchPanel::NotchPanel(QWidget* parent) : QGraphicsView(parent), scene_(new QGraphicsScene(this)) {
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                   Qt::BypassWindowManagerHint);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_X11DoNotAcceptFocus, false);
    setWindowTitle(QStringLiteral("Ostrel Shelf"));
    setScene(scene_);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setBackgroundBrush(Qt::NoBrush);
    setStyleSheet(QStringLiteral("background: transparent; border: none;"));
    viewport()->setAutoFillBackground(false);
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
    setRenderHint(QPainter::Antialiasing);
    setFocusPolicy(Qt::StrongFocus);
    // The scene's changes reach the viewport straight, as the region they dirty; nothing may
    // listen to the scene's `changed`, or Qt sends every change through it instead and turns a
    // geometry change of an item without extent (a scroll's moving content) into a repaint of the
    // whole scene. The frame below paces the repaints.
    setViewportUpdateMode(QGraphicsView::MinimalViewportUpdate);
    frame_.setSingleShot(true);
    frame_.setTimerType(Qt::PreciseTimer);
    connect(&frame_, &QTimer::timeout, this, &NotchPanel::paintFrame);
}

int NotchPanel::frameInterval() const {
    const QScreen* on = screen();
    const double rate = on && on->refreshRate() > 1 ? on->refreshRate() : 60;
    return std::clamp(int(std::floor(1000 / rate)), 4, 50);
}

// The window's repaint requests are held until a display frame has passed since the last one.
bool NotchPanel::paceRepaint() {
    const qint64 since = lastFrame_.isValid() ? lastFrame_.elapsed() : frameInterval();
    if (since < frameInterval()) {
        if (!frame_.isActive()) {
            frame_.start(int(frameInterval() - since));
        }
        return true;
    }
    frame_.stop();
    lastFrame_.restart();
    return false;
}

void NotchPanel::paintFrame() {
    QCoreApplication::postEvent(this, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
}

NotchPanel::~NotchPanel() = default;

void NotchPanel::setRootItem(QGraphicsItem* item) {
    if (root_ == item) {
        return;
    }
    if (root_) {
        scene_->removeItem(root_);
        delete root_;
    }
    root_ = item;
    if (root_) {
        scene_->addItem(root_);
    }
}

void NotchPanel::resizeEvent(QResizeEvent* event) {
    QGraphicsView::resizeEvent(event);
    // The whole window paints anew and is cut again.
    flat_.clear();
    scene_->setSceneRect(QRectF(QPointF(0, 0), QSizeF(size())));
}

void NotchPanel::setCompositing(bool on) {
    if (compositing_ == on) {
        return;
    }
    compositing_ = on;
    cut_.reset();
    flat_.clear();
    if (on && windowHandle()) {
        windowHandle()->setMask(QRegion());
    }
    viewport()->update();
}

// Without a compositor the pixels just painted are flattened where they lie, in the device the
// frame went to (the window's backing store, or a grab), and the window is cut to the pixels kept.
// The rest of the window keeps what earlier frames left: a wheel notch flattens the strip it
// scrolled, not the whole shelf.
void NotchPanel::paintEvent(QPaintEvent* event) {
    QGraphicsView::paintEvent(event);
    if (compositing_) {
        return;
    }
    QPainter painter(viewport());
    QPaintEngine* engine = painter.paintEngine();
    QPaintDevice* device = engine ? engine->paintDevice() : nullptr;
    if (!device || device->devType() != QInternal::Image) {
        return;
    }
    const QTransform toDevice = painter.deviceTransform();
    const QRegion painted = engine->systemClip().isEmpty()
                                ? QRegion(toDevice.mapRect(QRectF(viewport()->rect())).toRect())
                                : engine->systemClip();
    painter.end();
    // The viewport's own (0, 0) in the device, and the window's.
    const QPoint inWindow = viewport()->mapTo(this, QPoint());
    const QPointF origin = toDevice.map(QPointF(-inWindow));
    flat_.flatten(*static_cast<QImage*>(device), painted, origin.toPoint(), toDevice.m11());
    cutTo(flat_.shape());
}

void NotchPanel::cutTo(const QRegion& shape) {
    QWindow* window = windowHandle();
    if (!window || cut_ == shape) {
        return;
    }
    cut_ = shape;
    ++shapeRequests_;
    // The window's own shape, not the widget's mask: Qt holds a widget's painting to its mask,
    // and a shape that grows must first be painted to be known. An empty shape would show the
    // whole window: keep one pixel, off the window.
    window->setMask(shape.isEmpty() ? QRegion(-2, -2, 1, 1) : shape);
}

void NotchPanel::mousePressEvent(QMouseEvent* event) {
    if (onAnyPress) {
        onAnyPress();
    }
    if (event->button() == Qt::LeftButton && onPress) {
        onPress();
    }
    QGraphicsView::mousePressEvent(event);
}

void NotchPanel::mouseMoveEvent(QMouseEvent* event) {
    QGraphicsView::mouseMoveEvent(event);
    if (onPointer) {
        onPointer();
    }
}

// A warp onto the shelf comes as an enter without motion.
void NotchPanel::enterEvent(QEnterEvent* event) {
    QGraphicsView::enterEvent(event);
    if (onPointer) {
        onPointer();
    }
}

void NotchPanel::leaveEvent(QEvent* event) {
    QGraphicsView::leaveEvent(event);
    if (onPointer) {
        onPointer();
    }
}

// The scene's own delivery tests every item under the pointer against its shape clipped by its
// ancestors' (the drawer's rounded outline among them), a pile of path intersections at every
// notch. Here the items under the pointer are found by their bounding rectangles, the children of
// a clipping item only where it lies, and offered the event from the top down as the scene offers
// it; only a scroll area takes it, and its shape is its rectangle.
void NotchPanel::wheelEvent(QWheelEvent* event) {
    if (onScrollWheel && onScrollWheel(event)) {
        event->accept();
        return;
    }
    const QPointF at = mapToScene(event->position().toPoint());
    QGraphicsSceneWheelEvent wheel(QEvent::GraphicsSceneWheel);
    wheel.setWidget(viewport());
    wheel.setScenePos(at);
    wheel.setScreenPos(event->globalPosition().toPoint());
    wheel.setButtons(event->buttons());
    wheel.setModifiers(event->modifiers());
    const QPoint angle = event->angleDelta();
    const bool horizontal = std::abs(angle.x()) > std::abs(angle.y());
    wheel.setDelta(horizontal ? angle.x() : angle.y());
    wheel.setPixelDelta(event->pixelDelta());
    wheel.setPhase(event->phase());
    wheel.setInverted(event->isInverted());
    wheel.setOrientation(horizontal ? Qt::Horizontal : Qt::Vertical);
    wheel.setTimestamp(event->timestamp());
    event->ignore();
    const QList<QGraphicsItem*> under = scene_->items(
        QRectF(at, QSizeF(1, 1)), Qt::IntersectsItemBoundingRect, Qt::DescendingOrder);
    for (QGraphicsItem* item : under) {
        wheel.setPos(item->mapFromScene(at));
        wheel.accept();
        if (scene_->sendEvent(item, &wheel) && wheel.isAccepted()) {
            event->accept();
            return;
        }
    }
}

void NotchPanel::keyPressEvent(QKeyEvent* event) {
    if (const auto key = shelfKey(*event); key && onKey) {
        onKey(*key);
        event->accept();
        return;
    }
    QGraphicsView::keyPressEvent(event);
}

void NotchPanel::showEvent(QShowEvent* event) {
    QGraphicsView::showEvent(event);
    if (QWindow* handle = windowHandle()) {
        handle->removeEventFilter(this);
        handle->installEventFilter(this);
    }
}

void NotchPanel::hideEvent(QHideEvent* event) {
    QGraphicsView::hideEvent(event);
    exposed_ = false;
    if (onHidden) {
        onHidden();
    }
}

bool NotchPanel::isOnScreen() const {
    return isVisible() && windowHandle() && windowHandle()->isExposed();
}

// Another client can unmap the window behind Qt's back: Qt then only reports it unexposed.
bool NotchPanel::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Expose && watched == windowHandle()) {
        const bool exposed = windowHandle()->isExposed();
        const bool lost = exposed_ && !exposed && isVisible();
        exposed_ = exposed;
        if (lost && onHidden) {
            onHidden();
        }
    }
    return QGraphicsView::eventFilter(watched, event);
}

bool NotchPanel::event(QEvent* event) {
    if (event->type() == QEvent::UpdateRequest && paceRepaint()) {
        return true;
    }
    // Ctrl and Super combinations stop here, also those a shortcut would take.
    if ((event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) &&
        swallowsKeyCombination(*static_cast<QKeyEvent*>(event))) {
        event->accept();
        return true;
    }
    // A new native window starts without the shape: the next frame cuts it again.
    if (event->type() == QEvent::WinIdChange && !compositing_) {
        cut_.reset();
        viewport()->update();
    }
    return QGraphicsView::event(event);
}

} // namespace ostrel
