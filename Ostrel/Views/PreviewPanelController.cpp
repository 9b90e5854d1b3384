#include "Ostrel/Views/PreviewPanelController.h"

#include "Ostrel/Panels/ShelfKeyEvent.h"
#include "OstrelCore/Display/Motion.h"
#include "Platform/PreviewPanel.h"

#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>

#include <algorithm>
#include <cmath>

namespace ostrel {

PreviewPanelController::PreviewPanelController(PanelFactory makePanel)
    : makePanel_(makePanel ? std::move(makePanel) : [] { return new PreviewPanel(); }) {}

PreviewPanelController::~PreviewPanelController() {
    if (panel_) {
        panel_->onClosed = nullptr;
        panel_->keyHook = nullptr;
        delete panel_.data();
    }
}

PreviewPanel* PreviewPanelController::panel() const {
    return panel_;
}

QRect PreviewPanelController::centredFrame(QSize panel, QRect visible) {
    const int width = std::min(panel.width(), visible.width() - int(screenMargin));
    const int height = std::min(panel.height(), visible.height() - int(screenMargin));
    const double midX = visible.x() + visible.width() / 2.0;
    const double midY = visible.y() + visible.height() / 2.0;
    return QRect(int(std::floor(midX - width / 2.0)), int(std::floor(midY - height / 2.0)), width,
                 height);
}

void PreviewPanelController::show(const QUrl& url, const QString& title, QScreen* screen,
                                  SourceFrame source, const QImage& transitionImage) {
    if (!panel_) {
        panel_ = makePanel_();
        if (!panel_) {
            return;
        }
        panel_->keyHook = [this](const QKeyEvent& event) { return handleKey(event); };
        panel_->onClosed = [this] {
            if (onChange) {
                onChange();
            }
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
        QScreen* target = screen;
        if (!target) {
            // No shelf screen given: the screen under the pointer, where the user looks.
            target = QGuiApplication::screenAt(QCursor::pos());
        }
        if (!target) {
            target = QGuiApplication::primaryScreen();
        }
        if (target) {
            panel_->setGeometry(centredFrame(panel_->size(), target->availableGeometry()));
        }
    }
    if (!panel_->isVisible()) {
        panel_->show();
        panel_->raise();
        // The card's picture grows from where the card is into the panel.
        zoom_ = PreviewPanel::zoom(transitionImage_, sourceFrameOnScreen().toAlignedRect(),
                                   panel_->geometry(), zoomSeconds());
    }
    if (onChange) {
        onChange();
    }
}

void PreviewPanelController::close() {
    if (isVisible()) {
        // Back into the card, when it is still on screen.
        zoom_ = PreviewPanel::zoom(transitionImage_, panel_->geometry(),
                                   sourceFrameOnScreen().toAlignedRect(), zoomSeconds());
        panel_->close();
    }
}

double PreviewPanelController::zoomSeconds() {
    return Motion::standardDuration();
}

bool PreviewPanelController::isVisible() const {
    return item_ && panel_ && panel_->isVisible();
}

std::optional<QRectF> PreviewPanelController::frame() const {
    if (!isVisible()) {
        return std::nullopt;
    }
    return QRectF(panel_->frameGeometry());
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
