#include "Ostrel/Panels/PanelController.h"

#include "Ostrel/Model/AppSettings.h"
#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Panels/DrawerSurfaceItem.h"
#include "Ostrel/Panels/ScreenSpace.h"
#include "OstrelCore/Display/ActiveDisplay.h"
#include "OstrelCore/Display/DrawerSize.h"
#include "OstrelCore/Display/Geometry.h"
#include "OstrelCore/Display/Motion.h"
#include "Platform/MainClock.h"

#include <QCursor>
#include <QGraphicsItem>
#include <QGraphicsScene>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

#include <cmath>
#include <limits>

namespace ostrel {

namespace {

// A rectangle of the shelf's coordinates inside a panel whose frame is `panel`, in whole pixels
// of the panel, rounded outwards.
QRect inPanel(const QRectF& r, const QRectF& panel) {
    const double x0 = std::floor(r.x() - panel.x());
    const double y0 = std::floor((panel.y() + panel.height()) - (r.y() + r.height()));
    const double x1 = std::ceil(r.x() + r.width() - panel.x());
    const double y1 = std::ceil((panel.y() + panel.height()) - r.y());
    return QRect(static_cast<int>(x0), static_cast<int>(y0), static_cast<int>(x1 - x0),
                 static_cast<int>(y1 - y0));
}

} // namespace

PanelController::PanelController(ShelfModel& model, AppSettings& settings,
                                 x11::WindowSystem* windows, std::shared_ptr<MainClock> clock,
                                 QObject* parent)
    : QObject(parent), model_(model), settings_(settings), clock_(std::move(clock)),
      windows_(windows), directory_(windows), styleChange_(settings.prefs().displayStyle),
      styleWork_(clock_), riseWork_(clock_), closedAt_(-std::numeric_limits<double>::infinity()),
      settleWork_(clock_) {
    if (windows_) {
        compositor_ = windows_->compositorRunning();
        connect(windows_, &x11::WindowSystem::compositorChanged, this, [this](bool running) {
            compositor_ = running;
            compositorChanged();
        });
    }
    // Hover freezes where a scroll finds the pointer and thaws when the detector reports it
    // elsewhere: both must read it from one source through one conversion, or a pointer at rest
    // would never match itself.
    const QPointer<PanelController> self(this);
    model_.setPointerSource([self] {
        return self ? ScreenSpace::toQt(self->pointerLocation()) : QPointF(QCursor::pos());
    });
    // The input shape follows what is open.
    for (auto signal : {&ShelfModel::openScreenChanged, &ShelfModel::pendingUndoChanged,
                        &ShelfModel::fullscreenChanged, &ShelfModel::layoutsChanged}) {
        connect(&model_, signal, this, [this] { updateMousePassThrough(); });
    }
}

PanelController::~PanelController() {
    for (auto& [id, panel] : panels_) {
        panel->onHidden = nullptr;
        delete panel;
    }
    for (const QPointer<NotchPanel>& panel : retired_) {
        delete panel.data();
    }
}

QPointF PanelController::pointerLocation() const {
    const QPointF p = windows_ ? ScreenSpace::fromDevicePixels(windows_->pointerPosition())
                               : QPointF(QCursor::pos());
    return ScreenSpace::fromQt(p);
}

bool PanelController::buttonHeld() const {
    if (windows_) {
        return (windows_->buttons() & 0x7u) != 0;
    }
    return QGuiApplication::mouseButtons() != Qt::NoButton;
}

std::map<PanelController::DisplayID, QRectF> PanelController::displayBounds() const {
    std::map<DisplayID, QRectF> bounds;
    for (QScreen* s : QGuiApplication::screens()) {
        if (const auto id = directory_.display(s)) {
            bounds[*id] = QRectF(s->geometry());
        }
    }
    return bounds;
}

void PanelController::refresh() {
    directory_.reload();
    const DisplayStyleChoice applied = styleChange_.applied();
    std::map<DisplayID, DisplayLayout> layouts;
    QList<DisplayInfo> infos;
    for (QScreen* s : QGuiApplication::screens()) {
        const auto id = directory_.display(s);
        if (!id) {
            continue;
        }
        const QRectF frame = ScreenSpace::fromQt(QRectF(s->geometry()));
        const QRectF visible = ScreenSpace::fromQt(QRectF(s->availableGeometry()));
        // No display here has a camera housing; the cache keeps one should a report ever have.
        const NotchGeometry live = NotchGeometry::compute(frame, 0, std::nullopt, std::nullopt);
        if (live.hasNotch()) {
            notchCache_[*id] = live;
        }
        const auto cached = notchCache_.find(*id);
        const NotchGeometry geometry = NotchGeometry::resolve(
            live, cached == notchCache_.end() ? std::nullopt : std::optional(cached->second));
        layouts.insert_or_assign(*id, DisplayLayout::make(applied, geometry, visible));
        const QString uuid = directory_.uuidText(s);
        if (uuid.isEmpty()) {
            continue;
        }
        if (!resolutions_.count(uuid)) {
            resolutions_[uuid] = directory_.nativeResolution(s);
        }
        infos.append(DisplayInfo{uuid, directory_.name(s), frame, resolutions_[uuid]});
    }

    std::map<DisplayID, DisplayLayout> shown;
    if (!settings_.prefs().activeDisplayOnly || layouts.size() < 2) {
        shownDisplay_.reset();
        shown = layouts;
    } else {
        const bool busy = model_.openScreen().has_value() || model_.isBusy();
        QSet<DisplayID> ids;
        for (const auto& [id, layout] : layouts) {
            ids.insert(id);
        }
        const auto fallback = directory_.display(QGuiApplication::primaryScreen());
        shownDisplay_ = ActiveDisplay::shown(activeDisplay_, shownDisplay_, busy, ids, fallback);
        if (shownDisplay_) {
            shown.insert_or_assign(*shownDisplay_, layouts.at(*shownDisplay_));
        }
    }

    model_.setAppliedStyle(applied);
    if (model_.layouts() != shown) {
        model_.setLayouts(shown);
    }
    if (settings_.displays() != infos) {
        settings_.setDisplays(infos);
    }

    for (auto& [id, panel] : panels_) {
        if (!shown.count(id) && panel->isVisible()) {
            panel->hide();
        }
    }
    for (const auto& [id, layout] : layouts) {
        // A window made at another display scale keeps its size and its buffer in the pixels of
        // that scale, and its items their pictures: the display gets a panel made anew.
        if (panels_.count(id) && ratios_.count(id) &&
            panels_.at(id)->devicePixelRatioF() != ratios_.at(id)) {
            retire(id);
        }
        NotchPanel* panel = panels_.count(id) ? panels_.at(id) : makePanel(id);
        const QRect frame = ScreenSpace::toQt(layout.panelFrame()).toAlignedRect();
        if (panel->geometry() != frame) {
            panel->setGeometry(frame);
        }
        if (shown.count(id)) {
            if (!panel->isVisible()) {
                panel->show();
            }
            if (windows_) {
                windows_->raise(static_cast<x11::WindowId>(panel->winId()));
            }
        }
        // Only a panel with a window on its display knows that display's scale; before, Qt
        // answers with one scale for every screen, wrong wherever screens differ.
        if (panel->windowHandle() != nullptr) {
            ratios_.try_emplace(id, panel->devicePixelRatioF());
        }
    }
    std::vector<DisplayID> gone;
    for (const auto& [id, panel] : panels_) {
        if (!layouts.count(id)) {
            gone.push_back(id);
        }
    }
    for (const DisplayID id : gone) {
        retire(id);
    }
    if (model_.openScreen() && !shown.count(*model_.openScreen())) {
        model_.setOpenScreen(std::nullopt);
    }
    keepAbove();
    updateMousePassThrough();
}

// Deleted later: the panel may be what called in.
void PanelController::retire(DisplayID display) {
    NotchPanel* panel = panels_.at(display);
    panel->onHidden = nullptr;
    panel->hide();
    panel->deleteLater();
    std::erase_if(retired_, [](const QPointer<NotchPanel>& gone) { return gone.isNull(); });
    retired_.emplace_back(panel);
    takesMouse_.erase(display);
    ratios_.erase(display);
    panels_.erase(display);
}

NotchPanel* PanelController::makePanel(DisplayID display) {
    auto* panel = new NotchPanel();
    panel->setCompositing(compositor_ || !windows_);
    panel->setRootItem(rootFactory_ ? rootFactory_(display)
                                    : new DrawerSurfaceItem(model_, display));
    const QPointer<PanelController> self(this);
    panel->onPointer = [self] {
        if (self && self->onPointer) {
            self->onPointer();
        }
    };
    panel->onScrollWheel = [self, display](QWheelEvent* event) {
        return self && self->model_.scrollWheel(*event, display);
    };
    panel->onKey = [self](ShelfKey key) {
        if (self) {
            self->model_.handleKey(key);
        }
    };
    panel->onAnyPress = [self] {
        if (self) {
            self->model_.tips().refreshAnchor();
        }
    };
    panel->onPress = [self, display] {
        if (self) {
            self->pressedPanel_ = display;
            self->model_.pressBegan();
        }
    };
    panel->onHidden = [self, display] {
        if (self) {
            self->panelHidden(display);
        }
    };
    panels_[display] = panel;
    return panel;
}

// This controller hides only panels whose display it no longer shows. A shown panel that went
// off screen otherwise must not stay gone, nor leave the model believing its shelf is open.
void PanelController::panelHidden(DisplayID display) {
    if (restoring_ || !panels_.count(display) || !model_.layouts().count(display)) {
        return;
    }
    if (model_.openScreen() == display) {
        if (onPanelLost) {
            onPanelLost();
        } else {
            setOpen(std::nullopt);
        }
    }
    // Not from inside the window's own hide.
    QMetaObject::invokeMethod(
        this, [this, display] { restorePanel(display); }, Qt::QueuedConnection);
}

void PanelController::restorePanel(DisplayID display) {
    const auto it = panels_.find(display);
    if (it == panels_.end() || !model_.layouts().count(display) || it->second->isOnScreen()) {
        return;
    }
    NotchPanel* panel = it->second;
    restoring_ = true;
    if (panel->isVisible()) {
        panel->hide(); // Qt still thinks it mapped
    }
    panel->show();
    restoring_ = false;
    if (windows_) {
        windows_->raise(static_cast<x11::WindowId>(panel->winId()));
    }
    keepAbove();
    updateMousePassThrough();
}

void PanelController::keepAbove() {
    if (!windows_) {
        return;
    }
    QList<x11::WindowId> ids;
    for (const auto& [id, panel] : panels_) {
        if (panel->isVisible()) {
            ids.append(static_cast<x11::WindowId>(panel->winId()));
        }
    }
    windows_->setKeptAbove(ids);
    const auto preview = model_.preview().window();
    windows_->setKeptOnTop(preview ? std::optional(static_cast<x11::WindowId>(*preview))
                                   : std::nullopt);
}

void PanelController::repaintAll() {
    for (const auto& [id, panel] : panels_) {
        // An item's own update also drops the picture it keeps of itself.
        for (QGraphicsItem* item : panel->shelfScene()->items()) {
            item->update();
        }
    }
}

void PanelController::compositorChanged() {
    for (auto& [id, panel] : panels_) {
        panel->setCompositing(compositor_);
    }
    updateMousePassThrough();
}

void PanelController::applyShape(DisplayID display, NotchPanel* panel, bool wants) {
    const auto it = model_.layouts().find(display);
    if (it == model_.layouts().end()) {
        return;
    }
    const DisplayLayout& layout = it->second;
    const QRectF frame = layout.panelFrame();
    if (!windows_) {
        panel->setAttribute(Qt::WA_TransparentForMouseEvents, !wants);
        return;
    }
    QList<QRect> rects;
    if (wants) {
        if (model_.openScreen() == display) {
            rects.append(inPanel(layout.hoverRect(openDrawerRect(layout)), frame));
        }
        if (layout.style().isPill()) {
            rects.append(inPanel(layout.peekCardRect(), frame));
        }
    }
    // At rest the hot zone still takes the pointer, so that hover reaches the panel where no
    // global pointer events arrive.
    rects.append(inPanel(layout.hotZone(model_.countWidth()), frame));
    // The input shape is the X window's, in device pixels.
    const double ratio = panel->devicePixelRatioF();
    for (QRect& r : rects) {
        r = QRectF(QPointF(r.topLeft()) * ratio, QSizeF(r.size()) * ratio).toAlignedRect();
    }
    windows_->setInputShape(static_cast<x11::WindowId>(panel->winId()), rects);
}

void PanelController::updateMousePassThrough(bool onlyChanges) {
    const QPointF p = pointerLocation();
    const bool held = buttonHeld();
    if (!held) {
        pressedPanel_.reset();
    }
    const bool idle = !held && !model_.isDraggingOut() && !model_.isMenuOpen();
    const auto heldPress = heldPressDisplay();
    for (auto& [id, panel] : panels_) {
        const bool takes = id == cardMouse_ || id == heldPress;
        bool wants = takes;
        const auto layout = model_.layouts().find(id);
        if (model_.openScreen() == id && layout != model_.layouts().end()) {
            if (!takes) {
                const bool inside = Geometry::contains(openDrawerRect(layout->second), p);
                wants = (inside || idle) ? inside : takesMouse_[id];
            }
        }
        const bool changed = takesMouse_[id] != wants;
        takesMouse_[id] = wants;
        if (changed || !onlyChanges) {
            applyShape(id, panel, wants);
        }
    }
}

std::optional<PanelController::DisplayID> PanelController::heldPressDisplay() const {
    if (!pressedPanel_ || !buttonHeld() || !model_.peekingDisplays().contains(*pressedPanel_)) {
        return std::nullopt;
    }
    const auto it = model_.layouts().find(*pressedPanel_);
    if (it == model_.layouts().end() || !it->second.style().isPill()) {
        return std::nullopt;
    }
    return pressedPanel_;
}

void PanelController::setCardMouse(std::optional<DisplayID> display) {
    if (cardMouse_ == display) {
        return;
    }
    cardMouse_ = display;
    updateMousePassThrough();
}

std::optional<PanelController::DisplayID> PanelController::peekCardDisplay(const QPointF& p) const {
    if (styleChange_.isLeaving()) {
        return std::nullopt;
    }
    for (const auto& [id, layout] : model_.layouts()) {
        if (model_.peekingDisplays().contains(id) && layout.style().isPill() &&
            !layout.hidesAtRest(model_.fullscreen().contains(id)) &&
            Geometry::contains(layout.peekCardRect(), p)) {
            return id;
        }
    }
    return std::nullopt;
}

QList<QRectF> PanelController::pointerZones() const {
    QList<QRectF> zones;
    for (const auto& [id, layout] : model_.layouts()) {
        zones.append(layout.hotZone(model_.countWidth()));
        if (model_.peekingDisplays().contains(id) && layout.style().isPill()) {
            zones.append(layout.peekCardRect());
        }
    }
    return zones;
}

std::optional<PanelController::Hot> PanelController::hotDisplay(const QPointF& p) const {
    if (styleChange_.isLeaving()) {
        return std::nullopt;
    }
    for (const auto& [id, layout] : model_.layouts()) {
        if (Geometry::contains(layout.hotZone(model_.countWidth()), p)) {
            return Hot{id, Motion::hoverDwell(layout.style(), settings_.prefs().hoverDwellMs)};
        }
    }
    return std::nullopt;
}

std::optional<PanelController::DisplayID> PanelController::hotkeyDisplay(const QPointF& p) const {
    if (shownDisplay_) {
        return shownDisplay_;
    }
    // The top row of pixels, where the pointer rests against the screen edge, counts as inside.
    const QPointF below(p.x(), p.y() - 0.5);
    for (const auto& [id, layout] : model_.layouts()) {
        if (Geometry::contains(layout.screenFrame(), below)) {
            return id;
        }
    }
    return std::nullopt;
}

QRectF PanelController::openDrawerRect(const DisplayLayout& layout) const {
    const ShelfLayoutKind kind = resolveShelfLayoutKind(layout.style(), model_.layoutChoice());
    const double message = model_.pendingUndo() ? DrawerSize::messageRoom : 0;
    return layout.drawerRect(layout.drawerSize(kind), message);
}

bool PanelController::pointerInMessageBand(const QPointF& p) const {
    if (!model_.pendingUndo() || !model_.openScreen()) {
        return false;
    }
    const auto it = model_.layouts().find(*model_.openScreen());
    if (it == model_.layouts().end()) {
        return false;
    }
    return Geometry::contains(
        it->second.messageBand(openDrawerRect(it->second), DrawerSize::messageRoom), p);
}

bool PanelController::pointerInsideOpen(
    const QPointF& p, const std::optional<HoverMachine::ClosingLeft>& closing) const {
    // The notch drawer reaches the screen's top edge, which half-open containment leaves out:
    // the pointer pushed against the edge is tested half a point lower, as the hot key does.
    const QPointF below(p.x(), p.y() - 0.5);
    if (model_.openScreen()) {
        const auto it = model_.layouts().find(*model_.openScreen());
        if (it != model_.layouts().end()) {
            if (model_.preview().isVisible()) {
                const auto frame = model_.preview().frame();
                if (frame && frame->contains(ScreenSpace::toQt(p))) {
                    return true;
                }
            }
            const QRectF hover = it->second.hoverRect(openDrawerRect(it->second));
            return Geometry::contains(hover, p) || Geometry::contains(hover, below);
        }
    }
    if (closing) {
        const auto it = model_.layouts().find(closing->target);
        if (it != model_.layouts().end()) {
            const DisplayLayout& layout = it->second;
            if (!layout.closingDrawerReopens()) {
                return false;
            }
            const double d = Motion::drawerCloseDuration(layout.style());
            const QRectF r = layout.closingDrawerRect(openDrawerRect(layout), model_.countWidth(),
                                                      d - closing->remaining, d);
            return Geometry::contains(r, p) || Geometry::contains(r, below);
        }
    }
    return false;
}

void PanelController::applyStyle(const DisplayStyleChoice& choice) {
    bool pill = false;
    for (const auto& [id, layout] : model_.layouts()) {
        pill = pill || layout.style().isPill();
    }
    const bool showsAtRest = model_.signalUnread() >= 1 || pill;
    perform(styleChange_.request(choice, showsAtRest, !model_.openScreen().has_value()));
}

void PanelController::perform(const StyleChange::Action& action) {
    switch (action.kind) {
    case StyleChange::Action::Kind::none:
        return;
    case StyleChange::Action::Kind::leave: {
        model_.setStyleSunk(true, Motion::styleLeave());
        const int generation = action.generation;
        scheduleStyleStep(Motion::styleLeaveDuration + 0.06,
                          [this, generation] { perform(styleChange_.leaveEnded(generation)); });
        return;
    }
    case StyleChange::Action::Kind::apply: {
        styleWork_.cancel();
        // The new shape is laid out unseen: sinking for it happens at once.
        model_.setStyleSunk(action.arrive, Motion::Curve::none());
        refresh();
        if (onPointer) {
            onPointer();
        }
        if (action.arrive) {
            const int generation = action.generation;
            riseWork_.after(Motion::frame, this, [this, generation] {
                if (styleChange_.generation() != generation) {
                    return;
                }
                model_.setStyleSunk(false, Motion::pulse());
                if (StyleChange::pulses(model_.isQuiet(), Motion::reduceMotion())) {
                    model_.pulseStyle();
                }
            });
        }
        return;
    }
    }
}

void PanelController::scheduleStyleStep(double seconds, std::function<void()> step) {
    styleWork_.pause(seconds, Motion::scale(), this, std::move(step));
}

void PanelController::settleStyle() {
    perform(styleChange_.settle());
}

void PanelController::setOpen(std::optional<DisplayID> display) {
    if (display) {
        settleStyle();
        if (model_.openScreen() == display) {
            return;
        }
    } else if (!model_.openScreen()) {
        return;
    }
    model_.setOpenScreen(display);
    if (!display) {
        closedAt_ = clock_->now();
        scheduleUpdate();
    } else if (const auto it = panels_.find(*display); it != panels_.end()) {
        // Without a window manager a window of ours mapped later (Settings, the preview) lies
        // above the panel: the opening drawer comes on top of it.
        if (windows_) {
            windows_->raise(static_cast<x11::WindowId>(it->second->winId()));
        } else {
            it->second->raise();
        }
    }
    updateMousePassThrough();
}

void PanelController::setActiveDisplay(std::optional<DisplayID> display) {
    activeDisplay_ = display;
    if (!settings_.prefs().activeDisplayOnly) {
        return;
    }
    if (clock_->now() - closedAt_ < Motion::displaySettle * Motion::scale()) {
        scheduleUpdate();
    } else {
        refresh();
    }
}

void PanelController::scheduleUpdate() {
    if (!shownDisplay_ || (activeDisplay_ && *activeDisplay_ == *shownDisplay_)) {
        return;
    }
    settleWork_.pause(Motion::displaySettle, Motion::scale(), this, [this] { refresh(); });
}

void PanelController::setKeyPanel(std::optional<DisplayID> display) {
    for (auto& [id, panel] : panels_) {
        const bool allowed = display && *display == id;
        panel->allowsKey = allowed;
        const auto ours = static_cast<x11::WindowId>(panel->winId());
        if (allowed && !panel->isActiveWindow() && panel->isVisible()) {
            if (windows_) {
                // Remember whom to give the keyboard back to.
                const auto before = windows_->focusedWindow();
                bool own = false;
                for (const auto& [other, p] : panels_) {
                    own = own || (before && *before == static_cast<x11::WindowId>(p->winId()));
                }
                if (before && !own) {
                    focusBefore_ = before;
                }
            }
            panel->windowHandle()->requestActivate();
        } else if (!allowed && panel->isActiveWindow()) {
            if (windows_ && focusBefore_) {
                windows_->handFocusBack(*focusBefore_, ours);
            }
            focusBefore_.reset();
        }
    }
}

} // namespace ostrel
