#pragma once

#include "Ostrel/Model/ShelfKey.h"
#include "Ostrel/Panels/FlatFrame.h"

#include <QElapsedTimer>
#include <QGraphicsView>
#include <QRegion>
#include <QTimer>

#include <functional>
#include <optional>

class QGraphicsItem;
class QGraphicsScene;

namespace ostrel {

// One display's shelf window: unmanaged (override-redirect), frameless, translucent, above
// everything and shown without taking the focus. It renders a scene whose root item the shelf
// views provide, and reports pointer, wheel, press and key events; it holds no shelf logic.
// It paints at most once a display frame: what changes in the scene between two frames (a wheel
// notch, a step of a scroll, a picture fading in) is painted together at the next one.
class NotchPanel : public QGraphicsView {
    Q_OBJECT
public:
    explicit NotchPanel(QWidget* parent = nullptr);
    ~NotchPanel() override;

    // Whether the panel may take the keyboard focus.
    bool allowsKey = false;
    std::function<void(ShelfKey)> onKey;
    // A left press in the panel.
    std::function<void()> onPress;
    // Any press (left, right or other) in the panel.
    std::function<void()> onAnyPress;
    // The pointer moved inside the panel or left it.
    std::function<void()> onPointer;
    // Offered every wheel event; true when consumed.
    std::function<bool(QWheelEvent*)> onScrollWheel;
    // The window was hidden by its controller, or unmapped by anything else.
    std::function<void()> onHidden;
    // Whether the window is mapped and can be seen (false after an unmap by another client).
    bool isOnScreen() const;

    // Replaces what the panel shows; the panel owns the item. The previous one is deleted.
    void setRootItem(QGraphicsItem* item);
    QGraphicsItem* rootItem() const { return root_; }
    QGraphicsScene* shelfScene() const { return scene_; }

    // Whether a compositing manager blends the window over what lies beneath. Without one the
    // panel shows each frame flattened (`FlatFrame`) and cuts its window to the pixels it keeps,
    // so that no black stands where the shelf draws nothing or only faintly.
    void setCompositing(bool on);
    bool compositing() const { return compositing_; }
    // The window's shape without a compositor, as the last frame left it.
    void cutTo(const QRegion& shape);
    // What the frames without a compositor kept, and how often the window's shape was set (each
    // time a request the X server answers by exposing and repainting what it uncovers).
    const FlatFrame& flatFrame() const { return flat_; }
    int shapeRequests() const { return shapeRequests_; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool paceRepaint();
    void paintFrame();
    int frameInterval() const;

    QGraphicsScene* scene_;
    QTimer frame_;
    QElapsedTimer lastFrame_;
    QGraphicsItem* root_ = nullptr;
    bool compositing_ = true;
    std::optional<QRegion> cut_;
    int shapeRequests_ = 0;
    FlatFrame flat_;
    bool exposed_ = false;
};

} // namespace ostrel
