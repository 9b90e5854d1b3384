#include "Ostrel/Shell/StatusItem.h"

#include "Ostrel/Model/Feedback.h"
#include "Ostrel/Update/UpdateController.h"

#include <QAction>
#include <QCursor>
#include <QGuiApplication>
#include <QLoggingCategory>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QSystemTrayIcon>

Q_LOGGING_CATEGORY(lcTray, "app.ostrel.tray")

namespace ostrel {

StatusItem::StatusItem(std::function<ShelfCommands()> commands, std::function<void()> toggleShelf,
                       std::function<qint64()> unread, std::function<bool()> hasFeedback,
                       std::function<bool()> hasUpdateSource, QObject* parent)
    : QObject(parent), commands_(std::move(commands)), toggleShelf_(std::move(toggleShelf)),
      unread_(std::move(unread)), hasFeedback_(std::move(hasFeedback)),
      hasUpdateSource_(std::move(hasUpdateSource)) {}

StatusItem::~StatusItem() = default;

std::function<bool()> StatusItem::defaultHasFeedback() {
    return [] { return Feedback::email().has_value(); };
}

std::function<bool()> StatusItem::defaultHasUpdateSource() {
    return [] { return UpdateController::buildHasUpdateSource(); };
}

void StatusItem::setVisible(bool visible) {
    if (item_) {
        if (!visible) {
            item_->hide();
            item_.reset();
            menu_.reset();
        }
        return;
    }
    if (!visible) {
        return;
    }
    if (!QSystemTrayIcon::isSystemTrayAvailable()) {
        // Qt shows the icon as soon as a tray appears later.
        qCInfo(lcTray) << "no system tray yet: the tray item waits for one";
    }
    menu_ = std::make_unique<QMenu>();
    // The tray's own menu protocol may show it without asking: keep it filled at all times.
    connect(menu_.get(), &QMenu::aboutToShow, this, &StatusItem::rebuildMenu);
    dark_ = darkPanel();
    item_ = std::make_unique<QSystemTrayIcon>(icon(dark_));
    item_->setToolTip(QStringLiteral("Ostrel"));
    item_->setContextMenu(menu_.get());
    // A left click is the first thing people try on a tray icon: it opens the same menu.
    connect(item_.get(), &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger && menu_ && !menu_->isVisible()) {
                    menu_->popup(QCursor::pos());
                }
            });
    rebuildMenu();
    item_->show();
}

void StatusItem::rebuildMenu() {
    if (!menu_) {
        return;
    }
    if (item_ && darkPanel() != dark_) {
        dark_ = !dark_;
        item_->setIcon(icon(dark_));
    }
    const ShelfCommands commands = commands_ ? commands_() : ShelfCommands();
    const qint64 unread = unread_ ? unread_() : 0;
    menu_->clear();
    // Each action holds its closure, so the menu keeps it alive until the next rebuild.
    const auto add = [this](const QString& title, std::function<void()> run,
                            const QKeySequence& keys = {}) {
        QAction* action = menu_->addAction(title);
        action->setShortcut(keys);
        connect(action, &QAction::triggered, action, [run = std::move(run)] {
            // A copy: the command may refill the menu, which deletes this action and its slot.
            if (const std::function<void()> command = run) {
                command();
            }
        });
    };
    add(shelfTitle(unread), toggleShelf_);
    menu_->addSeparator();
    add(QStringLiteral("Settings…"), commands.settings, QKeySequence(QStringLiteral("Ctrl+,")));
    // A build with neither an update feed nor a website has nowhere to look.
    if (!hasUpdateSource_ || hasUpdateSource_()) {
        add(QStringLiteral("Check for Updates…"), commands.checkForUpdates);
    }
    if (hasFeedback_ && hasFeedback_()) {
        add(QStringLiteral("Send Feedback…"), commands.feedback);
    }
    menu_->addSeparator();
    add(QStringLiteral("Quit Ostrel"), commands.quit, QKeySequence(QStringLiteral("Ctrl+Q")));
}

void StatusItem::scheduleRebuild() {
    if (rebuildPending_ || !menu_) {
        return;
    }
    rebuildPending_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            rebuildPending_ = false;
            rebuildMenu();
        },
        Qt::QueuedConnection);
}

QString StatusItem::shelfTitle(qint64 unread) {
    return unread >= 1 ? QStringLiteral("Show Shelf (%1 new)").arg(unread)
                       : QStringLiteral("Show Shelf");
}

bool StatusItem::darkPanel() {
    return QGuiApplication::palette().color(QPalette::Window).lightness() < 128;
}

QImage StatusItem::iconImage(bool dark, int scale) {
    constexpr double size = 18;
    QImage image(int(size * scale), int(size * scale), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(scale);
    image.fill(Qt::transparent);
    const QColor ink = dark ? Qt::white : Qt::black;
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // Drawn with y growing upwards from the bottom edge, as the shape was designed.
    p.translate(0, size);
    p.scale(1, -1);
    QPainterPath square;
    square.addRoundedRect(QRectF(2.25, 2.25, 13.5, 13.5), 3.6, 3.6);
    p.setPen(QPen(ink, 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawPath(square);
    // The top of the square filled down to an edge that sags towards the middle.
    p.setClipPath(square);
    QPainterPath lid;
    lid.moveTo(1.25, 16.75);
    lid.lineTo(1.25, 9.6);
    lid.cubicTo(6.5, 7.2, 11.5, 7.2, 16.75, 9.6);
    lid.lineTo(16.75, 16.75);
    lid.closeSubpath();
    p.fillPath(lid, ink);
    return image;
}

QIcon StatusItem::icon(bool dark) {
    QIcon icon;
    for (const int scale : {1, 2, 3}) {
        icon.addPixmap(QPixmap::fromImage(iconImage(dark, scale)));
    }
    return icon;
}

} // namespace ostrel
