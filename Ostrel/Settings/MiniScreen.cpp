#include "Ostrel/Settings/MiniScreen.h"

#include "OstrelCore/Display/DrawerGeometry.h"
#include "OstrelCore/Display/Motion.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>

namespace ostrel {

namespace {

// Holds the preview's content; draws nothing itself.
class ContentLayer : public QGraphicsObject {
public:
    using QGraphicsObject::QGraphicsObject;
    QRectF boundingRect() const override { return {}; }
    void paint(QPainter*, const QStyleOptionGraphicsItem*, QWidget*) override {}
};

// The frame's hairline border, over the content.
class FrameBorder : public QGraphicsItem {
public:
    using QGraphicsItem::QGraphicsItem;
    QRectF boundingRect() const override { return QRectF(QPointF(), MiniScreen::frameSize); }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget* widget) override {
        const QColor primary = widget ? widget->palette().color(QPalette::WindowText) : Qt::black;
        QColor line = primary;
        line.setAlphaF(0.15f);
        painter->setRenderHint(QPainter::Antialiasing);
        painter->setPen(QPen(line, 1));
        painter->setBrush(Qt::NoBrush);
        painter->drawPath(CornerShape::uniform(MiniScreen::corner)
                              .path(boundingRect().adjusted(0.5, 0.5, -0.5, -0.5)));
    }
};

QColor white(double opacity) {
    QColor c(Qt::white);
    c.setAlphaF(static_cast<float>(opacity));
    return c;
}

} // namespace

MiniScreen::MiniScreen(const PreviewDisplay& display, const MiniSpace& space, QGraphicsItem* parent)
    : QGraphicsObject(parent), display_(display), space_(space), content_(new ContentLayer(this)) {
    setFlag(ItemClipsChildrenToShape);
    setAcceptedMouseButtons(Qt::NoButton);
    content_->setPos(contentOrigin());
    auto* border = new FrameBorder(this);
    border->setZValue(100);
}

void MiniScreen::setDisplay(const PreviewDisplay& display, const MiniSpace& space) {
    display_ = display;
    space_ = space;
    content_->setPos(contentOrigin());
    update();
}

QPointF MiniScreen::contentOrigin() const {
    const QSizeF s = space_.size();
    return QPointF((frameSize.width() - s.width()) / 2, (frameSize.height() - s.height()) / 2);
}

QRectF MiniScreen::boundingRect() const {
    return QRectF(QPointF(), frameSize);
}

QPainterPath MiniScreen::shape() const {
    return CornerShape::uniform(corner).path(boundingRect());
}

void MiniScreen::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    painter->setRenderHint(QPainter::Antialiasing);
    painter->save();
    painter->setClipPath(shape());
    painter->fillRect(boundingRect(), QColor::fromRgbF(0.08f, 0.08f, 0.08f));
    painter->translate(contentOrigin());

    const QRectF screen = space_.map(display_.layout.screenFrame());
    QLinearGradient wallpaper(screen.topLeft(), screen.bottomLeft());
    wallpaper.setColorAt(0, QColor::fromRgbF(0.27f, 0.31f, 0.37f));
    wallpaper.setColorAt(1, QColor::fromRgbF(0.16f, 0.18f, 0.22f));
    painter->fillRect(screen, wallpaper);

    if (display_.menuBar) {
        painter->fillRect(space_.map(*display_.menuBar), white(0.1));
    }
    if (display_.dock) {
        const QRectF dock = space_.map(*display_.dock);
        painter->fillPath(
            CornerShape::uniform(0.3 * std::min(dock.width(), dock.height())).path(dock),
            white(0.2));
    }
    // In the notch style the shelf itself draws the housing.
    if (display_.notch && !display_.layout.style().isNotch()) {
        const NotchShape housing{NotchShape::Edge::top, Motion::cornerAtRest * space_.scale, 0};
        painter->fillPath(housing.path(space_.map(*display_.notch)), Qt::black);
    }
    painter->restore();
}

MiniPointer::MiniPointer(QGraphicsItem* parent) : QGraphicsObject(parent) {
    setAcceptedMouseButtons(Qt::NoButton);
    setZValue(20);
}

void MiniPointer::setPressed(bool pressed) {
    if (pressed != pressed_) {
        pressed_ = pressed;
        // Pressed, the arrow shrinks towards its tip.
        setScale(pressed ? 0.8 : 1.0);
    }
}

QRectF MiniPointer::boundingRect() const {
    return QRectF(-1.5, -1.5, 11, 15);
}

void MiniPointer::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    // Our own arrow, 11 points tall, its tip at the origin.
    QPainterPath arrow;
    arrow.moveTo(0, 0);
    arrow.lineTo(0, 11);
    arrow.lineTo(2.6, 8.6);
    arrow.lineTo(4.4, 12.4);
    arrow.lineTo(6.0, 11.7);
    arrow.lineTo(4.3, 8.0);
    arrow.lineTo(7.8, 8.0);
    arrow.closeSubpath();
    painter->setRenderHint(QPainter::Antialiasing);
    QColor shadow(Qt::black);
    shadow.setAlphaF(0.8f);
    painter->setPen(QPen(shadow, 1.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter->setBrush(Qt::white);
    painter->drawPath(arrow);
}

MiniKey::MiniKey(const QString& text, QGraphicsItem* parent)
    : QGraphicsObject(parent), text_(text) {
    setAcceptedMouseButtons(Qt::NoButton);
    setZValue(30);
}

void MiniKey::setText(const QString& text) {
    if (text != text_) {
        prepareGeometryChange();
        text_ = text;
    }
}

QFont MiniKey::font() const {
    QFont f;
    f.setPixelSize(10);
    f.setWeight(QFont::Medium);
    return f;
}

QRectF MiniKey::boundingRect() const {
    const QFontMetricsF metrics(font());
    const QSizeF size(metrics.horizontalAdvance(text_) + 10, metrics.height() + 2);
    return QRectF(QPointF(-size.width() / 2, -size.height() / 2), size);
}

void MiniKey::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) {
    const QRectF cap = boundingRect();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->fillPath(CornerShape::uniform(3).path(cap), white(0.9));
    painter->setFont(font());
    painter->setPen(Qt::black);
    painter->drawText(cap, Qt::AlignCenter, text_);
}

} // namespace ostrel
