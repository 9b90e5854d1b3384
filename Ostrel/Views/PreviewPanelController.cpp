#include "Ostrel/Views/PreviewPanelController.h"

#include "Ostrel/Panels/ShelfKeyEvent.h"
#include "Ostrel/Views/PreviewPlacement.h"
#include "Ostrel/Views/Symbols.h"
#include "OstrelCore/Display/Motion.h"
#include "Platform/PreviewPanel.h"

#include <QCursor>
#include <QEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cmath>

namespace ostrel {

namespace {

// Runs `then` once the window is exposed and has drawn (which it does right after the exposure
// reaches it), with a moment for the pixels to reach the screen; goes away with the window.
class AfterExposure final : public QObject {
public:
    AfterExposure(QWindow* window, int delayMs, std::function<void()> then)
        : QObject(window), delayMs_(delayMs), then_(std::move(then)) {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose && then_ &&
            static_cast<QWindow*>(watched)->isExposed()) {
            QTimer::singleShot(delayMs_, std::move(then_));
            then_ = nullptr;
            deleteLater();
        }
        return false;
    }

private:
    int delayMs_;
    std::function<void()> then_;
};

// A frame's top edge lower than this holds no title.
constexpr int titleBarLeast = 8;

// `size` scaled to fit `frame`, centred in it.
QRect fitted(QSize size, const QRect& frame) {
    if (size.isEmpty()) {
        return frame;
    }
    QRectF fit(QPointF(), QSizeF(size.scaled(frame.size(), Qt::KeepAspectRatio)));
    fit.moveCenter(QRectF(frame).center());
    return fit.toRect();
}

} // namespace

PreviewPanelController::PreviewPanelController(PanelFactory makePanel)
    : makePanel_(makePanel ? std::move(makePanel) : [] {
          auto* panel = new PreviewPanel();
          panel->symbol = [](const QString& name, int pixels) {
              return Symbols::image(name, pixels, QColor(200, 200, 204));
          };
          return panel;
      }) {}

PreviewPanelController::~PreviewPanelController() {
    delete zoom_.data();
    if (panel_) {
        panel_->onClosed = nullptr;
        panel_->keyHook = nullptr;
        delete panel_.data();
    }
}

PreviewPanel* PreviewPanelController::panel() const {
    return panel_;
}

void PreviewPanelController::show(const QUrl& url, const QString& title, QScreen* screen,
                                  SourceFrame source, const QImage& transitionImage) {
    if (!panel_) {
        panel_ = makePanel_();
        if (!panel_) {
            return;
        }
        wanted_ = panel_->size();
        panel_->keyHook = [this](const QKeyEvent& event) { return handleKey(event); };
        panel_->onClosed = [this] {
            // Whoever asks during the notice hears that the panel is going.
            closing_ = true;
            if (onChange) {
                onChange();
            }
            closing_ = false;
        };
    }
    const bool wasShowing = isVisible();
    item_ = PreviewItem{url, title};
    screen_ = screen;
    source_ = std::move(source);
    transitionImage_ = transitionImage;
    panel_->setItem(url, title);

    // A panel the user moved or resized while it was up stays where it is.
    if (!wasShowing) {
        place();
        zoomIn();
    } else if (planned_) {
        // Another item while the picture is on its way: the panel takes its place at once.
        delete zoom_.data();
        reveal();
    }
    if (onChange) {
        onChange();
    }
}

void PreviewPanelController::place() {
    QScreen* target = screen_;
    if (!target) {
        // No shelf screen given: the screen under the pointer, where the user looks.
        target = QGuiApplication::screenAt(QCursor::pos());
    }
    if (!target) {
        target = QGuiApplication::primaryScreen();
    }
    if (!target) {
        return;
    }
    if (placed_.isValid() && panel_->size() != placed_) {
        wanted_ = panel_->size(); // the user resized it
    }
    const QMargins margins = frameMargins();
    const QRectF card = sourceFrameOnScreen();
    const PreviewPlacement placement{
        wanted_.grownBy(margins),
        target->availableGeometry(),
        drawerFrame ? drawerFrame() : std::nullopt,
        card.isEmpty() ? std::nullopt : std::optional(card.toAlignedRect()),
        PreviewPanel::smallestSize.grownBy(margins),
    };
    const QRect frame = placement.frame();
    // Placed by its outer frame, so that a window manager's title bar lies inside it too.
    const QRect inner = frame.marginsRemoved(margins);
    panel_->setMinimumSize(PreviewPanel::smallestSize.boundedTo(inner.size()));
    panel_->setGeometry(inner);
    // Qt leaves a hidden window's geometry off the server until it shows it, and takes any
    // configure notice meanwhile (a window manager answering about frames) for a new geometry.
    panel_->windowHandle()->setGeometry(inner);
    placed_ = panel_->size();
}

