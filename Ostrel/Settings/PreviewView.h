#pragma once

#include "Ostrel/Settings/MiniScreen.h"
#include "Ostrel/Settings/MiniShelf.h"
#include "Ostrel/Settings/PreviewPlayer.h"

#include <QGraphicsView>
#include <QTimer>

#include <functional>

namespace ostrel {

// Whether the previews under `root` may play: the Settings window sets it while it can be seen.
// A preview outside such a window never plays.
void setPreviewsPlaying(QWidget* root, bool playing);
bool previewsPlaying(const QWidget* widget);

// The textual forms the previews' restart keys are made of.
QString styleText(const DisplayStyle& style);
QString rectText(const QRectF& rect);

// A 160 × 100 animated preview: a mini screen with the shelf on it, a pointer and a key cap, and
// the looping scene that moves them. Subclasses give the scene, what restarts it, and how their
// animated values reach the items.
class PreviewView : public QGraphicsView {
public:
    using Clock = std::function<double()>;

    PreviewView(const PreviewDisplay& display, const MiniSpace& space, QWidget* parent = nullptr);

    // Tests choose the time; the default is the monotonic clock in seconds.
    void setClock(Clock clock);
    double now() const { return clock_(); }
    // Starts the scene over when its key changed, then draws the present moment.
    void refresh();
    // Runs what has come due and moves the items to the present moment.
    void tick();

    PlayKey playKey() const;
    const PreviewPlayer& player() const { return player_; }
    MiniScreen* screen() const { return screen_; }
    MiniShelf* shelf() const { return shelf_; }
    MiniPointer* pointer() const { return pointer_; }
    MiniKey* keyCap() const { return key_; }
    const MiniSpace& space() const { return space_; }
    const PreviewDisplay& display() const { return display_; }
    // The environment's flag, and the system's reduce-motion setting.
    bool playing() const;
    bool reduceMotion() const;

    // The preview drawn now, at its own size.
    QImage render();

protected:
    void setDisplay(const PreviewDisplay& display, const MiniSpace& space);
    virtual QString detail() const = 0;
    virtual PreviewPlayer::Scene makeScene() = 0;
    virtual void sync(double now) = 0;
    // Whether an animation is still under way at `now`.
    virtual bool moving(double now) const = 0;

    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void schedule(double now);

    PreviewDisplay display_;
    MiniSpace space_;
    Clock clock_;
    PreviewPlayer player_;
    MiniScreen* screen_;
    MiniShelf* shelf_;
    MiniPointer* pointer_;
    MiniKey* key_;
    QTimer frame_;
};

} // namespace ostrel
