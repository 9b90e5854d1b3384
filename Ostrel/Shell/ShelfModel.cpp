#include "Ostrel/Shell/ShelfModel.h"

#include "Ostrel/Shell/LiveShelfEngine.h"
#include "OstrelCore/Display/Motion.h"
#include "Platform/Log.h"
#include "Platform/MainClock.h"

#include <QCursor>
#include <QGraphicsObject>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QGuiApplication>
#include <QImageReader>
#include <QScreen>
#include <QThread>
#include <QWidget>

#include <algorithm>

namespace ostrel {

// Names the curve the changes announced within its lifetime should animate with.
class ShelfModel::Animating {
public:
    Animating(ShelfModel& model, Motion::Curve curve) : model_(model), saved_(model.animation_) {
        model_.animation_ = curve;
    }
    ~Animating() { model_.animation_ = saved_; }
    Animating(const Animating&) = delete;
    Animating& operator=(const Animating&) = delete;

private:
    ShelfModel& model_;
    Motion::Curve saved_;
};

namespace {

template <typename T> bool assign(T& member, const T& value) {
    if (member == value) {
        return false;
    }
    member = value;
    return true;
}

Motion::Context motionContext(double scale) {
    return {scale, Motion::reduceMotion(), Motion::increaseContrast()};
}

// A remote link is handed to the opener only when it is a web address: a transcript could name
// anything, a local program included.
bool isWebAddress(const QUrl& url) {
    return url.isValid() && (url.scheme() == u"https" || url.scheme() == u"http");
}

} // namespace

ShelfModel::ShelfModel(AppSettings& settings, QObject* parent)
    : ShelfModel(settings, Services(), parent) {}

ShelfModel::ShelfModel(AppSettings& settings, Services services, QObject* parent)
    : QObject(parent), settings_(settings), services_(std::move(services)),
      scale_(services_.motionScale > 0 ? services_.motionScale : Motion::scale()),
      clock_(services_.clock ? services_.clock : MainClock::system()),
      desktop_(services_.desktop ? services_.desktop : Desktop::system()),
      preview_(services_.preview ? std::move(services_.preview)
                                 : std::make_unique<PreviewController>()),
      tips_(services_.tips ? std::move(services_.tips) : std::make_unique<TipCenter>()),
      dragOut_(services_.dragOut ? std::move(services_.dragOut) : std::make_unique<DragOut>()),
      menus_(services_.menus ? std::move(services_.menus) : std::make_unique<PopupMenuRunner>()),
      screens_(std::make_unique<ScreenDirectory>()), drawer_(Motion::drawerKeep * scale_),
      coolTimer_(clock_), seenClock_(Motion::seenDelay), seenTimer_(clock_), undoTask_(clock_),
      tidyWork_(clock_) {
    if (!services_.makeEngine) {
        services_.makeEngine = LiveShelfEngine::factory();
    }
    if (!services_.environment) {
        services_.environment = [] { return Env::process(); };
    }
    if (!services_.pointer) {
        services_.pointer = [] { return QPointF(QCursor::pos()); };
    }

    engine_ = services_.makeEngine(makeConfig(settings_.prefs()));
    appliedStyle_ = settings_.prefs().displayStyle;
    applyPreferences(settings_.prefs(), std::nullopt);

    const QPointer<ShelfModel> self(this);
    tips_->canShow = [self](DisplayID display) {
        return self && self->openScreen_ == display && !self->isDraggingOut_ &&
               !self->isMenuOpen_ && !self->previewShowing();
    };
    dragOut_->onEnd = [self] {
        if (!self) {
            return;
        }
        self->isDraggingOut_ = false;
        if (self->onInteractionEnded) {
            self->onInteractionEnded();
        }
    };
    preview_->onKey = [self](ShelfKey key) {
        if (self) {
            self->handleKey(key);
        }
    };
}

ShelfModel::~ShelfModel() {
    // Nothing held for undo is lost when the model goes without an explicit shutdown.
    shutdown();
    // The collaborators' callbacks hold a guard on this model; clear them all the same, as the
    // collaborators may outlive a moved-out pointer.
    tips_->canShow = [](DisplayID) { return false; };
    dragOut_->onEnd = nullptr;
    preview_->onKey = nullptr;
}

// --- Life of the engine ---

Engine::Config ShelfModel::makeConfig(const Preferences& prefs) const {
    return Engine::Config::make(prefs, services_.environment());
}

void ShelfModel::start() {
    Q_ASSERT(MainClock::onMainThread());
    if (shutDown_) {
        return;
    }
    const QPointer<ShelfModel> self(this);
    const ShelfEngine::Generation generation = engine_->generation();
    engine_->setOnSnapshot(
        [self, generation](const Snapshot& snapshot, ShelfEngine::Generation from) {
            Q_ASSERT(MainClock::onMainThread());
            // A replaced engine's snapshot still on its way is dropped by its generation.
            if (!self || self->shutDown_ || from != generation ||
                self->engine_->generation() != generation) {
                return;
            }
            self->apply(snapshot);
        });
    engine_->start(true);
}

void ShelfModel::applyPreferences(const Preferences& prefs,
                                  const std::optional<Preferences>& previous) {
    if (prefs.layout != layoutChoice_) {
        Animating scope(*this, Motion::modelChange(motionContext(scale_)));
        layoutChoice_ = prefs.layout;
        emit layoutChoiceChanged();
    }
    arrivalSignal_ = prefs.arrivalSignal;
    setSignalValue(Preferences::signal(arrivalSignal_, appliedStyle_));
    if (assign(glowStrength_, prefs.glowStrength)) {
        emit glowStrengthChanged();
    }
    if (assign(glowPulses_, prefs.glowPulses)) {
        emit glowPulsesChanged();
    }
    if (assign(pillPreview_, prefs.pillPreview)) {
        emit pillPreviewChanged();
    }
    if (assign(pillPile_, prefs.pillPile)) {
        emit pillPileChanged();
    }
    isQuiet_ = prefs.quietMode;
    refreshSignalUnread();

    if (!previous || shutDown_) {
        return;
    }
    // Both made with the environment of this moment, so an override alone forces nothing.
    const Engine::Config next = makeConfig(prefs);
    const Engine::Config before = makeConfig(*previous);
    switch (next.change(before)) {
    case Engine::Config::Change::none:
        break;
    case Engine::Config::Change::update:
        engine_->update(next);
        break;
    case Engine::Config::Change::restart:
        restart(next);
        break;
    }
}

void ShelfModel::restart(const Engine::Config& config) {
    if (shutDown_) {
        return;
    }
    // The old engine writes everything before the new one opens the same support folder.
    engine_->stop();
    engine_ = services_.makeEngine(config);
    state_.restart();
    publishVisible();
    start();
}

void ShelfModel::shutdown() {
    if (shutDown_) {
        return;
    }
    commit();
    engine_->stop();
    shutDown_ = true;
    seenTimer_.cancel();
    undoTask_.cancel();
    tidyWork_.cancel();
    coolTimer_.cancel();
}

QUrl ShelfModel::thumbURL(const QString& itemID) const {
    return engine_->thumbURL(itemID);
}

QUrl ShelfModel::storeRoot() const {
    return engine_->storeRoot();
}

// --- Published state written from outside ---

void ShelfModel::setPeekHovered(const std::optional<DisplayID>& display) {
    if (assign(peekHovered_, display)) {
        emit peekHoveredChanged();
    }
}

void ShelfModel::setLayouts(const std::map<DisplayID, DisplayLayout>& layouts) {
    if (assign(layouts_, layouts)) {
        emit layoutsChanged();
    }
    QSet<DisplayID> displays;
    for (const auto& [display, layout] : layouts_) {
        displays.insert(display);
    }
    visibility_.keep(displays);
    for (auto it = wheels_.begin(); it != wheels_.end();) {
        it = displays.contains(it->first) ? std::next(it) : wheels_.erase(it);
    }
}

void ShelfModel::setFullscreen(const QSet<DisplayID>& displays) {
    if (assign(fullscreen_, displays)) {
        emit fullscreenChanged();
    }
}

void ShelfModel::setSelectedSessionID(const std::optional<QString>& id) {
    if (assign(selectedSessionID_, id)) {
        emit selectedSessionIDChanged();
    }
    validateSelection();
}

void ShelfModel::setSelectedItemID(const std::optional<QString>& id) {
    if (assign(selectedItemID_, id)) {
        emit selectedItemIDChanged();
    }
}

void ShelfModel::setStyleSunk(bool sunk, Motion::Curve curve) {
    if (assign(styleSunk_, sunk)) {
        Animating animating(*this, curve);
        emit styleSunkChanged();
    }
}

void ShelfModel::pulseStyle() {
    ++stylePulseTick_;
    emit stylePulseTickChanged();
}

void ShelfModel::setAppliedStyle(const DisplayStyleChoice& style) {
    appliedStyle_ = style;
    setSignalValue(Preferences::signal(arrivalSignal_, appliedStyle_));
}

void ShelfModel::setPeeking(DisplayID display, bool on) {
    const bool changed =
        on ? !peekingDisplays_.contains(display) : peekingDisplays_.contains(display);
    if (!changed) {
        return;
    }
    if (on) {
        peekingDisplays_.insert(display);
    } else {
        peekingDisplays_.remove(display);
    }
    if (onPeekChanged) {
        onPeekChanged();
    }
}

void ShelfModel::setScreenDirectory(std::unique_ptr<ScreenDirectory> directory) {
    screens_ = directory ? std::move(directory) : std::make_unique<ScreenDirectory>();
}

bool ShelfModel::isBusy() const {
    return isDraggingOut_ || isMenuOpen_ || previewShowing();
}

void ShelfModel::setFilterValue(const ShelfFilter& filter) {
    if (assign(filter_, filter)) {
        emit filterChanged();
    }
}

void ShelfModel::setSignalValue(ArrivalSignal signal) {
    if (assign(signal_, signal)) {
        emit signalChanged();
    }
}

void ShelfModel::setFanValue(const DeckFan& fan) {
    if (assign(fan_, fan)) {
        emit fanChanged();
    }
}

void ShelfModel::setCollapsedValue(const CollapsedSections& collapsed) {
    if (assign(collapsed_, collapsed)) {
        emit collapsedChanged();
    }
}

void ShelfModel::setHoverFrozenValue(bool frozen) {
    if (assign(hoverFrozen_, frozen)) {
        emit hoverFrozenChanged();
    }
}

void ShelfModel::setDrawerBuiltValue(bool built) {
    if (assign(drawerBuilt_, built)) {
        emit drawerBuiltChanged();
    }
}

void ShelfModel::setPendingUndoValue(const std::optional<PendingUndo>& pending) {
    if (assign(pendingUndo_, pending)) {
        emit pendingUndoChanged();
    }
}

// --- Snapshot road ---

void ShelfModel::apply(const Snapshot& incoming) {
    Q_ASSERT(MainClock::onMainThread());
    const Snapshot snapshot = showable(incoming);
    const QList<ShelfItem> arrivals = state_.apply(snapshot);
    publishVisible();

    if (!collapsed_.ids.isEmpty()) {
        QSet<QString> live;
        live.reserve(snapshot.items.size() * 2);
        for (const ShelfItem& item : snapshot.items) {
            live.insert(item.sessionID);
            live.insert(Turn::idFor(item));
        }
        CollapsedSections pruned = collapsed_;
        pruned.prune(live);
        setCollapsedValue(pruned);
    }

    if (!arrivals.isEmpty()) {
        arrivalItems_ = arrivals;
        if (openScreen_) {
            for (const ShelfItem& item : arrivals) {
                dotIDs_.insert(item.id);
            }
        }
        ++arrivalTick_;
        emit arrivalTickChanged();
    }

    if (rebuild()) {
        ++version_;
        emit versionChanged();
    }
    checkSeen();
}

Snapshot ShelfModel::showable(const Snapshot& snapshot) {
    const auto unnamed = [](const ShelfItem& item) { return item.id.isEmpty(); };
    const bool clean = std::none_of(snapshot.items.begin(), snapshot.items.end(), unnamed) &&
                       std::none_of(snapshot.hidden.begin(), snapshot.hidden.end(), unnamed);
    if (clean) {
        return snapshot;
    }
    // An item without an id can be neither selected, nor seen, nor deleted: leave it out.
    if (!loggedUnnamed_) {
        loggedUnnamed_ = true;
        qCWarning(lcIngest) << "skipped items without an id";
    }
    Snapshot kept = snapshot;
    kept.items.removeIf(unnamed);
    kept.hidden.removeIf(unnamed);
    return kept;
}

void ShelfModel::publishVisible() {
    visibleSnapshot_ = state_.visible();
}

bool ShelfModel::rebuild() {
    QSet<QString> unread;
    unread.reserve(visibleSnapshot_.items.size());
    for (const ShelfItem& item : visibleSnapshot_.items) {
        if (item.isUnread()) {
            unread.insert(item.id);
        }
    }
    unreadIDs_ = std::move(unread);

    setFilterValue(filter_.validated(visibleSnapshot_));

    // Grouping is the costly step; the engine often republishes what the shelf already shows
    // (a seen mark elsewhere, a new item the filter leaves out).
    Snapshot shown = filter_.apply(visibleSnapshot_, dotIDs_);
    bool changed = false;
    if (shown != shown_) {
        QList<SessionGroup> next = ShelfGroups::build(shown);
        shown_ = std::move(shown);
        changed = next != groups_;
        if (changed) {
            groups_ = std::move(next);
            emit groupsChanged();
        }
    }
    recountUnread();

    if (fan_.clickedOpen) {
        QSet<QString> turnIDs;
        for (const SessionGroup& group : groups_) {
            for (const Turn& turn : group.turns) {
                turnIDs.insert(turn.id);
            }
        }
        DeckFan next = fan_;
        next.itemsChanged(turnIDs);
        setFanValue(next);
    }
    refreshSignalUnread();
    validateSelection();
    return changed;
}

void ShelfModel::recountUnread() {
    qint64 count = 0;
    for (const SessionGroup& group : groups_) {
        count += hasDots(group);
    }
    if (assign(unreadCount_, count)) {
        emit unreadCountChanged();
    }
}

void ShelfModel::refreshSignalUnread() {
    const qint64 count = isQuiet_ ? 0 : qint64(unreadIDs_.size());
    if (assign(signalUnread_, count)) {
        emit signalUnreadChanged();
    }
}

void ShelfModel::checkSeen() {
    seenTimer_.cancel();
    if (!openScreen_ || shutDown_) {
        return;
    }
    QSet<QString> candidates = visibility_.visible(openScreen_);
    candidates.intersect(unreadIDs_);
    const double now = clock_->now();
    const QStringList due = seenClock_.update(candidates, now);
    if (!due.isEmpty()) {
        engine_->markSeen(due);
    }
    if (const auto deadline = seenClock_.deadline()) {
        seenTimer_.after(std::max(*deadline - now, 0.0) + 0.001, this, [this] { checkSeen(); });
    }
}

bool ShelfModel::showsDot(const ShelfItem& item) const {
    return item.isUnread() || dotIDs_.contains(item.id);
}

qint64 ShelfModel::hasDot(const QList<ShelfItem>& items) const {
    return std::count_if(items.begin(), items.end(),
                         [this](const ShelfItem& item) { return showsDot(item); });
}

qint64 ShelfModel::hasDots(const SessionGroup& group) const {
    qint64 count = 0;
    for (const Turn& turn : group.turns) {
        count += hasDot(turn.items);
    }
    return count;
}

double ShelfModel::countWidth() const {
    if (signal_ != ArrivalSignal::count || signalUnread_ < 1) {
        return 0;
    }
    return Motion::countWidth(signalUnread_);
}

const SessionGroup* ShelfModel::selectedGroup() const {
    if (groups_.isEmpty()) {
        return nullptr;
    }
    if (selectedSessionID_) {
        for (const SessionGroup& group : groups_) {
            if (group.id() == *selectedSessionID_) {
                return &group;
            }
        }
    }
    return &groups_.front();
}

// --- Commands and undo ---

void ShelfModel::hide(const ShelfItem& item) {
    perform(PendingUndo::hide(item));
}

void ShelfModel::deleteItems(const QList<ShelfItem>& items) {
    if (items.isEmpty()) {
        return;
    }
    QSet<QString> ids;
    for (const ShelfItem& item : items) {
        ids.insert(item.id);
    }
    perform(PendingUndo::deleteItems(ids));
}

void ShelfModel::deleteAll() {
    QSet<QString> ids;
    for (const ShelfItem& item : visibleSnapshot_.items) {
        ids.insert(item.id);
    }
    for (const ShelfItem& item : visibleSnapshot_.hidden) {
        ids.insert(item.id);
    }
    if (ids.isEmpty()) {
        return;
    }
    perform(PendingUndo::deleteAll(ids));
}

void ShelfModel::perform(const PendingUndo& command) {
    undoTask_.cancel();
    std::optional<EngineCommand> earlier;
    {
        Animating scope(*this, Motion::standard(motionContext(scale_)));
        earlier = state_.hold(command);
        publishVisible();
        setPendingUndoValue(state_.pending());
        rebuild();
    }
    if (earlier) {
        send(*earlier);
    }
    undoClock_.emplace(Motion::undoWindow * scale_, clock_->now(), true);
    updateUndoClock();
}

void ShelfModel::send(const EngineCommand& command) {
    if (const auto* hide = std::get_if<EngineCommand::Hide>(&command.command)) {
        engine_->hide(hide->ids);
    } else if (const auto* del = std::get_if<EngineCommand::Delete>(&command.command)) {
        engine_->deleteItems(del->ids);
    } else if (const auto* all = std::get_if<EngineCommand::DeleteAll>(&command.command)) {
        // What the last snapshot lists beyond what the user deleted survives; so does anything
        // the engine stored since, which the covering set leaves out.
        QSet<QString> sparing;
        for (const ShelfItem& item : state_.snapshot().items) {
            if (!all->covered.contains(item.id)) {
                sparing.insert(item.id);
            }
        }
        for (const ShelfItem& item : state_.snapshot().hidden) {
            if (!all->covered.contains(item.id)) {
                sparing.insert(item.id);
            }
        }
        engine_->deleteAll(sparing, all->covered);
    }
}

void ShelfModel::undo() {
    undoTask_.cancel();
    undoClock_.reset();
    Animating scope(*this, Motion::standard(motionContext(scale_)));
    state_.undo();
    publishVisible();
    setPendingUndoValue(std::nullopt);
    rebuild();
}

void ShelfModel::commit() {
    undoTask_.cancel();
    undoClock_.reset();
    const std::optional<EngineCommand> command = state_.commit();
    publishVisible();
    if (command) {
        setPendingUndoValue(std::nullopt);
        send(*command);
        rebuild();
    }
}

void ShelfModel::unhide(const QList<ShelfItem>& items) {
    QStringList ids;
    for (const ShelfItem& item : items) {
        ids.append(item.id);
    }
    if (ids.isEmpty()) {
        return;
    }
    state_.unhide(ids);
    publishVisible();
    engine_->unhide(ids);
}

void ShelfModel::updateUndoClock() {
    if (!undoClock_) {
        return;
    }
    const double now = clock_->now();
    undoClock_->setPaused(toastHovered_ || !openScreen_, now);
    undoTask_.cancel();
    if (undoClock_->isPaused()) {
        return;
    }
    undoTask_.after(undoClock_->remaining(now), this, [this] {
        Animating scope(*this, Motion::standard(motionContext(scale_)));
        commit();
    });
}

void ShelfModel::setToastHovered(bool hovered) {
    if (hovered == toastHovered_) {
        return;
    }
    toastHovered_ = hovered;
    updateUndoClock();
}

// --- Opening, closing and pointer input ---

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

// --- Menus ---

MenuEntry ShelfModel::menuTitle(const QString& title, qint64 count,
                                std::function<void()> action) const {
    MenuEntry entry = MenuEntry::item(title, std::move(action));
    entry.count = count;
    return entry;
}

QList<MenuEntry> ShelfModel::shelfMenu() {
    const QPointer<ShelfModel> self(this);
    QList<MenuEntry> entries;
    entries.append(MenuEntry::item(QStringLiteral("Settings…"), [self] {
        if (self && self->commands.settings) {
            self->commands.settings();
        }
    }));
    const QList<ShelfItem> hidden = visibleSnapshot_.hidden;
    if (!hidden.isEmpty()) {
        QList<MenuEntry> submenu;
        for (qsizetype i = 0; i < std::min<qsizetype>(hidden.size(), 10); ++i) {
            const ShelfItem item = hidden[i];
            submenu.append(MenuEntry::item(item.title, [self, item] {
                if (self) {
                    self->unhide({item});
                }
            }));
        }
        submenu.append(MenuEntry::divider());
        const QString all = hidden.size() == 1
                                ? QStringLiteral("Unhide")
                                : QStringLiteral("Unhide All ") + QString::number(hidden.size());
        submenu.append(MenuEntry::item(all, [self, hidden] {
            if (self) {
                self->unhide(hidden);
            }
        }));
        entries.append(MenuEntry::parent(QStringLiteral("Recently Hidden"), submenu));
    }
    entries.append(MenuEntry::divider());
    if (visibleSnapshot_.items.isEmpty() && visibleSnapshot_.hidden.isEmpty()) {
        entries.append(MenuEntry::disabled(QStringLiteral("Delete All Items")));
    } else {
        entries.append(MenuEntry::item(QStringLiteral("Delete All Items"), [self] {
            if (self) {
                self->deleteAll();
            }
        }));
    }
    entries.append(MenuEntry::divider());
    entries.append(MenuEntry::item(QStringLiteral("Quit Ostrel"), [self] {
        if (self && self->commands.quit) {
            self->commands.quit();
        }
    }));
    return entries;
}

QList<MenuEntry> ShelfModel::projectMenu() {
    const QPointer<ShelfModel> self(this);
    QList<MenuEntry> entries;
    MenuEntry all = MenuEntry::item(QStringLiteral("All Projects"), [self] {
        if (self) {
            self->setProject(std::nullopt);
        }
    });
    all.checked = !filter_.project.has_value();
    entries.append(all);
    entries.append(MenuEntry::divider());
    for (const ShelfFilter::ProjectCount& project : ShelfFilter::projects(visibleSnapshot_)) {
        const QString name = project.name;
        MenuEntry entry = menuTitle(name, project.count, [self, name] {
            if (self) {
                self->setProject(name);
            }
        });
        entry.checked = filter_.project == name;
        entries.append(entry);
    }
    return entries;
}

QList<MenuEntry> ShelfModel::kindMenu() {
    const QPointer<ShelfModel> self(this);
    const auto counts = filter_.kindCounts(visibleSnapshot_, dotIDs_);
    QList<MenuEntry> entries;
    for (const KindFilter kind : allKindFilters) {
        const auto found = counts.find(kind);
        MenuEntry entry =
            menuTitle(title(kind), found == counts.end() ? 0 : found->second, [self, kind] {
                if (self) {
                    self->toggleKind(kind);
                }
            });
        entry.checked = filter_.kinds.contains(kind);
        entries.append(entry);
    }
    entries.append(MenuEntry::divider());
    MenuEntry onlyNew = MenuEntry::item(QStringLiteral("Only New"), [self] {
        if (self) {
            self->toggleOnlyNew();
        }
    });
    onlyNew.checked = filter_.onlyNew;
    entries.append(onlyNew);
    entries.append(MenuEntry::divider());
    if (filter_.isFiltering()) {
        entries.append(MenuEntry::item(QStringLiteral("Clear Filters"), [self] {
            if (self) {
                self->clearKinds();
            }
        }));
    } else {
        entries.append(MenuEntry::disabled(QStringLiteral("Clear Filters")));
    }
    return entries;
}

void ShelfModel::showMenu(const QList<MenuEntry>& entries, QWidget* control) {
    if (!menus_->canShow(control)) {
        return;
    }
    const QPointer<ShelfModel> self(this);
    isMenuOpen_ = true;
    menus_->run(entries, control);
    // The menu ran its own event loop: the model may be gone now.
    if (!self) {
        return;
    }
    isMenuOpen_ = false;
    if (onInteractionEnded) {
        onInteractionEnded();
    }
}

void ShelfModel::showShelfMenu(QWidget* control) {
    showMenu(shelfMenu(), control);
}

void ShelfModel::showProjectMenu(QWidget* control) {
    showMenu(projectMenu(), control);
}

void ShelfModel::showKindMenu(QWidget* control) {
    showMenu(kindMenu(), control);
}

QString ShelfModel::projectLabel() const {
    return filter_.project.value_or(QStringLiteral("All projects"));
}

void ShelfModel::setProject(const std::optional<QString>& project) {
    ShelfFilter next = filter_;
    next.project = project;
    if (next != filter_) {
        applyFilter(next);
    }
}

void ShelfModel::toggleKind(KindFilter kind) {
    ShelfFilter next = filter_;
    if (next.kinds.contains(kind)) {
        next.kinds.erase(kind);
    } else {
        next.kinds.insert(kind);
    }
    applyFilter(next);
}

void ShelfModel::toggleOnlyNew() {
    ShelfFilter next = filter_;
    next.onlyNew = !next.onlyNew;
    applyFilter(next);
}

void ShelfModel::clearKinds() {
    ShelfFilter next = filter_;
    next.kinds.clear();
    next.onlyNew = false;
    if (next != filter_) {
        applyFilter(next);
    }
}

void ShelfModel::applyFilter(const ShelfFilter& filter) {
    Animating scope(*this, Motion::modelChange(motionContext(scale_)));
    setFilterValue(filter);
    if (selectedSessionID_) {
        selectedSessionID_.reset();
        emit selectedSessionIDChanged();
    }
    validateSelection();
    rebuild();
}

// --- Selection, keys and item actions ---

void ShelfModel::click(const ShelfItem& item, int count) {
    if (!presses_.allowsTap()) {
        return;
    }
    setSelectedItemID(item.id);
    if (count <= 1) {
        if (previewShowing()) {
            showQuickLook(item);
        }
        return;
    }
    if (onPreviewOpened) {
        onPreviewOpened();
    }
    openInDefaultApp(item);
}

void ShelfModel::clickDeck(const Turn& turn, const ShelfItem& item, int count) {
    if (!presses_.allowsTap()) {
        return;
    }
    DeckFan next = fan_;
    const bool opened = next.click(turn.id, turn.items.size(), holdsSelection(turn));
    setFanValue(next);
    if (!opened) {
        click(item, count);
    }
}

bool ShelfModel::holdsSelection(const Turn& turn) const {
    if (!selectedItemID_) {
        return false;
    }
    return std::any_of(turn.items.begin(), turn.items.end(),
                       [this](const ShelfItem& item) { return item.id == *selectedItemID_; });
}

bool ShelfModel::isFanned(const Turn& turn) const {
    return fan_.isFanned(turn.id, turn.items.size(), holdsSelection(turn));
}

void ShelfModel::clearSelection() {
    if (presses_.allowsTap()) {
        setSelectedItemID(std::nullopt);
    }
}

void ShelfModel::toggleCollapsed(const QString& section) {
    {
        Animating scope(*this, Motion::undoSpring(motionContext(scale_)));
        CollapsedSections next = collapsed_;
        next.toggle(section);
        setCollapsedValue(next);
        if (collapsed_.contains(section)) {
            QStringList turnIDs;
            for (const SessionGroup& group : groups_) {
                if (group.id() == section) {
                    for (const Turn& turn : group.turns) {
                        turnIDs.append(turn.id);
                    }
                    break;
                }
            }
            DeckFan folded = fan_;
            folded.fold(section, turnIDs);
            setFanValue(folded);
        }
    }
    validateSelection();
}

std::optional<ShelfItem> ShelfModel::selectedItem() const {
    if (!selectedItemID_) {
        return std::nullopt;
    }
    for (const SessionGroup& group : groups_) {
        for (const Turn& turn : group.turns) {
            for (const ShelfItem& item : turn.items) {
                if (item.id == *selectedItemID_) {
                    return item;
                }
            }
        }
    }
    return std::nullopt;
}

void ShelfModel::moveSelection(ShelfSelection::Direction direction) {
    const CollapsedSections::Selection frame =
        collapsed_.selection(openLayoutKind(), groups_, selectedGroup());
    const auto next =
        ShelfSelection::move(selectedItemID_, direction, frame.sections, frame.columns);
    if (!next || next == selectedItemID_) {
        return;
    }
    {
        Animating scope(*this, Motion::noAnimation());
        setSelectedItemID(next);
    }
    if (previewShowing()) {
        if (const auto item = selectedItem()) {
            showQuickLook(*item);
        }
    }
}

void ShelfModel::handleKey(ShelfKey key) {
    tips_->refreshAnchor();
    switch (key) {
    case ShelfKey::space:
        if (previewShowing()) {
            preview_->close();
        } else if (const auto item = selectedItem()) {
            showQuickLook(*item);
        }
        return;
    case ShelfKey::escape: {
        DeckFan next = fan_;
        switch (next.escape(previewShowing(), selectedItemID_.has_value())) {
        case DeckFan::EscapeStep::closePreview:
            preview_->close();
            break;
        case DeckFan::EscapeStep::clearSelection:
            setSelectedItemID(std::nullopt);
            break;
        case DeckFan::EscapeStep::collapseDeck:
            setFanValue(next);
            break;
        case DeckFan::EscapeStep::nothing:
            break;
        }
        return;
    }
    case ShelfKey::left:
        moveSelection(ShelfSelection::Direction::left);
        return;
    case ShelfKey::right:
        moveSelection(ShelfSelection::Direction::right);
        return;
    case ShelfKey::up:
        moveSelection(ShelfSelection::Direction::up);
        return;
    case ShelfKey::down:
        moveSelection(ShelfSelection::Direction::down);
        return;
    }
}

void ShelfModel::showQuickLook(const ShelfItem& item) {
    QUrl url;
    if (item.fileURL) {
        url = *item.fileURL;
    } else if (item.sourcePath && Desktop::isReadableFile(*item.sourcePath)) {
        url = QUrl::fromLocalFile(*item.sourcePath);
    } else {
        return;
    }
    engine_->markSeen({item.id});
    QScreen* screen = openScreen_ ? screenFor(*openScreen_) : nullptr;
    QImageReader reader(thumbURL(item.id).toLocalFile());
    const QImage transition = reader.read();
    const QPointer<ShelfModel> self(this);
    const QString id = item.id;
    preview_->show(
        url, item.title, screen,
        [self, id]() -> std::optional<QRectF> {
            return self ? self->itemFrameOnScreen(id) : std::nullopt;
        },
        transition);
}

void ShelfModel::selectAndPreview(const ShelfItem& item) {
    setSelectedItemID(item.id);
    showQuickLook(item);
}

void ShelfModel::openInDefaultApp(const ShelfItem& item) {
    QUrl url;
    if (item.remoteURL && isWebAddress(*item.remoteURL)) {
        url = *item.remoteURL;
    } else if (item.fileURL && item.fileURL->isLocalFile()) {
        url = *item.fileURL;
    } else {
        return;
    }
    desktop_->open(url);
    engine_->markSeen({item.id});
}

void ShelfModel::revealInFinder(const ShelfItem& item) {
    if (item.fileURL && item.fileURL->isLocalFile()) {
        desktop_->reveal(item.fileURL->toLocalFile());
    }
}

void ShelfModel::copyLink(const ShelfItem& item) {
    if (item.fileURL) {
        desktop_->copyText(item.fileURL->isLocalFile() ? item.fileURL->toLocalFile()
                                                       : item.fileURL->path());
    } else if (item.remoteURL) {
        desktop_->copyText(item.remoteURL->toString(QUrl::FullyEncoded));
    }
}

void ShelfModel::copyImage(const ShelfItem& item) {
    if (item.kind != ShelfItemKind::image || !item.fileURL || !item.fileURL->isLocalFile()) {
        return;
    }
    QImageReader reader(item.fileURL->toLocalFile());
    reader.setAutoTransform(true);
    const QImage image = reader.read();
    if (!image.isNull()) {
        desktop_->copyImage(image);
    }
}

// --- Consistency ---

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
        for (QGraphicsView* host : item->scene()->views()) {
            if (!host->isVisible() || !onDisplay(host)) {
                continue;
            }
            QWidget* viewport = host->viewport();
            const QRect bounds = host->mapFromScene(item->sceneBoundingRect()).boundingRect();
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