// The window manager's frame around the panel: as the manager says, else as the platform knows
// it, else as it was the last time either knew.
QMargins PreviewPanelController::frameMargins() {
    const WId id = panel_->winId();
    if (const auto extents = frameExtents ? frameExtents(id) : std::nullopt) {
        const double ratio = panel_->devicePixelRatioF();
        const auto logical = [ratio](int pixels) { return int(std::ceil(pixels / ratio)); };
        margins_ = QMargins(logical(extents->left()), logical(extents->top()),
                            logical(extents->right()), logical(extents->bottom()));
        // No window manager (no frame at all), or one that draws no title bar: the panel names
        // the item itself. A manager that does not say is taken to draw one.
        panel_->setTitleShown(margins_.top() < titleBarLeast);
    } else if (const QMargins known = panel_->windowHandle()->frameMargins(); !known.isNull()) {
        margins_ = known;
    }
    return margins_;
}

// What moves between the card and the panel: the card's picture (the stored thumbnail, else the
// picture or drawing the panel shows) between the card and where the panel shows it; for a file
// with no picture at all, the panel itself, fitted to the card, between the card and the panel.
// Only without a card on screen does the panel grow out of the zero rectangle at its middle.
PreviewPanelController::Flight PreviewPanelController::flight() const {
    const QRect inner = panel_->geometry();
    if (!QGuiApplication::screenAt(inner.center())) {
        return {}; // its screen went away: nothing moves where no one sees it
    }
    const QRect card = sourceFrameOnScreen().toAlignedRect();
    if (card.isEmpty()) {
        return {panel_->snapshot(), QRect(inner.center(), QSize()), inner};
    }
    const QImage picture = transitionImage_.isNull() ? panel_->picture() : transitionImage_;
    if (picture.isNull()) {
        return {panel_->snapshot(), fitted(inner.size(), card), inner};
    }
    const QSize size = picture.deviceIndependentSize().toSize();
    const auto shown = panel_->pictureFrame();
    return {picture, fitted(size, card),
            shown ? shown->translated(inner.topLeft())
                  : fitted(size, panel_->framedArea().translated(inner.topLeft()))};
}

void PreviewPanelController::zoomIn() {
    delete zoom_.data();
    planned_ = panel_->geometry().marginsAdded(margins_);
    // The picture moves to where the panel shows it; the panel appears beneath it when it lands.
    const Flight f = flight();
    zoom_ = PreviewPanel::zoom(f.image, f.card, f.panel, zoomSeconds(), [this] {
        reveal();
        if (onChange) {
            onChange();
        }
    });
    if (!zoom_) {
        reveal();
    }
}

void PreviewPanelController::reveal() {
    planned_.reset();
    const QRect inner = panel_->geometry();
    if (!QGuiApplication::screenAt(inner.center())) {
        // The screen it was meant for went away while the picture moved.
        screen_ = nullptr;
        place();
    }
    if (zoom_) {
        // The landed picture lies exactly over the panel's own: it goes once that one is drawn,
        // or after a while should the panel never be exposed.
        const QPointer<QWidget> landed = zoom_;
        const auto away = [landed] {
            if (landed) {
                landed->close();
            }
        };
        panel_->winId();
        new AfterExposure(panel_->windowHandle(), handOverMs, away);
        QTimer::singleShot(1000, landed, away);
    }
    panel_->show();
    panel_->raise();
}

void PreviewPanelController::close() {
    if (!isVisible()) {
        return;
    }
    if (planned_) {
        // Closed before it landed: the picture goes back from where it got to, and the panel
        // never shows.
        const std::optional<QRect> from = zoom_ ? std::optional(zoom_->geometry()) : std::nullopt;
        planned_.reset();
        zoomBack(from);
        if (onChange) {
            onChange();
        }
        return;
    }
    zoomBack(std::nullopt);
    panel_->close();
}

// Back into the card when it is still on screen, else into the panel's middle; the shelf hears
// when the picture is gone.
void PreviewPanelController::zoomBack(std::optional<QRect> from) {
    delete zoom_.data();
    const Flight f = flight();
    zoom_ = PreviewPanel::zoom(f.image, from.value_or(f.panel), f.card, zoomSeconds(), [this] {
        const QPointer<QWidget> back = zoom_;
        zoom_.clear();
        back->close();
        if (onChange) {
            onChange();
        }
    });
}

double PreviewPanelController::zoomSeconds() {
    return Motion::standardDuration();
}

bool PreviewPanelController::isVisible() const {
    return item_ && panel_ && !closing_ && (planned_ || panel_->isVisible());
}

std::optional<QRectF> PreviewPanelController::frame() const {
    if (!isVisible()) {
        return std::nullopt;
    }
    return QRectF(planned_ ? *planned_ : panel_->frameGeometry());
}

std::optional<WId> PreviewPanelController::window() const {
    if (isVisible() && !planned_) {
        return panel_->winId();
    }
    if (zoom_) {
        return zoom_->winId();
    }
    return std::nullopt;
}

QRectF PreviewPanelController::sourceFrameOnScreen() const {
    if (source_) {
        if (const auto frame = source_()) {
            return *frame;
        }
    }
    return QRectF();
}

bool PreviewPanelController::handleKey(const QKeyEvent& event) {
    const auto key = shelfKey(event);
    if (!key || !onKey) {
        return false;
    }
    onKey(*key);
    return true;
}

} // namespace ostrel
