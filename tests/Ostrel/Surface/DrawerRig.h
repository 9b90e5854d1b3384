#pragma once

#include "Ostrel/Model/AppSettings.h"
#include "Ostrel/Model/ShelfModel.h"
#include "Ostrel/Surface/DrawerContent.h"
#include "Ostrel/Surface/ShelfView.h"
#include "Ostrel/Views/ShelfTips.h"
#include "Ostrel/Views/ViewContext.h"
#include "OstrelCore/Display/ShelfStyle.h"
#include "Platform/MainClock.h"
#include "Platform/RecordingDesktop.h"
#include "support/FakeShelfEngine.h"
#include "support/ShellFakes.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFontDatabase>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTimeZone>

#include <memory>

namespace ostrel::test {

// The open rail drawer of a hover-notch display of 1512 x 982 (visible 1512 x 950), as its panel
// of 928 x 384 shows it: a model over a fake engine, a hand-moved clock, real tips and cards, a
// menu runner that records, and the drawer's content at (104, 0), 720 x 320. The stacks drawer of
// that display is 880 x 176 in a panel of 1088 x 240. For the edge column and the side stacks, the
// same display with a left pill: drawers of 480 x 600 and 204 x 600 without a header band, in a
// panel of 688 x 640.
struct DrawerRig {
    static constexpr quint32 display = 1;
    static inline const QPointF origin{104, 0};

    TempDir dir;
    std::shared_ptr<UserDefaults> defaults;
    std::unique_ptr<AppSettings> settings;
    std::shared_ptr<FakeShelfEngine::Log> log = std::make_shared<FakeShelfEngine::Log>();
    std::shared_ptr<ManualMainClock> clock = std::make_shared<ManualMainClock>();
    FakeMenuRunner* menus = nullptr;
    ShelfTips* tips = nullptr;
    std::unique_ptr<ShelfModel> model;
    QGraphicsScene scene{0, 0, 928, 384};
    QGraphicsView view{&scene};
    ViewContext context;
    DrawerContent* drawer = nullptr;

    ShelfLayoutKind kind;
    QSizeF panel;

    explicit DrawerRig(ShelfLayoutKind layoutKind = ShelfLayoutKind::rail)
        : kind(layoutKind), panel(side()                            ? QSizeF(688, 640)
                                  : kind == ShelfLayoutKind::stacks ? QSizeF(1088, 240)
                                                                    : QSizeF(928, 384)) {
        defaults = std::make_shared<UserDefaults>(dir.path(), QStringLiteral("defaults"));
        Preferences().save(*defaults);
        settings = std::make_unique<AppSettings>(defaults);
        Environment environment;
        environment.insert(QStringLiteral("OSTREL_SUPPORT_DIR"), dir.file("support"));
        environment.insert(QStringLiteral("OSTREL_CLAUDE_HOME"), dir.file("claude"));
        environment.insert(QStringLiteral("OSTREL_SCRATCH_ROOT"), dir.file("scratch"));
        ShelfModel::Services services;
        services.makeEngine = FakeShelfEngine::factory(log);
        services.clock = clock;
        services.environment = [environment] { return environment; };
        services.motionScale = 1.0;
        services.desktop = std::make_shared<RecordingDesktop>();
        services.preview = std::make_unique<FakePreview>();
        auto t = std::make_unique<ShelfTips>(clock, 1.0);
        tips = t.get();
        services.tips = std::move(t);
        services.dragOut = std::make_unique<FakeDragOut>();
        auto m = std::make_unique<FakeMenuRunner>();
        menus = m.get();
        services.menus = std::move(m);
        services.pointer = [] { return QPointF(10, 10); };
        model = std::make_unique<ShelfModel>(*settings, std::move(services));
        model->setLayouts(
            {{display, DisplayLayout(
                           side() ? DisplayStyle::pill(PillSide::left) : DisplayStyle::hoverNotch(),
                           QRectF(0, 0, 1512, 982), QRectF(0, 0, 1512, 950), std::nullopt)}});
        model->start();

        // What the application's drawer is built with, its cards included; only the wall clock
        // and the zone are pinned.
        context = ShelfView::drawerContext(*model, display);
        context.today = [] { return Date(800000000); };
        context.zone = QTimeZone::utc();

        view.setFrameStyle(0);
        view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        scene.setSceneRect(QRectF(QPointF(0, 0), panel));
        view.setGeometry(QRect(QPoint(496, 0), panel.toSize()));
        view.setBackgroundBrush(QColor(12, 12, 14));
        view.show();

        drawer = new DrawerContent(context, kind);
        scene.addItem(drawer);
        drawer->setPos(origin);
        reframe();
    }

    ~DrawerRig() {
        delete drawer;
        model.reset();
    }

    bool side() const {
        return kind == ShelfLayoutKind::column || kind == ShelfLayoutKind::sideStacks;
    }

    // The drawer's frame as the shelf view gives it: 40 more while an undo is pending.
    void reframe() {
        const double message = DrawerContent::messageRoom(*model);
        if (side()) {
            const double width = kind == ShelfLayoutKind::column ? 480 : 204;
            drawer->setPlan({display, kind, QSizeF(width, 600), message, 0, 0, false});
        } else if (kind == ShelfLayoutKind::stacks) {
            drawer->setPlan({display, kind, QSizeF(880, 176), message, 32, 0, false});
        } else {
            drawer->setPlan({display, kind, QSizeF(720, 320), message, 32, 0, false});
        }
    }

    void publish(const Snapshot& snapshot) { log->current().publish(snapshot); }
    void open() { model->setOpenScreen(display); }

    // Scene point of a point in the drawer.
    QPointF at(QPointF inDrawer) const { return origin + inDrawer; }

    QStringList markedSeen() const {
        QStringList ids;
        for (const auto& call : log->calls) {
            if (call.name == QStringLiteral("markSeen")) {
                ids += call.ids;
            }
        }
        return ids;
    }

    // Renders the panel and keeps the picture in the build folder for a look.
    QImage render(const QString& name) {
        QImage image(panel.toSize(), QImage::Format_ARGB32_Premultiplied);
        image.fill(QColor(12, 12, 14));
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF all(QPointF(0, 0), panel);
        scene.render(&painter, all, all);
        painter.end();
        QDir().mkpath(QStringLiteral("drawer-pictures"));
        image.save(QStringLiteral("drawer-pictures/") + name + QStringLiteral(".png"));
        return image;
    }
};

// A picture of `session`'s `prompt` made at `at`: unread, or else seen a second later.
inline ShelfItem item(const QString& id, const QString& session, const QString& prompt, double at,
                      bool unread = true) {
    ShelfItem i;
    i.id = id;
    i.kind = ShelfItemKind::image;
    i.title = id;
    i.sessionID = session;
    i.promptID = prompt;
    i.createdAt = Date(at);
    if (!unread) {
        i.seenAt = Date(at + 1);
    }
    return i;
}

} // namespace ostrel::test
