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

QRect PreviewPanelController::placedFrame(QSize panel, QRect visible,
                                          const std::optional<QRect>& drawer) {
    const QRect centred = centredFrame(panel, visible);
    if (!drawer || !centred.intersects(*drawer)) {
        return centred;
    }
    const int half = int(screenMargin) / 2;
    const QRect area = visible.adjusted(half, half, -half, -half);
    const QRect keep = drawer->adjusted(-drawerGap, -drawerGap, drawerGap, drawerGap);
    const int w = centred.width();
    const int h = centred.height();
    const auto clamped = [&](int x, int y) {
        x = std::max(area.left(), std::min(x, area.right() + 1 - w));
        y = std::max(area.top(), std::min(y, area.bottom() + 1 - h));
        return QRect(x, y, w, h);
    };
    // Beside each edge of the drawer, as close to the middle as the screen allows.
    const QRect candidates[] = {
        clamped(centred.x(), keep.bottom() + 1),
        clamped(centred.x(), keep.top() - h),
        clamped(keep.right() + 1, centred.y()),
        clamped(keep.left() - w, centred.y()),
    };
    const auto hidden = [&](const QRect& r) {
        const QRect covered = r.intersected(*drawer);
        return qint64(covered.width()) * covered.height();
    };
    const auto moved = [&](const QRect& r) {
        return qint64(std::abs(r.x() - centred.x())) + std::abs(r.y() - centred.y());
    };
    const QRect* best = &candidates[0];
    for (const QRect& r : candidates) {
        if (hidden(r) < hidden(*best) || (hidden(r) == hidden(*best) && moved(r) < moved(*best))) {
            best = &r;
        }
    }
    return *best;
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
            const QRect frame = placedFrame(panel_->size(), target->availableGeometry(),
                                            drawerFrame ? drawerFrame() : std::nullopt);
            // Placed by its outer frame, so that a window manager's title bar lies inside it too.
            panel_->resize(frame.size());
            panel_->move(frame.topLeft());
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
