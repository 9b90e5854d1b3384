#include "Ostrel/Settings/PreferencesWindowController.h"

#include "Ostrel/Model/AppSettings.h"
#include "Ostrel/Model/Feedback.h"
#include "Ostrel/Settings/DisplaysPane.h"
#include "Ostrel/Settings/FilesPane.h"
#include "Ostrel/Settings/FoldersPane.h"
#include "Ostrel/Settings/GeneralPane.h"
#include "Ostrel/Settings/PreviewView.h"
#include "Ostrel/Settings/SettingsSidebar.h"
#include "Ostrel/Settings/ShelfPane.h"
#include "Ostrel/Settings/SidebarMetrics.h"
#include "Ostrel/Widgets/Accessibility.h"
#include "Ostrel/Widgets/AppIcon.h"
#include "Ostrel/Widgets/FocusRing.h"
#include "Ostrel/Widgets/SettingsColors.h"
#include "Ostrel/Widgets/ToneLabel.h"
#include "Platform/UserDefaults.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QJsonArray>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace ostrel {

PreferencesPaneView::PreferencesPaneView(SettingsNavigation& navigation, AppSettings& settings,
                                         UpdateActions updates, QWidget* parent)
    : QWidget(parent), settings_(settings), updates_(std::move(updates)),
      layout_(new QVBoxLayout(this)),
      heading_(new ToneLabel(QString(), ToneLabel::Tone::primary, 15)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(0);
    static_cast<ToneLabel*>(heading_)->setBold(true);
    heading_->setFixedHeight(52);
    heading_->setContentsMargins(20, 0, 0, 0);
    heading_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    setAccessibleHeading(heading_);
    layout_->addWidget(heading_);
    show(navigation.pane());
    connect(&navigation, &SettingsNavigation::paneChanged, this, [this](Pane p) { show(p); });
}

void PreferencesPaneView::show(Pane pane) {
    if (pane_ != nullptr) {
        pane_->hide();
        pane_->deleteLater();
    }
    heading_->setText(title(pane));
    heading_->setAccessibleName(title(pane));
    switch (pane) {
    case Pane::general:
        pane_ = new GeneralPane(settings_);
        break;
    case Pane::displays:
        pane_ = new DisplaysPane(settings_);
        break;
    case Pane::shelf:
        pane_ = new ShelfPane(settings_);
        break;
    case Pane::files:
        pane_ = new FilesPane(settings_);
        break;
    case Pane::folders:
        pane_ = new FoldersPane(settings_);
        break;
    case Pane::about:
        pane_ = new AboutPane(settings_, updates_);
        break;
    }
    pane_->setObjectName(rawValue(pane));
    // A form scrolls up and down; it is never narrower than its rows can be laid out, so that a
    // window narrower than its first width scrolls sideways rather than cut them.
    if (auto* form = qobject_cast<QScrollArea*>(pane_); form && form->widget()) {
        form->setMinimumWidth(form->widget()->minimumSizeHint().width() +
                              form->verticalScrollBar()->sizeHint().width());
    }
    layout_->addWidget(pane_, 1);
}

SettingsRootView::SettingsRootView(SettingsNavigation& navigation, AppSettings& settings,
                                   UpdateActions updates, QWidget* parent)
    : QWidget(parent), sidebar_(new SettingsSidebar(navigation, Feedback::appVersion(), this)),
      paneView_(new PreferencesPaneView(navigation, settings, std::move(updates), this)) {
    auto* layout = new QHBoxLayout(this);
    const int pad = static_cast<int>(SidebarMetrics::outerPadding);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* sidebarColumn = new QVBoxLayout;
    sidebarColumn->setContentsMargins(pad, pad, 0, pad);
    sidebarColumn->addWidget(sidebar_);
    layout->addLayout(sidebarColumn);
    layout->addWidget(paneView_, 1);
    // The previews play only while the window can be seen.
    setPreviewsPlaying(this, navigation.visible());
    connect(&navigation, &SettingsNavigation::visibleChanged, this,
            [this](bool visible) { setPreviewsPlaying(this, visible); });
}

void SettingsRootView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), SettingsColors::windowBackground(SettingsColors::isDark()));
}

