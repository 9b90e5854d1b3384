#pragma once

#include "Ostrel/Model/PreviewController.h"

#include <QPointer>

#include <functional>
#include <optional>

class QKeyEvent;

namespace ostrel {

class PreviewPanel;

// The item being previewed: the file and the title the panel shows.
struct PreviewItem {
    QUrl url;
    QString title;
};

// Shows one shelf item in the preview panel while the shelf stays open and the application the
// user works in keeps the focus. The panel is created on the first show and reused; keys pressed
// while it is in front go back to the shelf (`onKey`). Main thread only.
class PreviewPanelController final : public PreviewController {
public:
    // Makes the panel on the first show; a null panel means none can be shown.
    using PanelFactory = std::function<PreviewPanel*()>;

    // How far the panel keeps from the edges of the visible frame, on each axis together.
    static constexpr double screenMargin = 80;
    // How far the panel keeps from the open drawer.
    static constexpr int drawerGap = 16;

    explicit PreviewPanelController(PanelFactory makePanel = {});
    ~PreviewPanelController() override;

    void show(const QUrl& url, const QString& title, QScreen* screen, SourceFrame source,
              const QImage& transitionImage) override;
    void close() override;
    bool isVisible() const override;
    std::optional<QRectF> frame() const override;

    const std::optional<PreviewItem>& item() const { return item_; }
    QScreen* screen() const { return screen_; }
    // The card's frame the panel zooms from and back to; the zero rectangle when it is gone.
    QRectF sourceFrameOnScreen() const;
    const QImage& transitionImage() const { return transitionImage_; }
    // The panel, when one was made; never makes one.
    PreviewPanel* panel() const;

    // The panel's frame on a first show: its size, kept within the visible frame less the
    // margin, centred on that frame.
    static QRect centredFrame(QSize panel, QRect visible);
    // The same, moved clear of the open drawer by the least distance; where the screen is too
    // small for that, placed where it hides the least of the drawer.
    static QRect placedFrame(QSize panel, QRect visible, const std::optional<QRect>& drawer);

    // The open drawer's frame in screen coordinates, none while the shelf is closed.
    std::function<std::optional<QRect>()> drawerFrame;

    // The picture on its way between the card and the panel, while it moves.
    QWidget* zoomWindow() const { return zoom_; }
    // How long the picture takes between the card and the panel.
    static double zoomSeconds();

    // Hands a shelf key to the shelf; false leaves the event to the panel.
    bool handleKey(const QKeyEvent& event);

private:
    PanelFactory makePanel_;
    QPointer<PreviewPanel> panel_;
    std::optional<PreviewItem> item_;
    QPointer<QScreen> screen_;
    SourceFrame source_;
    QImage transitionImage_;
    QPointer<QWidget> zoom_;
};

} // namespace ostrel
