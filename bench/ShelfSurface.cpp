// Frame cost of the shelf surface: a notch drawer opening on its spring and a glow pulsing, each
// rendered at clock steps of 1/60 s the way the panel repaints them, and the opening once more
// through a panel that flattens its frames for a server without a compositor. Prints the frame
// times.
#include "Ostrel/Panels/NotchPanel.h"
#include "Ostrel/Surface/Halo.h"
#include "Ostrel/Surface/ShelfView.h"

#include "OstrelCore/Display/DisplayLayout.h"
#include "Platform/OpenSsl.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGraphicsScene>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace ostrel;

namespace {

// A drawer content of cards, as many as the rail shows in one screen.
class Cards : public DrawerContentItem {
public:
    void setPlan(const DrawerContentPlan& plan) override {
        prepareGeometryChange();
        size_ = QSizeF(plan.size.width(), plan.size.height() + plan.message);
    }
    QRectF boundingRect() const override { return QRectF(QPointF(), size_); }
    void paint(QPainter* p, const QStyleOptionGraphicsItem*, QWidget*) override {
        p->setRenderHint(QPainter::Antialiasing);
        p->fillRect(boundingRect(), QColor(20, 20, 22));
        for (int row = 0; row < 3; ++row) {
            for (int col = 0; col < 4; ++col) {
                const QRectF card(200 + col * 128, 40 + row * 92, 120, 84);
                p->setBrush(QColor(60 + col * 30, 80, 120 + row * 30));
                p->setPen(Qt::NoPen);
                p->drawRoundedRect(card, 10, 10);
            }
        }
    }

private:
    QSizeF size_;
};

struct Figures {
    double p50 = 0;
    double p95 = 0;
    double worst = 0;
    double fps = 0;
};

Figures measure(std::vector<double> ms) {
    std::sort(ms.begin(), ms.end());
    Figures f;
    f.p50 = ms[ms.size() / 2];
    f.p95 = ms[std::min(ms.size() - 1, static_cast<size_t>(ms.size() * 0.95))];
    f.worst = ms.back();
    double total = 0;
    for (double m : ms) {
        total += m;
    }
    f.fps = 1000.0 * static_cast<double>(ms.size()) / total;
    return f;
}

// Renders frames at 1/60 s steps from `start` for `seconds`, after `begin` set the scene going;
// with `flat`, through a panel without a compositor, which flattens each frame and cuts its
// window to it.
std::vector<double> run(double dpr,
                        const std::function<void(ShelfView&, ShelfView::Inputs&)>& begin,
                        double seconds, bool flat = false) {
    double clock = 0;
    ShelfView::Hooks hooks;
    hooks.makeContent = [](const DrawerContentPlan&) { return new Cards; };
    hooks.motion = [] { return Motion::Context{}; };
    QGraphicsScene scene;
    NotchPanel panel;
    auto* view = new ShelfView(1, hooks, [&clock] { return clock; });
    if (flat) {
        panel.setRootItem(view);
        panel.winId();
        panel.setCompositing(false);
        view->setCompositing(false);
    } else {
        scene.addItem(view);
    }
    ShelfView::Inputs in;
    in.layout = DisplayLayout(DisplayStyle::notch(), QRectF(0, 0, 1512, 982),
                              QRectF(0, 0, 1512, 945), QRectF(656, 945, 200, 37));
    in.drawerBuilt = true;
    view->setInputs(in);
    begin(*view, in);

    const QSizeF size = view->boundingRect().size();
    panel.resize(size.toSize());
    QImage image((size * dpr).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(dpr);
    std::vector<double> ms;
    for (double t = 0; t <= seconds; t += 1.0 / 60) {
        clock = t;
        QElapsedTimer timer;
        timer.start();
        view->tick();
        image.fill(Qt::transparent);
        if (flat) {
            static_cast<QWidget&>(panel).render(&image);
        } else {
            QPainter p(&image);
            p.setRenderHint(QPainter::Antialiasing);
            scene.render(&p, QRectF(QPointF(), size), QRectF(QPointF(), size));
        }
        ms.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    return ms;
}

void report(const char* what, const Figures& f) {
    std::printf("%-34s p50 %6.2f ms  p95 %6.2f ms  worst %6.2f ms  %6.1f frames/s\n", what, f.p50,
                f.p95, f.worst, f.fps);
}

} // namespace

int main(int argc, char** argv) {
    ostrel::OpenSsl::init();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const auto open = [](ShelfView& view, ShelfView::Inputs& in) {
        in.openScreen = 1;
        view.setInputs(in);
    };
    const auto pulse = [](ShelfView& view, ShelfView::Inputs& in) {
        in.signalUnread = 3;
        in.arrivalTick = 1;
        in.glowPulses = 3;
        view.setInputs(in);
    };
    for (const double dpr : {1.0, 2.0}) {
        HaloCache::clear();
        char label[64];
        std::snprintf(label, sizeof label, "opening, device pixel ratio %.0f", dpr);
        report(label, measure(run(dpr, open, 0.8)));
        std::snprintf(label, sizeof label, "glow pulses, device pixel ratio %.0f", dpr);
        report(label, measure(run(dpr, pulse, 3.2)));
        if (dpr == 1) {
            report("opening flattened, ratio 1", measure(run(dpr, open, 0.8, true)));
        }
    }
    return 0;
}
