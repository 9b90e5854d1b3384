#include "Ostrel/Settings/DisplayStylePreview.h"

#include "OstrelCore/Display/Geometry.h"
#include "OstrelCore/Display/Motion.h"

namespace ostrel {

using namespace Geometry;

DisplayStylePreview::DisplayStylePreview(const PreviewDisplay& display, const Inputs& inputs,
                                         QWidget* parent)
    : PreviewView(display, spaceFor(display), parent), inputs_(inputs) {
    refresh();
}

void DisplayStylePreview::setInputs(const PreviewDisplay& display, const Inputs& inputs) {
    inputs_ = inputs;
    setDisplay(display, spaceFor(display));
    refresh();
}

MiniSpace DisplayStylePreview::spaceFor(const PreviewDisplay& display) {
    const QRectF screen = display.layout.screenFrame();
    const double s = screen.width() > 0 && screen.height() > 0
                         ? std::min(160 / screen.width(), 100 / screen.height())
                         : 1.0;
    return MiniSpace{screen, s};
}

QPointF DisplayStylePreview::restPoint() const {
    const QSizeF size = space().size();
    return QPointF(0.6 * size.width(), 0.62 * size.height());
}

QPointF DisplayStylePreview::keyPoint() const {
    const QSizeF size = space().size();
    return QPointF(0.5 * size.width(), 0.62 * size.height());
}

QPointF DisplayStylePreview::hotPoint() const {
    const QSizeF size = space().size();
    const QRectF zone = space().map(display().layout.hotZone(0));
    // The whole glyph stays on the drawn screen.
    const double x = std::min(std::max(zone.center().x(), 1.0), size.width() - 7);
    const double y = std::min(std::max(zone.center().y(), 1.0), size.height() - 11);
    return QPointF(x, y);
}

QPointF DisplayStylePreview::pointerAt(double now) const {
    const double t = pointing_.value(now);
    const QPointF a = restPoint();
    const QPointF b = hotPoint();
    return a + (b - a) * t;
}

QString DisplayStylePreview::detail() const {
    const QString layout =
        inputs_.layout == LayoutChoice::rail ? QStringLiteral("rail") : QStringLiteral("stacks");
    return styleText(display().layout.style()) + QLatin1Char(' ') +
           (inputs_.hover ? QStringLiteral("true") : QStringLiteral("false")) + QLatin1Char(' ') +
           QString::number(inputs_.dwellMs) + QLatin1Char(' ') + layout + QLatin1Char(' ') +
           rectText(display().layout.screenFrame());
}

PreviewPlayer::Scene DisplayStylePreview::makeScene() {
    PreviewPlayer::Scene s;
    s.reset = [this] {
        progress_.set(0);
        pointing_.set(0);
        pressed_ = false;
    };
    s.still = [this] { progress_.set(1); };
    s.leadIn = 1.0;
    // Timed for the style the loop starts with.
    const DisplayStyle style = display().layout.style();
    if (inputs_.hover) {
        const double dwell = Motion::hoverDwell(style, inputs_.dwellMs);
        s.loop = {
            [this, dwell](double at) {
                pointing_.animate(1, Motion::previewEase(), at);
                return 0.5 + dwell;
            },
            [this, style](double at) {
                progress_.animate(1, Motion::drawerOpen(style), at);
                return 1.8;
            },
            [this](double at) {
                pointing_.animate(0, Motion::previewEase(), at);
                return Motion::hoverGrace;
            },
            [this, style](double at) {
                progress_.animate(0, Motion::drawerClose(style), at);
                return 1.0;
            },
        };
    } else {
        s.loop = {
            [this, style](double at) {
                pressed_ = true;
                progress_.animate(1, Motion::drawerOpen(style), at);
                return 1.8;
            },
            [this](double) {
                pressed_ = false;
                return 0.5;
            },
            [this, style](double at) {
                progress_.animate(0, Motion::drawerClose(style), at);
                return 1.0;
            },
        };
    }
    return s;
}

void DisplayStylePreview::sync(double now) {
    MiniShelf::State state;
    state.progress = progress_.value(now);
    state.kind = resolveShelfLayoutKind(display().layout.style(), inputs_.layout);
    state.strength = Motion::glowLook(GlowStrength::balanced);
    shelf()->setState(state);
    pointer()->setPos(pointerAt(now));
    pointer()->setOpacity(inputs_.hover && playing() && !reduceMotion() ? 1 : 0);
    keyCap()->setText(inputs_.hotkey);
    keyCap()->setPos(keyPoint());
    keyCap()->setOpacity(!inputs_.hover && pressed_ ? 1 : 0);
}

bool DisplayStylePreview::moving(double now) const {
    return progress_.isRunning(now) || pointing_.isRunning(now);
}

} // namespace ostrel