PreferencesWindowController::PreferencesWindowController(AppSettings& settings,
                                                         UpdateActions updates,
                                                         x11::WindowSystem* windows,
                                                         QObject* parent)
    : QObject(parent), settings_(settings), focusReturn_(windows),
      navigation_(std::make_unique<SettingsNavigation>(*settings.defaults())),
      window_(std::make_unique<QWidget>()) {
    setAccessibleWindowRole(window_.get(), QAccessible::Window);
    window_->setWindowTitle(QStringLiteral("Settings"));
    window_->setWindowIcon(QIcon(QPixmap::fromImage(AppIcon::image())));
    window_->setAttribute(Qt::WA_DeleteOnClose, false);
    // What has the keyboard when no control has it (never a stop for Tab).
    window_->setFocusPolicy(Qt::ClickFocus);
    new FocusRing(window_.get());
    // The width is fixed, so no maximise is asked for. openbox offers it on every window whose
    // height may change whatever the hints say; there it makes the window as tall as the screen,
    // which the resize rule below allows, rather than doing nothing.
    window_->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                            Qt::WindowCloseButtonHint);
    root_ = new SettingsRootView(*navigation_, settings_, std::move(updates), window_.get());
    // On a screen smaller than the window the content scrolls as a whole, the panes at their
    // width and the sidebar whole; a shorter window scrolls only the pane.
    auto* scroller = new QScrollArea(window_.get());
    scroller->setFrameShape(QFrame::NoFrame);
    scroller->setFocusPolicy(Qt::NoFocus);
    scroller->setWidgetResizable(true);
    scroller->viewport()->setAutoFillBackground(false);
    scroller->setWidget(root_);
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroller);

    // Fixed width; the height may only grow beyond the first one.
    window_->setMinimumSize(contentSize);
    window_->setMaximumWidth(contentSize.width());
    window_->resize(contentSize);
    if (const QList<QRect> areas = screenAreas(); !areas.isEmpty()) {
        // Exactly centred: QRect::center() would round the middle down by a pixel.
        const QRect area = areas.first();
        window_->move(area.x() + (area.width() - contentSize.width()) / 2,
                      area.y() + (area.height() - contentSize.height()) / 2);
    }
    minFrame_ = window_->size();
    restoreFrame();
    fitScreen();

    navigation_->onPaneChange = [this] { clearFocusSoon(false); };
    // A control the keyboard reaches scrolls into view whole, with its ring, in the pane and in
    // the window. (A scroll area by itself brings only a text field's cursor into view.)
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
        if (now == nullptr || now->window() != window_.get() ||
            !window_->testAttribute(Qt::WA_KeyboardFocusChange)) {
            return;
        }
        const int ring = static_cast<int>(std::ceil(FocusRing::gap + FocusRing::width));
        for (QWidget* w = now->parentWidget(); w != nullptr; w = w->parentWidget()) {
            if (auto* area = qobject_cast<QScrollArea*>(w); area && area->widget()) {
                const QRect r(now->mapTo(area->widget(), QPoint(0, 0)), now->size());
                area->ensureVisible(r.center().x(), r.center().y(), r.width() / 2 + ring,
                                    r.height() / 2 + ring);
            }
        }
    });
    fitScreen_.setSingleShot(true);
    fitScreen_.setInterval(0);
    connect(&fitScreen_, &QTimer::timeout, this, [this] {
        if (window_->isVisible()) {
            fitScreen();
        }
    });
    const auto watch = [this](QScreen* screen) {
        connect(screen, &QScreen::availableGeometryChanged, this,
                &PreferencesWindowController::fitScreenSoon);
    };
    for (QScreen* screen : QGuiApplication::screens()) {
        watch(screen);
    }
    connect(qApp, &QGuiApplication::screenAdded, this, [this, watch](QScreen* screen) {
        watch(screen);
        fitScreenSoon();
    });
    connect(qApp, &QGuiApplication::screenRemoved, this,
            &PreferencesWindowController::fitScreenSoon);
    saveFrame_.setSingleShot(true);
    saveFrame_.setInterval(300);
    connect(&saveFrame_, &QTimer::timeout, this, [this] {
        const QRect g = window_->geometry();
        settings_.defaults()->set(frameKey, QJsonArray{g.x(), g.y(), g.width(), g.height()});
    });
    window_->installEventFilter(this);
}

PreferencesWindowController::~PreferencesWindowController() {
    if (window_) {
        window_->removeEventFilter(this);
    }
}

void PreferencesWindowController::restoreFrame() {
    const QJsonArray saved = settings_.defaults()->value(frameKey).toArray();
    if (saved.size() != 4) {
        return;
    }
    for (const QJsonValue& v : saved) {
        if (!v.isDouble()) {
            return;
        }
    }
    restoring_ = true;
    const QPoint topLeft(saved[0].toInt(), saved[1].toInt());
    const int height = saved[3].toInt();
    // A frame saved shorter than the window's first height is reset to the first size, at the
    // same top-left corner.
    window_->setGeometry(
        QRect(topLeft,
              QSize(minFrame_.width(), height < minFrame_.height() ? minFrame_.height() : height)));
    restoring_ = false;
}

int PreferencesWindowController::allowedHeight(int proposed) const {
    return std::max(proposed, window_->minimumHeight());
}

namespace {

std::function<QList<QRect>()>& areasHook() {
    static std::function<QList<QRect>()> hook;
    return hook;
}

// What the window manager's frame adds around `window` on each side; none before it framed it.
QMargins frameAround(const QWidget& window) {
    const QRect inner = window.geometry();
    const QRect outer = window.frameGeometry();
    return QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                    outer.right() - inner.right(), outer.bottom() - inner.bottom());
}

// The area that shows most of `frame`; the first when none shows any of it.
std::pair<QRect, bool> areaOf(const QRect& frame, const QList<QRect>& areas) {
    QRect area = areas.first();
    qint64 shown = 0;
    for (const QRect& candidate : areas) {
        const QRect common = candidate.intersected(frame);
        const qint64 size = static_cast<qint64>(common.width()) * common.height();
        if (size > shown) {
            shown = size;
            area = candidate;
        }
    }
    return {area, shown > 0};
}

} // namespace

