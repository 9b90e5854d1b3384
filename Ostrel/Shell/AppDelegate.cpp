#include "Ostrel/Shell/AppDelegate.h"

#include "Ostrel/Model/Feedback.h"
#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Panels/ActiveDisplayWatcher.h"
#include "Ostrel/Panels/FullscreenWatcher.h"
#include "Ostrel/Panels/HoverDetector.h"
#include "Ostrel/Panels/PanelController.h"
#include "Ostrel/Panels/ScreenSpace.h"
#include "Ostrel/Settings/HotkeyRecorder.h"
#include "Ostrel/Settings/PreferencesWindowController.h"
#include "Ostrel/Shell/HotKey.h"
#include "Ostrel/Shell/LoginItem.h"
#include "Ostrel/Shell/MainMenu.h"
#include "Ostrel/Shell/MissingProjectsNotice.h"
#include "Ostrel/Shell/SettingsHold.h"
#include "Ostrel/Shell/StatusItem.h"
#include "Ostrel/Shell/WelcomeWindowController.h"
#include "Ostrel/Surface/ShelfView.h"
#include "Ostrel/Update/UpdateController.h"
#include "Ostrel/Views/DragOutSource.h"
#include "Ostrel/Views/PreviewPanelController.h"
#include "Ostrel/Views/ShelfTips.h"
#include "Ostrel/Views/Thumbnailer.h"
#include "Ostrel/Widgets/AppIcon.h"
#include "OstrelCore/Display/Motion.h"
#include "OstrelCore/Engine/EngineConfig.h"
#include "OstrelCore/Records/Env.h"
#include "Platform/PortalAccessibility.h"
#include "Platform/X11/WindowSystem.h"

#include <QApplication>
#include <QDBusConnection>
#include <QIcon>
#include <QLoggingCategory>
#include <QPixmap>
#include <QPointer>
#include <QScreen>

#include <algorithm>

Q_LOGGING_CATEGORY(lcShelf, "app.ostrel.shelf")

