#pragma once

#include "Ostrel/Surface/DrawerContentItem.h"
#include "Ostrel/Surface/DrawerMotion.h"
#include "Ostrel/Surface/ShelfSignal.h"
#include "Ostrel/Views/ViewContext.h"

#include "OstrelCore/Display/DisplayLayout.h"
#include "OstrelCore/Display/Motion.h"
#include "OstrelCore/Display/MotionAnimator.h"
#include "OstrelCore/Records/Preferences.h"

#include <QGraphicsObject>
#include <QPainterPath>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace ostrel {

class ShelfModel;

// The root item of one display's shelf panel: the closed shelf's signal (glow, count, peek,
// style pulse) and the drawer growing open around its content, composed afresh on every frame
// from the model's values and the interface clock. Main thread only.
class ShelfView : public QGraphicsObject {
    Q_OBJECT
public:
    using Clock = std::function<double()>;

    // The model's values this view reads, taken together at each change.
    struct Inputs {
        std::optional<DisplayLayout> layout;
        LayoutChoice layoutChoice = LayoutChoice::rail;
        bool pendingUndo = false;
        bool drawerBuilt = false;
        std::optional<quint32> openScreen;
        // A full-screen window covers this display.
        bool fullscreen = false;
        ArrivalSignal signal = ArrivalSignal::glow;
        GlowStrength glowStrength = GlowStrength::balanced;
        int glowPulses = 2;
        bool pillPreview = true;
        PeekPileStyle pillPile = PeekPileStyle::fan;
        int signalUnread = 0;
        int arrivalTick = 0;
        std::optional<quint32> peekHovered;
        bool styleSunk = false;
        // How the panel sinks or rises when `styleSunk` changes, as the panel controller chose.
        Motion::Curve sunkCurve = Motion::Curve::none();
        int stylePulseTick = 0;
        double countWidth = 0;
    };

    // What the view asks of the model and the shell.
    struct Hooks {
        std::function<void(bool peeking)> setPeeking;
        std::function<int()> arrivalCount;
        std::function<std::vector<std::optional<QImage>>(int n)> arrivalImages;
        std::function<void()> clearRegion;
        std::function<void()> peekTapped;
        // Builds the drawer content while the drawer is kept built; none leaves it empty.
        std::function<DrawerContentItem*(const DrawerContentPlan&)> makeContent;
        // The accessibility switches and motion scale; `Motion::current()` when unset.
        std::function<Motion::Context()> motion;
        // Places the hover tips: inside the open drawer's rectangle, clear of the camera housing
        // (panel coordinates).
        std::function<void(const QRectF& bounds, const std::optional<QRectF>& avoid)> placeTips;
    };

    ShelfView(quint32 display, Hooks hooks, Clock clock = {}, QGraphicsItem* parent = nullptr);
    ~ShelfView() override;

    // The view of one display over the model, following every change of what it reads. It runs
    // on the model's clock.
    static ShelfView* create(ShelfModel& model, quint32 display);
    // What the drawer content of one display is built with: the model, the display, the model's
    // clock, its tip center and the application's cards.
    static ViewContext drawerContext(ShelfModel& model, quint32 display);

    quint32 displayID() const { return display_; }

    // Takes the model's current values; a changed value runs its handler, in a fixed order.
    void setInputs(const Inputs& inputs);
    const Inputs& inputs() const { return in_; }

    // Without a compositor glows cannot blend over the desktop: they are left out (the panel
    // shows the rest flattened and cut to its pixels).
    void setCompositing(bool on);
    bool compositing() const { return compositing_; }

    // Reads the clock, runs what is due and draws a frame. A running animation ticks itself;
    // tests call it after moving their clock.
    void tick();
    // The composition of the last frame, and the inputs it was composed from.
    const DrawerMotion& motion() const { return motion_; }
    const DrawerMotion::Frame& frame() const { return frame_; }
    const ShelfSignal& signalState() const { return signal_; }
    DrawerContentItem* content() const { return content_; }

    // "Ostrel shelf", or the number of unread items followed by " new items". Every window showing
    // the view carries it as its accessible name; the drawer's controls and cards in view are its
    // accessible children (ShelfPanelAccessible).
    QString accessibleLabel() const;
    // Tells assistive technology that the selection and the focus went to the card of `itemID`
    // in view (and left the one it was on).
    void announceSelection(const std::optional<QString>& itemID);

    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

    // The peek card's gestures, in screen points; the card item calls them.
    void cardTapped();
    void cardDragged(QPointF translation, QPointF predicted, bool ended);

protected:
    QVariant itemChange(GraphicsItemChange change, const QVariant& value) override;

private:
    class ContentFrame;
    class BadgeItem;
    class CardItem;

    double now() const;
    Motion::Context motionContext() const;
    void compose(double now);
    void updateContent();
    void scheduleFrames();
    void placeTips();
    void labelWindows();

    quint32 display_;
    Hooks hooks_;
    Clock clock_;
    Inputs in_;
    bool started_ = false;
    bool compositing_ = true;
    bool clearedRegion_ = false;
    ShelfSignal signal_;
    Motion::Animated progress_;
    Motion::Animated message_;
    Motion::Animated radius_;
    Motion::Animated core_;
    Motion::Animated sunk_;
    Motion::Animated lineLit_;
    // The badge's number rolls from `countFrom_` to the current count as this runs to 1.
    int countFrom_ = 0;
    Motion::Animated countRoll_{1};
    DrawerMotion motion_;
    DrawerMotion::Frame frame_;
    std::optional<DrawerContentPlan> plan_;
    std::optional<std::pair<QRectF, std::optional<QRectF>>> tipPlace_;
    QPointer<DrawerContentItem> content_;
    QPointer<QGraphicsObject> announced_;
    ContentFrame* contentFrame_;
    BadgeItem* badge_;
    CardItem* card_;
    QTimer frames_;
};

} // namespace ostrel
