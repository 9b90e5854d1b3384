#pragma once

#include "Ostrel/Settings/MiniSpace.h"
#include "Ostrel/Settings/PreviewDisplay.h"

#include <QGraphicsObject>

namespace ostrel {

// A screen in miniature, in a fixed 160 × 100 frame: wallpaper, top bar, panel and camera
// housing, with the preview's content on top. The content sits in `content()`, whose origin is
// the viewport's top left.
class MiniScreen : public QGraphicsObject {
public:
    static inline const QSizeF frameSize{160, 100};
    static constexpr double corner = 6;

    MiniScreen(const PreviewDisplay& display, const MiniSpace& space,
               QGraphicsItem* parent = nullptr);

    void setDisplay(const PreviewDisplay& display, const MiniSpace& space);
    const PreviewDisplay& display() const { return display_; }
    const MiniSpace& space() const { return space_; }
    QGraphicsObject* content() const { return content_; }
    // Where the viewport's top left lies in the frame: the viewport is centred in it.
    QPointF contentOrigin() const;

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

private:
    PreviewDisplay display_;
    MiniSpace space_;
    QGraphicsObject* content_;
};

// The mouse pointer of a preview; its tip is at the item's position.
class MiniPointer : public QGraphicsObject {
public:
    explicit MiniPointer(QGraphicsItem* parent = nullptr);
    void setPressed(bool pressed);
    bool pressed() const { return pressed_; }
    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

private:
    bool pressed_ = false;
};

// A key cap with a label, centred on the item's position.
class MiniKey : public QGraphicsObject {
public:
    explicit MiniKey(const QString& text, QGraphicsItem* parent = nullptr);
    void setText(const QString& text);
    const QString& text() const { return text_; }
    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override;

private:
    QFont font() const;
    QString text_;
};

} // namespace ostrel