namespace ostrel {

namespace {

// The model asks the panels for display numbers through this.
class PanelScreens : public ScreenDirectory {
public:
    explicit PanelScreens(PanelController* panels) : panels_(panels) {}
    QScreen* screen(quint32 display) const override {
        return panels_ ? panels_->directory().screen(display) : nullptr;
    }
    std::optional<quint32> display(const QScreen* screen) const override {
        return panels_ ? panels_->directory().display(screen) : std::nullopt;
    }

private:
    QPointer<PanelController> panels_;
};

} // namespace

AppDelegate::AppDelegate(QObject* parent) : QObject(parent) {
    // Connected once here: Qt refuses Qt::UniqueConnection for a lambda, so connecting where the
    // timer starts would leave the hourly check unconnected.
    connect(&updateTimer_, &QTimer::timeout, this, [this] { updates().checkIfDue(true); });
}

AppDelegate::~AppDelegate() {
    shutdown();
    HotkeyRecorder::setRecordingHook(nullptr);
    hotKey_.reset();
    statusItem_.reset();
    mainMenu_.reset();
    welcome_.reset();
    preferences_.reset();
    fullscreen_.reset();
    hover_.reset();
    activeDisplay_.reset();
    panels_.reset();
    model_.reset();
    Motion::setAccessibilityHook({});
    accessibility_.reset();
}

void AppDelegate::launch() {
    // Every window of ours, the update window too, shows the application's icon.
    QApplication::setWindowIcon(QIcon(QPixmap::fromImage(AppIcon::image())));
    windows_ = x11::connectWindowSystem();
    if (!windows_) {
        qCInfo(lcShelf) << "no X display of our own: the pointer is followed over our panels only";
    }
    // The desktop's reduce-motion and increase-contrast switches: off until the portal answers.
    accessibility_ = std::make_unique<PortalAccessibility>(QDBusConnection::sessionBus());
    Motion::setAccessibilityHook([reader = QPointer(accessibility_.get())] {
        return reader ? Accessibility{reader->reduceMotion(), reader->increaseContrast()}
                      : Accessibility{};
    });
    const QPointer<AppDelegate> self(this);
    mainMenu_ = std::make_unique<MainMenu>(
        [self] {
            if (self && self->model_) {
                self->model_->commands.settings();
            }
        },
        [] { QApplication::quit(); });
    // The desktop's autostart state wins over the stored preference; the change handler is not
    // installed yet, so the correction is only saved.
    loginItem_ = std::make_unique<LoginItem>(settings_, AutostartEntry::standard());
    loginItem_->sync();
    hold_ = std::make_unique<SettingsHold>(
        settings_, [this](const Preferences& now, const Preferences& before) {
            if (model_) {
                model_->applyPreferences(now, before);
            }
        });
    settings_.setOnChange([this](const Preferences& now, const Preferences& before) {
        settingsChanged(now, before);
    });

    ShelfModel::Services services;
    // The hover tips of cut-short labels in the shelf's views.
    services.tips = std::make_unique<ShelfTips>(MainClock::system(), Motion::scale());
    auto preview = std::make_unique<PreviewPanelController>();
    PreviewPanelController* previewPanels = preview.get();
    services.preview = std::move(preview);
    auto dragOut = std::make_unique<DragOutSource>();
    // As the shelf's panels: without a window system of our own, taken to blend.
    dragOut->compositorRunning = [windows = windows_.get()] {
        return !windows || windows->compositorRunning();
    };
    services.dragOut = std::move(dragOut);
    services.cachedThumbnail = [](const ShelfItem& item, double side) {
        return Thumbnailer::cachedImage(item, side).value_or(QImage());
    };
    model_ = std::make_unique<ShelfModel>(settings_, std::move(services));
    model_->commands.quit = [] { QApplication::quit(); };
    model_->commands.settings = [self] {
        if (self) {
            self->openSettings();
        }
    };
    model_->commands.checkForUpdates = [self] {
        if (self) {
            self->updates().checkNow();
        }
    };
    model_->commands.feedback = [] { Feedback::compose(QStringLiteral("Ostrel feedback")); };
    model_->onPreviewOpened = [self] {
        if (self) {
            self->hover_->close();
        }
    };
    model_->onInteractionEnded = [self] {
        if (self) {
            self->hover_->evaluate();
            self->panels_->scheduleUpdate();
        }
    };
    model_->preview().onChange = [self] {
        if (self) {
            self->hover_->updateKeyPanel(std::nullopt);
            self->panels_->keepAbove();
            self->panels_->scheduleUpdate();
        }
    };
    model_->onPeekTapped = [self](quint32 display) {
        if (self) {
            self->hover_->click(display);
        }
    };
    model_->onPeekChanged = [self] {
        if (self) {
            self->hover_->evaluate();
        }
    };

    panels_ = std::make_unique<PanelController>(*model_, settings_, windows_.get());
    // Each panel shows the shelf view of its display; without a compositor the view leaves its
    // glow out and keeps the window cut to what it draws.
    panels_->setRootFactory([model = model_.get(), windows = windows_.get()](quint32 display) {
        ShelfView* view = ShelfView::create(*model, display);
        if (windows) {
            view->setCompositing(windows->compositorRunning());
            connect(windows, &x11::WindowSystem::compositorChanged, view,
                    &ShelfView::setCompositing);
        }
        return static_cast<QGraphicsItem*>(view);
    });
    // The shelf's colours follow the desktop's contrast while they show, the open drawer's too.
    connect(accessibility_.get(), &PortalAccessibility::changed, panels_.get(),
            &PanelController::repaintAll);
    model_->setScreenDirectory(std::make_unique<PanelScreens>(panels_.get()));
    panels_->refresh();
    // The preview keeps clear of the open drawer.
    previewPanels->drawerFrame = [self]() -> std::optional<QRect> {
        if (!self || !self->model_->openScreen()) {
            return std::nullopt;
        }
        const auto& layouts = self->model_->layouts();
        const auto it = layouts.find(*self->model_->openScreen());
        if (it == layouts.end()) {
            return std::nullopt;
        }
        const DisplayLayout& layout = it->second;
        return ScreenSpace::toQt(layout.hoverRect(self->panels_->openDrawerRect(layout)))
            .toAlignedRect();
    };
    previewPanels->frameExtents = [windows = windows_.get()](WId window) {
        return windows ? windows->frameExtents(static_cast<x11::WindowId>(window)) : std::nullopt;
    };

    const auto bounds = [self] {
        return self ? self->panels_->displayBounds() : std::map<quint32, QRectF>();
    };
    activeDisplay_ = std::make_unique<ActiveDisplayWatcher>(
        windows_.get(), bounds, [self](std::optional<quint32> display) {
            if (self) {
                self->panels_->setActiveDisplay(display);
            }
        });
    activeDisplay_->setEnabled(settings_.prefs().activeDisplayOnly);

    hover_ = std::make_unique<HoverDetector>(*panels_, *model_, settings_, windows_.get());
    hover_->start();
    panels_->onPanelLost = [self] {
        if (self) {
            self->hover_->close();
        }
    };

    fullscreen_ = std::make_unique<FullscreenWatcher>(
        windows_.get(), bounds,
        [self] {
            if (self) {
                self->refreshDisplays();
            }
        },
        [self](const QSet<quint32>& displays) {
            if (!self || self->model_->fullscreen() == displays) {
                return;
            }
            QList<quint32> ids(displays.begin(), displays.end());
            std::sort(ids.begin(), ids.end());
            QStringList names;
            for (const quint32 id : ids) {
                names.append(QString::number(id));
            }
            qCInfo(lcShelf).noquote() << "full-screen displays:" << names.join(QLatin1Char(' '));
            self->model_->setFullscreen(displays);
        });
    fullscreen_->start();

    registerHotKey();
    // The recorder must hear the combination it records, so the grab is let go meanwhile.
    HotkeyRecorder::setRecordingHook([self](bool recording) {
        if (!self) {
            return;
        }
        self->mainMenu_->setRecording(recording);
        self->hotkeyRecording_ = recording;
        if (recording) {
            self->hotKey_.reset();
        } else {
            self->registerHotKey();
        }
    });

    statusItem_ = std::make_unique<StatusItem>(
        [self] { return self ? self->model_->commands : ShelfCommands(); },
        [self] {
            if (self) {
                self->toggleShelf();
            }
        },
        [self] { return self ? self->model_->newItemCount() : qint64(0); });
    statusItem_->setVisible(settings_.prefs().showInMenuBar);
    // The menu shows the count of new items: refilled whenever it may have changed.
    for (const auto signal : {&ShelfModel::unreadCountChanged, &ShelfModel::groupsChanged}) {
        connect(model_.get(), signal, statusItem_.get(), &StatusItem::scheduleRebuild);
    }

    // A quit that comes while the windows below are made is read by this thread only once they
    // are; the engine hears of it at once (main() watches the signals from before the launch).
    model_->start();

    for (QScreen* screen : QGuiApplication::screens()) {
        watchScreen(screen);
    }
    connect(qApp, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
        watchScreen(screen);
        scheduleRefreshDisplays();
    });
    connect(qApp, &QGuiApplication::screenRemoved, this, &AppDelegate::scheduleRefreshDisplays);
    connect(qApp, &QGuiApplication::primaryScreenChanged, this,
            &AppDelegate::scheduleRefreshDisplays);
    if (windows_) {
        connect(windows_.get(), &x11::WindowSystem::monitorsChanged, this,
                &AppDelegate::scheduleRefreshDisplays);
    }

