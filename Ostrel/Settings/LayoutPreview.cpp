#include "Ostrel/Settings/LayoutPreview.h"

#include "OstrelCore/Display/Geometry.h"
#include "OstrelCore/Display/Motion.h"
#include "OstrelCore/Display/ShelfMetrics.h"

namespace ostrel {

using namespace Geometry;

LayoutPreview::LayoutPreview(const PreviewDisplay& display, LayoutChoice layout, QWidget* parent)
    : PreviewView(display,
                  spaceFor(display, resolveShelfLayoutKind(display.layout.style(), layout)),
                  parent),
      layout_(layout) {
    keyCap()->setText(QStringLiteral("esc"));
    keyCap()->setPos(keyPoint);
    refresh();
}

void LayoutPreview::setInputs(const PreviewDisplay& display, LayoutChoice layout) {
    const ShelfLayoutKind before = kind();
    layout_ = layout;
    if (resolveShelfLayoutKind(display.layout.style(), layout) != before) {
        fromKind_ = before;
        kindShare_.set(0);
        kindShare_.animate(1, Motion::modelChange(), now());
    }
    setDisplay(display, spaceFor(display, kind()));
    refresh();
}

ShelfLayoutKind LayoutPreview::kind() const {
    return resolveShelfLayoutKind(display().layout.style(), layout_);
}

MiniSpace LayoutPreview::spaceFor(const PreviewDisplay& display, ShelfLayoutKind kind) {
    const DisplayLayout& layout = display.layout;
    const QRectF f = layout.screenFrame();
    const DisplayStylePosition position = layout.style().position();
    if (!isSide(position)) {
        // The same zoom for both arrangements: it fits the wider drawer.
        const double w = std::max(layout.drawerSize(ShelfLayoutKind::rail).width(),
                                  layout.drawerSize(ShelfLayoutKind::stacks).width());
        const double scale = 160 / (w + 80);
        const double height = 100 / scale;
        const double x = midX(layout.collapsedRect()) - (w + 80) / 2;
        const double y = position == DisplayStylePosition::bottom ? minY(f) : maxY(f) - height;
        return MiniSpace{QRectF(x, y, w + 80, height), scale};
    }
    const QRectF r = layout.drawerRect(layout.drawerSize(kind), 0);
    const double scale = 100 / (r.height() + 80);
    const double width = 160 / scale;
    const double x = position == DisplayStylePosition::left ? minX(f) : maxX(f) - width;
    return MiniSpace{QRectF(x, midY(r) - (r.height() + 80) / 2, width, r.height() + 80), scale};
}

QPointF LayoutPreview::pointerTarget(const PreviewDisplay& display, ShelfLayoutKind kind,
                                     const MiniSpace& space, bool beat) {
    const DisplayLayout& layout = display.layout;
    const QRectF r = layout.drawerRect(layout.drawerSize(kind), 0);
    const double s = space.scale;
    const QPointF corner((minX(r) - minX(space.viewport)) * s,
                         (maxY(space.viewport) - maxY(r)) * s);
    const double top =
        DrawerGeometry::topReserve(layout) + ShelfMetrics::bottomInset(layout.style());
    const double row = beat ? 42 : 0;
    QPointF d;
    switch (kind) {
    case ShelfLayoutKind::rail:
        d = QPointF(14 + 180 / 2.0, top + 4 + 22 + row);
        break;
    case ShelfLayoutKind::column:
        d = QPointF(14 + 148 / 2.0, 32 + 6 + 8 + 22 + row);
        break;
    case ShelfLayoutKind::stacks:
        d = QPointF(14 + 2 + 100 + 14 + (112 + 5) + 14 + 112 / 2.0, top + 6 + 84 / 2.0);
        break;
    case ShelfLayoutKind::sideStacks: {
        const QSizeF card = ShelfMetrics::columnCard();
        const double fan = ShelfMetrics::fanHeight(card.width(), card.height());
        d = QPointF(14 + card.width() / 2,
                    (32 + 8 + 6) + 2 + 45 + 14 + (fan + 6 + 13) + 14 + card.height() / 2);
        break;
    }
    }
    return corner + d * s;
}

QPointF LayoutPreview::pointerAt(double now) const {
    return QPointF(pointerX_.value(now), pointerY_.value(now));
}

QString LayoutPreview::detail() const {
    return rawValue(kind()) + QLatin1Char(' ') + styleText(display().layout.style());
}

PreviewPlayer::Scene LayoutPreview::makeScene() {
    PreviewPlayer::Scene s;
    s.reset = [this] {
        beat_.set(0);
        lifted_.set(0);
        pressed_.set(0);
        pointerX_.set(restPoint.x());
        pointerY_.set(restPoint.y());
        escaping_ = false;
    };
    s.leadIn = 1.0;
    const ShelfLayoutKind k = kind();
    const PreviewDisplay d = display();
    const MiniSpace sp = space();
    const auto aim = [this](QPointF to, double at) {
        pointerX_.animate(to.x(), Motion::previewEase(), at);
        pointerY_.animate(to.y(), Motion::previewEase(), at);
    };
    if (k == ShelfLayoutKind::rail || k == ShelfLayoutKind::column) {
        s.loop = {
            [=, this](double at) {
                aim(pointerTarget(d, k, sp, beat_.target() < 0.5), at);
                return 0.5;
            },
            [this](double at) {
                beat_.animate(beat_.target() < 0.5 ? 1 : 0, Motion::quickEase(), at);
                return 1.8 + 1.0;
            },
        };
    } else {
        s.loop = {
            [=](double at) {
                aim(pointerTarget(d, k, sp, false), at);
                return 0.5;
            },
            [this](double at) {
                lifted_.animate(1, Motion::deckSpring(), at);
                return 0.3;
            },
            [this](double at) {
                pressed_.animate(1, Motion::deckSpring(), at);
                return 0.12;
            },
            [this](double at) {
                pressed_.animate(0, Motion::deckSpring(), at);
                beat_.animate(1, Motion::standard(), at);
                return 1.8;
            },
            [=, this](double at) {
                aim(restPoint, at);
                lifted_.animate(0, Motion::deckSpring(), at);
                return 0.5;
            },
            [this](double at) {
                escaping_ = true;
                beat_.animate(0, Motion::standard(), at);
                return 0.5;
            },
            [this](double) {
                escaping_ = false;
                return 1.0;
            },
        };
    }
    return s;
}

void LayoutPreview::sync(double now) {
    MiniShelf::State state;
    state.progress = 1;
    state.kind = kind();
    state.beat = beat_.value(now);
    state.lifted = lifted_.value(now);
    state.kindShare = kindShare_.value(now);
    if (state.kindShare < 1) {
        state.fromKind = fromKind_;
    }
    shelf()->setState(state);
    pointer()->setPos(pointerAt(now));
    pointer()->setOpacity(playing() && !reduceMotion() ? 1 : 0);
    // Pressed, the arrow shrinks towards its tip.
    pointer()->setScale(1 - 0.2 * Motion::clamp01(pressed_.value(now)));
    keyCap()->setOpacity(escaping_ ? 1 : 0);
}

bool LayoutPreview::moving(double now) const {
    return kindShare_.isRunning(now) || beat_.isRunning(now) || lifted_.isRunning(now) ||
           pressed_.isRunning(now) || pointerX_.isRunning(now) || pointerY_.isRunning(now);
}

} // namespace ostrel
