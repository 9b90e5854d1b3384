#pragma once

#include "Ostrel/Model/PreviewController.h"

#include <QMargins>
#include <QPointer>

#include <functional>
#include <optional>

class QKeyEvent;
class QWidget;

namespace ostrel {

class PreviewPanel;

// The item being previewed: the file and the title the panel shows.
struct PreviewItem {
    QUrl url;
    QString title;
};

// Shows one shelf item in the preview panel while the shelf stays open and the application the
// user works in keeps the focus. The panel is created on the first show and reused; keys pressed
// while it is in front go back to the shelf (`onKey`). On a first show the card's picture moves
// from the card to where the panel will show it, and the panel appears around it when it lands;
// a file with no picture flies the panel itself out of the card, and only without a card on
// screen does the panel grow out of its own middle. Closing
// runs the same way back. The preview counts as showing from the start. Main thread only.
class PreviewPanelController final : public PreviewController {
public:
    // Makes the panel on the first show; a null panel means none can be shown.
    using PanelFactory = std::function<PreviewPanel*()>;

    explicit PreviewPanelController(PanelFactory makePanel = {});
    ~PreviewPanelController() override;

    void show(const QUrl& url, const QString& title, QScreen* screen, SourceFrame source,
              const QImage& transitionImage) override;
    void close() override;
    bool isVisible() const override;
    std::optional<QRectF> frame() const override;
    std::optional<WId> window() const override;

    const std::optional<PreviewItem>& item() const { return item_; }
    QScreen* screen() const { return screen_; }
    // The card's frame the panel zooms from and back to; the zero rectangle when it is gone.
    QRectF sourceFrameOnScreen() const;
    const QImage& transitionImage() const { return transitionImage_; }
    // The panel, when one was made; never makes one.
    PreviewPanel* panel() const;

    // The open drawer's frame in screen coordinates, none while the shelf is closed.
    std::function<std::optional<QRect>()> drawerFrame;
    // The frame a window manager will draw around the panel's window, in device pixels; none
    // when it does not say.
    std::function<std::optional<QMargins>(WId)> frameExtents;

    // The picture on its way between the card and the panel, while it moves.
    QWidget* zoomWindow() const { return zoom_; }
    // How long the picture takes between the card and the panel.
    static double zoomSeconds();
    // How long the picture that landed stays over the panel's own once the panel has drawn.
    static constexpr int handOverMs = 60;

    // Hands a shelf key to the shelf; false leaves the event to the panel.
    bool handleKey(const QKeyEvent& event);

private:
    // A picture on its way: where it shows on the card's side and on the panel's.
    struct Flight {
        QImage image;
        QRect card;
        QRect panel;
    };

    void place();
    QMargins frameMargins();
    Flight flight() const;
    void zoomIn();
    // From `from`, or from where the panel shows the picture.
    void zoomBack(std::optional<QRect> from);
    void reveal();

    PanelFactory makePanel_;
    QPointer<PreviewPanel> panel_;
    std::optional<PreviewItem> item_;
    QPointer<QScreen> screen_;
    SourceFrame source_;
    QImage transitionImage_;
    QPointer<QWidget> zoom_;
    // The panel's frame while the picture is on its way and the panel not yet shown.
    std::optional<QRect> planned_;
    // The size the panel opens at where there is room: the default, or the user's.
    QSize wanted_;
    // The size this controller last gave the panel; another one is the user's.
    QSize placed_;
    QMargins margins_;
    bool closing_ = false;
};

} // namespace ostrel