    greetOrCheckFolders();
    // Made now, not at the first check: a copy the install script started again says at once why
    // the update failed.
    updates();
    applyUpdateTimer();
}

void AppDelegate::watchScreen(QScreen* screen) {
    connect(screen, &QScreen::geometryChanged, this, &AppDelegate::scheduleRefreshDisplays);
    connect(screen, &QScreen::availableGeometryChanged, this,
            &AppDelegate::scheduleRefreshDisplays);
}

// Screen changes come in bursts (one per screen and property); lay out once after them.
void AppDelegate::scheduleRefreshDisplays() {
    if (refreshPending_) {
        return;
    }
    refreshPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            refreshPending_ = false;
            refreshDisplays();
        },
        Qt::QueuedConnection);
}

void AppDelegate::refreshDisplays() {
    if (!panels_ || shutDown_) {
        return;
    }
    panels_->refresh();
    activeDisplay_->setEnabled(settings_.prefs().activeDisplayOnly);
    if (!model_->openScreen()) {
        hover_->closeIfOpen();
    }
    bringBackStrandedWindows();
}

// A window left on an unplugged display lies where no screen shows it, and without a window
// manager nothing moves it back: it is centred on the main screen.
void AppDelegate::bringBackStrandedWindows() {
    const QList<QScreen*> screens = QGuiApplication::screens();
    QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) {
        return;
    }
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->isVisible() || window->windowFlags() & Qt::BypassWindowManagerHint ||
            (window->windowType() != Qt::Window && window->windowType() != Qt::Dialog)) {
            continue;
        }
        const QRect frame = window->frameGeometry();
        if (std::any_of(screens.begin(), screens.end(),
                        [&](QScreen* s) { return s->geometry().intersects(frame); })) {
            continue;
        }
        const QRect room = primary->availableGeometry();
        window->move(room.x() + (room.width() - frame.width()) / 2,
                     room.y() + (room.height() - frame.height()) / 2);
    }
}

