#include "Ostrel/Shell/StatusItem.h"

#include "Ostrel/Model/Feedback.h"
#include "Ostrel/Update/UpdateController.h"

#include <QAction>
#include <QCursor>
#include <QGuiApplication>
#include <QIconEngine>
#include <QLoggingCategory>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QSystemTrayIcon>

#include <algorithm>
#include <cmath>

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

QImage StatusItem::iconImage(bool dark, int pixels) {
    // However large a slot a tray gives it.
    pixels = std::clamp(pixels, 1, 512);
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const QColor ink = dark ? Qt::white : Qt::black;
    // The shape was designed 18 units a side: a rounded square stroked 1.5 wide on a centre line
    // 2.25 in from the edge, corners of 3.6. Its straight edges are laid on whole pixels at every
    // size, so that it is as crisp at 27 pixels (a scale of 1.5) as at 18 or 36.
    const double unit = pixels / 18.0;
    const double stroke = std::max(1.0, std::round(1.5 * unit));
    const double edge = std::max(0.0, std::round(2.25 * unit - stroke / 2));
    const QRectF outer(edge, edge, pixels - 2 * edge, pixels - 2 * edge);
    const double radius = (3.6 + 0.75) * unit;
    QPainterPath square;
    square.addRoundedRect(outer, radius, radius);
    QPainterPath ring = square;
    ring.addRoundedRect(outer.adjusted(stroke, stroke, -stroke, -stroke),
                        std::max(0.0, radius - stroke), std::max(0.0, radius - stroke));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.fillPath(ring, ink);
    // The top of the square filled down to an edge that sags towards the middle, drawn with y
    // growing upwards from the bottom edge, as the shape was designed.
    QPainterPath lid;
    lid.moveTo(1.25, 16.75);
    lid.lineTo(1.25, 9.6);
    lid.cubicTo(6.5, 7.2, 11.5, 7.2, 16.75, 9.6);
    lid.lineTo(16.75, 16.75);
    lid.closeSubpath();
    p.fillPath(QTransform(unit, 0, 0, -unit, 0, pixels).map(lid).intersected(square), ink);
    return image;
}

namespace {

// The icon drawn anew at whatever size and pixel ratio it is asked for: a tray draws it into a
// slot of its own size, often at a scale no stored picture matches, and a scaled copy of one is
// soft.
class StatusIconEngine final : public QIconEngine {
public:
    explicit StatusIconEngine(bool dark) : dark_(dark) {}

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const int side = std::min({size.width(), size.height(), designSize});
        return {side, side};
    }
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
        const QTransform device = painter->deviceTransform();
        if (device.type() > QTransform::TxScale) {
            // Turned or sheared: no pixel grid to keep to.
            painter->save();
            painter->setRenderHint(QPainter::SmoothPixmapTransform);
            painter->drawImage(QRectF(rect), StatusItem::iconImage(dark_, 4 * designSize));
            painter->restore();
            return;
        }
        // In the device's own pixels: a square as large as the slot allows, on whole pixels.
        const QRectF area = device.mapRect(QRectF(rect));
        const int pixels = int(std::floor(std::min({area.width(), area.height(), 512.0}) + 1e-6));
        if (pixels <= 0) {
            return;
        }
        const QPoint at(int(std::round(area.center().x() - pixels / 2.0)),
                        int(std::round(area.center().y() - pixels / 2.0)));
        painter->save();
        painter->setWorldTransform(device.inverted() * painter->worldTransform());
        painter->drawImage(at, StatusItem::iconImage(dark_, pixels));
        painter->restore();
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override {
        return QPixmap::fromImage(
            StatusItem::iconImage(dark_, std::max(1, std::min(size.width(), size.height()))));
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        // What a tray asking over the bus chooses from: the design size at scales 1, 1.5, 2, 3.
        return {QSize(18, 18), QSize(27, 27), QSize(36, 36), QSize(54, 54)};
    }
    QString key() const override { return QStringLiteral("ostrel-status"); }
    QIconEngine* clone() const override { return new StatusIconEngine(dark_); }

private:
    static constexpr int designSize = 18;
    bool dark_;
};

} // namespace

QIcon StatusItem::icon(bool dark) {
    return QIcon(new StatusIconEngine(dark));
}

} // namespace ostrel
