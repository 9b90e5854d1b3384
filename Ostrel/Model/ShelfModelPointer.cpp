#include "Ostrel/Model/ShelfModel.h"

#include "Ostrel/Model/ShelfModelParts.h"

#include <QGraphicsObject>
#include <QGraphicsView>
#include <QScreen>
#include <QWidget>

#include <algorithm>

// Which screen's drawer is open, what the pointer and the wheel do inside it, the drag-out of a
// card, and keeping the drawer warm, the selection valid and the views' anchors known.

namespace ostrel {

using namespace shelfModelParts;

void ShelfModel::setOpenScreen(const std::optional<DisplayID>& display) {
    tidyWork_.cancel();
    if (!display) {
        if (assign(openScreen_, display)) {
            emit openScreenChanged();
        }
        updateUndoClock();
        tips_->reset();
        toastHovered_ = false;
        drawer_.closed(clock_->now());
        scheduleCool();
        seenClock_.reset();
        hoveredItem_.reset();
        hoverFreeze_.reset();
        setHoverFrozenValue(hoverFreeze_.isFrozen());
        preview_->close();
        tidyWork_.after(Motion::tidyDelay * scale_, this, [this] { tidy(); });
    } else {
        if (!openScreen_) {
            dotIDs_ = unreadIDs_;
        }
        if (assign(openScreen_, display)) {
            emit openScreenChanged();
        }
        warmDrawer();
        updateUndoClock();
    }
    checkSeen();
}

void ShelfModel::tidy() {
    if (!openScreen_) {
        dotIDs_.clear();
    }
    Animating scope(*this, Motion::noAnimation());
    if (selectedSessionID_) {
        setSelectedSessionID(std::nullopt);
    }
    if (selectedItemID_) {
        setSelectedItemID(std::nullopt);
    }
    DeckFan closed = fan_;
    closed.close();
    setFanValue(closed);
    if (filter_.onlyNew) {
        rebuild();
    } else {
        recountUnread();
    }
}

void ShelfModel::itemAppeared(const QString& id, DisplayID display) {
    visibility_.appear(id, display);
    checkSeen();
}

void ShelfModel::itemDisappeared(const QString& id, DisplayID display) {
    visibility_.disappear(id, display);
    checkSeen();
}

void ShelfModel::setRegion(const QSet<QString>& ids, const QString& name, DisplayID display) {
    if (visibility_.setRegion(name, ids, display)) {
        checkSeen();
    }
}

void ShelfModel::clearRegion(DisplayID display) {
    visibility_.clear(display);
}

QUuid ShelfModel::addWheelReceiver(DisplayID display,
                                   std::function<void(const StripScroll::Input&)> handler) {
    const QUuid token = QUuid::createUuid();
    wheels_[display] = WheelReceiver{token, std::move(handler)};
    return token;
}

void ShelfModel::removeWheelReceiver(const QUuid& token, DisplayID display) {
    const auto it = wheels_.find(display);
    if (it != wheels_.end() && it->second.token == token) {
        wheels_.erase(it);
    }
}

bool ShelfModel::scrollWheel(const QWheelEvent& event, DisplayID display) {
    return scrollWheel(WheelSample::from(event), display);
}

bool ShelfModel::scrollWheel(const WheelSample& wheel, DisplayID display) {
    tips_->refreshAnchor();
    if (!openScreen_ || *openScreen_ != display) {
        return false;
    }
    if (wheels_.find(display) == wheels_.end()) {
        return false;
    }
    double delta =
        std::abs(wheel.delta.x()) > std::abs(wheel.delta.y()) ? wheel.delta.x() : wheel.delta.y();
    if (!wheel.precise) {
        delta *= Motion::wheelLine;
    }
    using Phase = WheelSample::Phase;
    if (wheel.phase != Phase::mayBegin) {
        scrolled();
    }
    delta = -delta;

    StripScroll::Input input = StripScroll::Input::line(delta);
    switch (wheel.momentum) {
    case WheelSample::Momentum::active:
        input = StripScroll::Input::momentum(delta, wheel.timestamp);
        break;
    case WheelSample::Momentum::ended:
        input = StripScroll::Input::momentumEnded();
        break;
    case WheelSample::Momentum::none:
        if (!wheel.precise || wheel.phase == Phase::none) {
            input = StripScroll::Input::line(delta);
        } else if (wheel.phase == Phase::mayBegin) {
            input = StripScroll::Input::press();
        } else if (wheel.phase == Phase::ended || wheel.phase == Phase::cancelled) {
            input = StripScroll::Input::lifted();
        } else {
            input = StripScroll::Input::touch(delta);
        }
        break;
    }
    // The scroll may have moved or removed the receiver; look it up again.
    const auto it = wheels_.find(display);
    if (it != wheels_.end() && it->second.handler) {
        const auto handler = it->second.handler;
        handler(input);
    }
    return true;
}

void ShelfModel::forwardWheel(DisplayID display, double delta) {
    if (openScreen_ != display) {
        return;
    }
    scrolled();
    const auto it = wheels_.find(display);
    if (it != wheels_.end() && it->second.handler) {
        const auto handler = it->second.handler;
        handler(StripScroll::Input::line(delta));
    }
}

void ShelfModel::forwardWheelAlternate(DisplayID display, double delta) {
    if (openScreen_ != display) {
        return;
    }
    scrolled();
    const auto it = wheels_.find(display);
    if (it != wheels_.end() && it->second.handler) {
        const auto handler = it->second.handler;
        handler(StripScroll::Input::reveal(delta));
    }
}

void ShelfModel::scrolled() {
    hoverFreeze_.scrolled(services_.pointer());
    setHoverFrozenValue(hoverFreeze_.isFrozen());
}

void ShelfModel::pointerMoved(const QPointF& to) {
    hoverFreeze_.moved(to);
    setHoverFrozenValue(hoverFreeze_.isFrozen());
}

void ShelfModel::pressDragged() {
    presses_.dragged();
}

void ShelfModel::pressBegan() {
    presses_.pressBegan();
    if (!openScreen_) {
        return;
    }
    const DisplayID display = *openScreen_;
    if (const auto it = wheels_.find(display); it != wheels_.end() && it->second.handler) {
        const auto handler = it->second.handler;
        handler(StripScroll::Input::press());
    }
    const ShelfLayoutKind kind = openLayoutKind();
    if (kind != ShelfLayoutKind::rail && kind != ShelfLayoutKind::column) {
        return;
    }
    const QPointF location = services_.pointer();
    const QSet<QString> visible = visibility_.visible(display);
    for (auto it = anchors_.cbegin(); it != anchors_.cend(); ++it) {
        if (!visible.contains(it.key())) {
            continue;
        }
        for (const QPointer<QObject>& view : it.value()) {
            if (!view || !view->inherits("ostrel::TipAnchorView")) {
                continue;
            }
            const auto frame = anchorFrame(view, display);
            if (frame && frame->contains(location)) {
                setSelectedItemID(it.key());
                return;
            }
        }
    }
}

ShelfLayoutKind ShelfModel::openLayoutKind() const {
    if (openScreen_) {
        if (const auto it = layouts_.find(*openScreen_); it != layouts_.end()) {
            return resolveShelfLayoutKind(it->second.style(), layoutChoice_);
        }
    }
    return layoutChoice_ == LayoutChoice::stacks ? ShelfLayoutKind::stacks : ShelfLayoutKind::rail;
}

void ShelfModel::beginDragOut(const ShelfItem& item) {
    if (isDraggingOut_) {
        return;
    }
    QImage icon;
    if (services_.cachedThumbnail) {
        icon = services_.cachedThumbnail(item, 240);
        if (icon.isNull()) {
            icon = services_.cachedThumbnail(item, 192);
        }
    }
    if (dragOut_->begin(item, icon)) {
        isDraggingOut_ = true;
        presses_.dragged();
    }
}

void ShelfModel::selectArrival() {
    if (arrivalItems_.isEmpty()) {
        return;
    }
    const ShelfItem first = arrivalItems_.front();
    setSelectedSessionID(first.sessionID);
    setSelectedItemID(first.id);
}

void ShelfModel::validateSelection() {
    if (!selectedItemID_) {
        return;
    }
    if (!collapsed_.canSelect(*selectedItemID_, openLayoutKind(), groups_, selectedGroup())) {
        selectedItemID_.reset();
        emit selectedItemIDChanged();
    }
}

void ShelfModel::warmDrawer() {
    if (drawer_.warm(clock_->now(), openScreen_.has_value())) {
        setDrawerBuiltValue(true);
    }
    scheduleCool();
}

void ShelfModel::scheduleCool() {
    if (coolTimer_.isPending() || shutDown_) {
        return;
    }
    const auto coolAt = drawer_.coolAt();
    if (!coolAt) {
        return;
    }
    coolTimer_.after(std::max(*coolAt - clock_->now(), 0.0), this, [this] { coolDown(); });
}

void ShelfModel::coolDown() {
    const DrawerLife::Check check = drawer_.check(clock_->now(), isBusy());
    if (check.kind == DrawerLife::Check::Kind::cool) {
        setDrawerBuiltValue(false);
    }
    scheduleCool();
}

void ShelfModel::setAnchor(QObject* view, const QString& itemID) {
    if (view == nullptr) {
        return;
    }
    QList<QPointer<QObject>>& views = anchors_[itemID];
    views.removeIf([view](const QPointer<QObject>& p) { return p.isNull() || p == view; });
    views.append(QPointer<QObject>(view));
}

void ShelfModel::removeAnchor(QObject* view, const QString& itemID) {
    const auto it = anchors_.find(itemID);
    if (it == anchors_.end()) {
        return;
    }
    it->removeIf([view](const QPointer<QObject>& p) { return p.isNull() || p == view; });
    if (it->isEmpty()) {
        anchors_.erase(it);
    }
}

QScreen* ShelfModel::screenFor(DisplayID display) const {
    return screens_->screen(display);
}

std::optional<QRectF> ShelfModel::anchorFrame(QObject* view, DisplayID display) const {
    QScreen* wanted = screenFor(display);
    const auto onDisplay = [wanted](const QWidget* widget) {
        // Without a table of display numbers any screen will do.
        return wanted == nullptr || widget->screen() == wanted;
    };
    if (auto* widget = qobject_cast<QWidget*>(view)) {
        if (!widget->isVisible() || widget->window() == nullptr || !onDisplay(widget)) {
            return std::nullopt;
        }
        const QRect visible = widget->visibleRegion().boundingRect() & widget->rect();
        if (visible.isEmpty()) {
            return std::nullopt;
        }
        return QRectF(QRect(widget->mapToGlobal(visible.topLeft()), visible.size()));
    }
    if (auto* item = qobject_cast<QGraphicsObject*>(view)) {
        if (item->scene() == nullptr || !item->isVisible()) {
            return std::nullopt;
        }
        // Only the part a scrolled grid still shows: what lies under the header band is gone.
        QRectF local = item->boundingRect();
        if (item->isClipped()) {
            local &= item->clipPath().boundingRect();
        }
        if (local.isEmpty()) {
            return std::nullopt;
        }
        for (QGraphicsView* host : item->scene()->views()) {
            if (!host->isVisible() || !onDisplay(host)) {
                continue;
            }
            QWidget* viewport = host->viewport();
            const QRect bounds = host->mapFromScene(item->mapRectToScene(local)).boundingRect();
            const QRect visible = bounds & viewport->rect();
            if (visible.isEmpty()) {
                continue;
            }
            return QRectF(QRect(viewport->mapToGlobal(visible.topLeft()), visible.size()));
        }
    }
    return std::nullopt;
}

std::optional<QRectF> ShelfModel::itemFrameOnScreen(const QString& itemID) const {
    if (!openScreen_) {
        return std::nullopt;
    }
    if (!visibility_.visible(openScreen_).contains(itemID)) {
        return std::nullopt;
    }
    const auto it = anchors_.find(itemID);
    if (it == anchors_.end()) {
        return std::nullopt;
    }
    for (const QPointer<QObject>& view : *it) {
        if (view) {
            if (const auto frame = anchorFrame(view, *openScreen_)) {
                return frame;
            }
        }
    }
    return std::nullopt;
}

} // namespace ostrel