void AppDelegate::settingsChanged(const Preferences& now, const Preferences& before) {
    if (!model_) {
        return;
    }
    hold_->apply(now);
    if (!(now.displayStyle == before.displayStyle)) {
        panels_->applyStyle(now.displayStyle);
    }
    if (now.activeDisplayOnly != before.activeDisplayOnly) {
        panels_->refresh();
    }
    activeDisplay_->setEnabled(now.activeDisplayOnly);
    if (now.launchAtLogin != before.launchAtLogin) {
        loginItem_->changed(now.launchAtLogin);
    }
    if (now.autoCheckUpdates != before.autoCheckUpdates) {
        applyUpdateTimer();
    }
    if (now.hotkeyKeyCode != before.hotkeyKeyCode ||
        now.hotkeyModifiers != before.hotkeyModifiers) {
        registerHotKey();
    }
    if (now.showInMenuBar != before.showInMenuBar) {
        statusItem_->setVisible(now.showInMenuBar);
    }
}

void AppDelegate::registerHotKey() {
    hotKey_.reset();
    if (hotkeyRecording_) {
        return; // registered when the recorder lets go
    }
    const QPointer<AppDelegate> self(this);
    hotKey_ = std::make_unique<HotKey>(windows_.get(), settings_.prefs().hotkeyKeyCode,
                                       settings_.prefs().hotkeyModifiers, [self] {
                                           if (self) {
                                               self->hover_->toggle();
                                           }
                                       });
    // The desktop portal answers later; its verdict replaces the sentence when it comes.
    connect(hotKey_.get(), &HotKey::statusChanged, this, [self](HotKey::Status status) {
        if (self) {
            self->settings_.setHotkeyError(HotKey::errorText(status));
        }
    });
    settings_.setHotkeyError(HotKey::errorText(hotKey_->status()));
}

void AppDelegate::toggleShelf() {
    if (!hover_ || shutDown_) {
        return;
    }
    if (settings_.prefs().activeDisplayOnly) {
        activeDisplay_->refresh();
    }
    hover_->toggle();
}

void AppDelegate::greetOrCheckFolders() {
    const std::shared_ptr<UserDefaults>& defaults = settings_.defaults();
    if (!defaults->contains(WelcomeWindowController::shownKey)) {
        welcome_.reset();
        welcome_ = std::make_unique<WelcomeWindowController>(*model_, settings_, windows_.get());
        welcome_->onClose = [this] {
            // Called from the controller itself: let it finish before it goes.
            if (welcome_) {
                welcome_.release()->deleteLater();
            }
        };
        welcome_->show();
        return;
    }
    const EngineConfig config = EngineConfig::make(settings_.prefs(), Env::process());
    if (MissingProjectsNotice::claim(*defaults, config.paths.projectsRoot().toLocalFile())) {
        preferences().show(Pane::folders);
    }
}

void AppDelegate::openSettings(std::optional<Pane> pane) {
    if (hover_) {
        hover_->close();
    }
    if (loginItem_) {
        loginItem_->sync();
    }
    preferences().show(pane);
}

UpdateController& AppDelegate::updates() {
    if (!updates_) {
        const EngineConfig config = EngineConfig::make(settings_.prefs(), Env::process());
        updates_ = std::make_unique<UpdateController>(
            config.paths.supportDir.toLocalFile(), UpdateConfig::current(),
            UpdateController::standardEnvironment(settings_.defaults().get()));
    }
    return *updates_;
}

PreferencesWindowController& AppDelegate::preferences() {
    if (!preferences_) {
        preferences_ = std::make_unique<PreferencesWindowController>(
            settings_, UpdateActions::of(updates()), windows_.get());
        // A retention lowered just before closing takes effect now rather than after the wait.
        preferences_->onClose = [this] {
            if (hold_) {
                hold_->applyHeld();
            }
        };
    }
    return *preferences_;
}

void AppDelegate::applyUpdateTimer() {
    if (!settings_.prefs().autoCheckUpdates) {
        updateTimer_.stop();
        return;
    }
    updates().checkIfDue(true);
    if (!updateTimer_.isActive()) {
        updateTimer_.setInterval(3600 * 1000);
        updateTimer_.setTimerType(Qt::VeryCoarseTimer);
        updateTimer_.start();
    }
}

void AppDelegate::shutdown(bool quietly) {
    if (shutDown_ || !model_) {
        return;
    }
    shutDown_ = true;
    if (quietly) {
        // What drawing and layout need (fonts among them) may be gone already.
        model_->blockSignals(true);
    }
    model_->shutdown();
}

} // namespace ostrel
