#include "Ostrel/Model/ShelfModel.h"

#include "Ostrel/Model/LiveShelfEngine.h"
#include "Ostrel/Model/PopupMenuRunner.h"
#include "Ostrel/Model/ShelfModelParts.h"
#include "Platform/Log.h"
#include "Platform/MainClock.h"

#include <QCursor>

#include <algorithm>

namespace ostrel {

using namespace shelfModelParts;

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
    setPointerSource(std::move(services_.pointer));

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

void ShelfModel::setPointerSource(std::function<QPointF()> source) {
    services_.pointer = source ? std::move(source) : [] { return QPointF(QCursor::pos()); };
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
    }

    const bool changed = rebuild();
    if (changed) {
        ++version_;
    }
    // Announced once the counts include the arrivals: a closed shelf with nothing unread before
    // would otherwise hear of an arrival while its unread count still says 0, and stay dark.
    if (!arrivals.isEmpty()) {
        emit arrivalTickChanged();
    }
    if (changed) {
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
        }
    }
    // The views that follow the groups read the turns' dots as they are now.
    countDots();
    if (changed) {
        emit groupsChanged();
    }
    publishUnread();

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

void ShelfModel::countDots() {
    dotTotal_ = 0;
    turnDots_.clear();
    for (const SessionGroup& group : groups_) {
        for (const Turn& turn : group.turns) {
            if (const qint64 dots = hasDot(turn.items)) {
                turnDots_.insert(turn.id, dots);
                dotTotal_ += dots;
            }
        }
    }
}

void ShelfModel::publishUnread() {
    if (assign(unreadCount_, dotTotal_)) {
        emit unreadCountChanged();
    }
}

void ShelfModel::recountUnread() {
    countDots();
    publishUnread();
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
    // Nothing unread and nothing waiting: no card coming or going (as they do at every notch of a
    // scroll) can make anything due.
    if (unreadIDs_.isEmpty() && seenClock_.since.isEmpty()) {
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

qint64 ShelfModel::dots(const Turn& turn) const {
    return turnDots_.value(turn.id);
}

qint64 ShelfModel::hasDots(const SessionGroup& group) const {
    qint64 count = 0;
    for (const Turn& turn : group.turns) {
        count += dots(turn);
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

} // namespace ostrel
