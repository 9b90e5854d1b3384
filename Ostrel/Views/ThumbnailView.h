#pragma once

#include "Ostrel/Model/MenuEntry.h"
#include "Ostrel/Views/AccessibleItem.h"
#include "Ostrel/Views/DragLift.h"
#include "Ostrel/Views/ThumbnailCard.h"
#include "Ostrel/Views/Thumbnailer.h"
#include "Ostrel/Views/TipAnchorView.h"
#include "Ostrel/Views/ViewContext.h"
#include "OstrelCore/Display/MotionAnimator.h"
#include "OstrelCore/Records/ShelfItem.h"
#include "Platform/MainClock.h"

#include <QGraphicsObject>
#include <QImage>
#include <QPainterPath>
#include <QPointer>
#include <QSizeF>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace ostrel {

class ShelfModel;
class ShelfTips;
class TipAnchor;

// One item's card wherever items show (rail and column grids, stack decks). It draws itself from
// the thumbnail cache at once and loads a missing picture when it is shown, registers its screen
// anchor, reports being shown for seen tracking, and turns pointer input into calls on the model:
// hover, click (count 1, then 2 for a double click), a drag-out from 3 points of movement, and the
// context menu. Assistive technology reads it as a button ("Report, PDF, new") whose press opens
// the item, as a double click does.
class ThumbnailView : public QGraphicsObject, public AccessibleItem {
    Q_OBJECT
public:
    struct Options {
        bool selected = false;
        bool dot = false;
        bool showsTitle = true;
        bool tracksVisibility = true;
        bool dragsOut = true;
        bool showsTip = true;
        // On the drawer's opaque ground, hiding what lies behind (a deck's cards lie on each
        // other).
        bool grounded = false;
        // A part of the card, in its coordinates, that the title's tip keeps clear of (a deck's
        // count).
        std::optional<QRectF> tipAvoid;
        friend bool operator==(const Options&, const Options&) = default;
    };

    ThumbnailView(ShelfModel* model, quint32 display, const ShelfItem& item, QSizeF size,
                  Options options, QGraphicsItem* parent = nullptr,
                  std::shared_ptr<MainClock> clock = MainClock::system());
    ~ThumbnailView() override;

    // The cards of a drawer: on the context's model, display and clock, each offering its title's
    // tip through the context's tip center.
    static ViewContext::CardFactory factory(const ViewContext& context);

    // Offers the title's tip through `tips` while the card exists (none: no tip).
    void setTips(ShelfTips* tips);

    const ShelfItem& item() const { return item_; }
    // Another item moves the anchor and restarts the picture; the same id only redraws.
    void setItem(const ShelfItem& item);
    QSizeF size() const { return size_; }
    void setSize(QSizeF size);
    const Options& options() const { return options_; }
    void setOptions(const Options& options);
    quint32 display() const { return display_; }
    // Replaces the model's click handling; given the click count.
    void setOnTap(std::function<void(int count)> onTap) { onTap_ = std::move(onTap); }

    // The container says the card came into view (true) or left it: seen tracking and loading
    // follow. A card is not shown until told.
    void setShown(bool shown);
    bool isShown() const { return shown_; }

    const std::optional<QImage>& image() const { return image_; }
    bool isHovering() const { return hovering_; }
    // The card as it draws now.
    ThumbnailCard card() const;
    AnchorView* anchor() const { return anchor_; }
    // Whether the title is cut short (its tip then shows the whole title).
    bool titleCut() const { return titleCut_ && *titleCut_; }

    // The context menu's entries, as data.
    QList<MenuEntry> contextMenu() const;
    // "Report, PDF, new".
    QString accessibleLabel() const;

    QAccessible::Role accessibleRole() const override { return QAccessible::Button; }
    QString accessibleName() const override { return accessibleLabel(); }
    QAccessible::State accessibleState() const override;
    QStringList accessibleActions() const override;
    void doAccessibleAction(const QString& name) override;

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

protected:
    void hoverEnterEvent(QGraphicsSceneHoverEvent* event) override;
    void hoverMoveEvent(QGraphicsSceneHoverEvent* event) override;
    void hoverLeaveEvent(QGraphicsSceneHoverEvent* event) override;
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseDoubleClickEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;
    void contextMenuEvent(QGraphicsSceneContextMenuEvent* event) override;

private:
    double side() const;
    // The card as it is drawn: at the finest pixel ratio it was painted at or its views show it
    // at.
    Thumbnailer::Fill fill() const;
    // No picture yet, or a picture item's picture that does not fill the card as drawn
    // (Thumbnailer::fills).
    bool wantsPicture() const;
    void startLoad();
    void pictureArrived(const QString& itemID, std::optional<QImage> picture);
    void scheduleFrame();
    void updateAnchor();
    void updateLift();
    DragLift::Render renderer();

    QPointer<ShelfModel> model_;
    quint32 display_;
    ShelfItem item_;
    QSizeF size_;
    Options options_;
    std::function<void(int)> onTap_;
    std::shared_ptr<MainClock> clock_;

    std::optional<QImage> image_;
    bool hovering_ = false;
    bool shown_ = false;
    std::shared_ptr<bool> titleCut_ = std::make_shared<bool>(false);
    // The title laid out for the item and size: its tip and every raster of the card use it.
    ThumbnailCard::Title title_;
    AnchorView* anchor_ = nullptr;
    QPointer<ShelfTips> tips_;
    std::shared_ptr<TipAnchor> tip_;
    Thumbnailer::LoadHandle load_;
    // The finest device pixel ratio it was painted at (0 before the first paint), and the card's
    // pixels the last load was for.
    double pixelRatio_ = 0;
    QSize loadedFor_;
    Motion::Animated fade_{1};
    struct Cover {
        qint64 key = 0;
        double ratio = 0;
        QSizeF size;
        QImage image;
    };
    Cover cover_;
    // The card without its picture and with it, while the picture fades in.
    struct Fade {
        double ratio = 0;
        qint64 picture = 0;
        bool hovering = false;
        bool dot = false;
        QImage before;
        QImage after;
        bool sameAs(const Fade& other) const {
            return !before.isNull() && ratio == other.ratio && picture == other.picture &&
                   hovering == other.hovering && dot == other.dot;
        }
    };
    Fade fading_;
    MainClock::Handle frame_;

    // The press in progress.
    bool pressed_ = false;
    bool doubleClick_ = false;
    bool dragged_ = false;
    QPointF pressAt_;
};

} // namespace ostrel
