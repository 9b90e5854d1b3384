#include "Ostrel/Settings/PreviewView.h"

#include "Ostrel/Widgets/Accessibility.h"
#include "OstrelCore/Display/Motion.h"

#include <QElapsedTimer>
#include <QGraphicsScene>
#include <QPainter>

namespace ostrel {

namespace {

const char* const playingProperty = "ostrelPreviewsPlaying";

double monotonicSeconds() {
    static QElapsedTimer timer;
    if (!timer.isValid()) {
        timer.start();
    }
    return static_cast<double>(timer.nsecsElapsed()) / 1e9;
}

} // namespace

void setPreviewsPlaying(QWidget* root, bool playing) {
    root->setProperty(playingProperty, playing);
    for (PreviewView* preview : root->findChildren<PreviewView*>()) {
        preview->refresh();
    }
}

bool previewsPlaying(const QWidget* widget) {
    for (const QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
        const QVariant value = w->property(playingProperty);
        if (value.isValid()) {
            return value.toBool();
        }
    }
    return false;
}

QString styleText(const DisplayStyle& style) {
    if (const auto side = style.pillSide()) {
        return QStringLiteral("pill-") + rawValue(*side);
    }
    return style.isNotch() ? QStringLiteral("notch") : QStringLiteral("hoverNotch");
}

QString rectText(const QRectF& r) {
    return QStringLiteral("%1,%2,%3,%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

PreviewView::PreviewView(const PreviewDisplay& display, const MiniSpace& space, QWidget* parent)
    : QGraphicsView(parent), display_(display), space_(space), clock_(monotonicSeconds) {
    // It only pictures the control beside it: a screen reader passes over it.
    hideFromAccessibility(this);
    auto* scene = new QGraphicsScene(QRectF(QPointF(), MiniScreen::frameSize), this);
    setScene(scene);
    setFixedSize(MiniScreen::frameSize.toSize());
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    setBackgroundBrush(Qt::NoBrush);
    setStyleSheet(QStringLiteral("background: transparent"));
    setSceneRect(scene->sceneRect());
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setInteractive(false);
    setFocusPolicy(Qt::NoFocus);
    viewport()->setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents);

    screen_ = new MiniScreen(display, space);
    scene->addItem(screen_);
    shelf_ = new MiniShelf(display, space, screen_->content());
    pointer_ = new MiniPointer(screen_->content());
    pointer_->setOpacity(0);
    key_ = new MiniKey(QString(), screen_->content());
    key_->setOpacity(0);

    frame_.setInterval(16);
    connect(&frame_, &QTimer::timeout, this, [this] { tick(); });
}

void PreviewView::setClock(Clock clock) {
    clock_ = clock ? std::move(clock) : Clock(monotonicSeconds);
}

void PreviewView::setDisplay(const PreviewDisplay& display, const MiniSpace& space) {
    display_ = display;
    space_ = space;
    screen_->setDisplay(display, space);
    shelf_->setDisplay(display, space);
}

bool PreviewView::playing() const {
    return previewsPlaying(this);
}

bool PreviewView::reduceMotion() const {
    return Motion::reduceMotion();
}

PlayKey PreviewView::playKey() const {
    return PlayKey{playing(), reduceMotion(), detail()};
}

void PreviewView::refresh() {
    const double t = now();
    player_.start(playKey(), makeScene(), t, Motion::scale());
    player_.advance(t);
    sync(t);
    schedule(t);
}

void PreviewView::tick() {
    // The desktop's reduce-motion switch may have flipped since the loop started.
    if (player_.hasKey() && !(playKey() == player_.key())) {
        refresh();
        return;
    }
    const double t = now();
    player_.advance(t);
    sync(t);
    schedule(t);
}

void PreviewView::schedule(double now) {
    const bool wanted = isVisible() && (player_.running() || moving(now));
    if (wanted && !frame_.isActive()) {
        frame_.start();
    } else if (!wanted && frame_.isActive()) {
        frame_.stop();
    }
}

void PreviewView::showEvent(QShowEvent* event) {
    QGraphicsView::showEvent(event);
    refresh();
}

void PreviewView::hideEvent(QHideEvent* event) {
    QGraphicsView::hideEvent(event);
    frame_.stop();
}

QImage PreviewView::render() {
    QImage image(MiniScreen::frameSize.toSize() * 2, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(2);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    scene()->render(&painter, QRectF(QPointF(), MiniScreen::frameSize), scene()->sceneRect());
    return image;
}

} // namespace ostrel