void PreferencesWindowController::setScreenAreas(std::function<QList<QRect>()> areas) {
    areasHook() = std::move(areas);
}

QList<QRect> PreferencesWindowController::screenAreas() {
    if (areasHook()) {
        return areasHook()();
    }
    QList<QRect> areas;
    if (const QScreen* primary = QGuiApplication::primaryScreen()) {
        areas.append(primary->availableGeometry());
    }
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen != QGuiApplication::primaryScreen()) {
            areas.append(screen->availableGeometry());
        }
    }
    return areas;
}

QPoint PreferencesWindowController::keptOnScreen(QRect frame, const QList<QRect>& areas) {
    if (areas.isEmpty()) {
        return frame.topLeft();
    }
    const auto [area, shown] = areaOf(frame, areas);
    QPoint at = frame.topLeft();
    if (!shown) {
        at = QPoint(area.x() + (area.width() - frame.width()) / 2,
                    area.y() + (area.height() - frame.height()) / 2);
    }
    // Wholly on the area where it fits; where it does not, its top edge, which the user drags,
    // and its left side, where the panes are chosen.
    const auto within = [](int at, int length, int low, int room) {
        return length >= room ? low : std::clamp(at, low, low + room - length);
    };
    return {within(at.x(), frame.width(), area.left(), area.width()),
            within(at.y(), frame.height(), area.top(), area.height())};
}

void PreferencesWindowController::show(std::optional<Pane> pane) {
    if (pane) {
        navigation_->setPane(*pane);
    }
    focusReturn_.remember();
    // The frame may have been saved on a screen unplugged since, or be larger than this one.
    fitScreen();
    // Minimised where no taskbar brings it back (bare openbox): coming up means coming back.
    window_->setWindowState(window_->windowState() & ~Qt::WindowMinimized);
    window_->show();
    window_->raise();
    window_->activateWindow();
    clearFocusSoon(true);
}

void PreferencesWindowController::fitScreen() {
    const QList<QRect> areas = screenAreas();
    if (areas.isEmpty()) {
        return;
    }
    // The window manager's frame, once it has drawn one, is part of what must fit.
    const QRect inner = window_->geometry();
    const QRect outer = window_->frameGeometry();
    frame_ = frameAround(*window_);
    const QSize room = areaOf(outer, areas).first.size().shrunkBy(frame_).expandedTo({1, 1});
    const QSize least = minFrame_.boundedTo(room);
    window_->setMinimumSize(least);
    window_->setMaximumWidth(least.width());
    const QSize size(least.width(), std::clamp(inner.height(), least.height(),
                                               std::max(least.height(), room.height())));
    if (size != inner.size()) {
        window_->resize(size);
    }
    const QPoint at = keptOnScreen(window_->frameGeometry(), areas);
    if (at != window_->pos()) {
        window_->move(at);
    }
}

void PreferencesWindowController::fitScreenSoon() {
    fitScreen_.start();
}

void PreferencesWindowController::clearFocusSoon(bool sidebarToo) {
    QPointer<QWidget> window = window_.get();
    QPointer<QWidget> sidebar = root_->sidebar();
    QTimer::singleShot(0, this, [window, sidebar, sidebarToo] {
        if (window == nullptr) {
            return;
        }
        // Arrows in the sidebar change the pane and keep the keyboard there.
        const QWidget* focused = window->focusWidget();
        if (!sidebarToo && focused != nullptr && sidebar != nullptr &&
            sidebar->isAncestorOf(focused)) {
            return;
        }
        // The window itself holds it, no control: activating the window then hands it to no
        // control either, and the first Tab goes to the first stop.
        window->setFocus(Qt::OtherFocusReason);
    });
}

void PreferencesWindowController::saveFrameSoon() {
    if (!restoring_) {
        saveFrame_.start();
    }
}

void PreferencesWindowController::updateVisible() {
    const QWindow* handle = window_->windowHandle();
    navigation_->setVisible(window_->isVisible() && !window_->isMinimized() && handle != nullptr &&
                            handle->isExposed());
}

bool PreferencesWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_->windowHandle() && event->type() == QEvent::Expose) {
        updateVisible();
        // The window manager's frame is known once it has framed the window.
        if (frameAround(*window_) != frame_) {
            fitScreenSoon();
        }
    }
    if (watched == window_.get()) {
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
            saveFrameSoon();
            break;
        case QEvent::Show:
            // Covered or uncovered windows are told by expose events on the native window.
            if (QWindow* handle = window_->windowHandle()) {
                handle->installEventFilter(this);
            }
            updateVisible();
            break;
        case QEvent::WindowStateChange:
            updateVisible();
            break;
        case QEvent::Hide:
        case QEvent::Expose:
            updateVisible();
            break;
        case QEvent::Close:
            navigation_->setVisible(false);
            if (onClose) {
                onClose();
            }
            focusReturn_.giveBack(static_cast<x11::WindowId>(window_->winId()));
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace ostrel
