#pragma once

#include "Ostrel/Model/ShelfKey.h"

#include <QImage>
#include <QRectF>
#include <QString>
#include <QUrl>
#include <qwindowdefs.h>

#include <functional>
#include <optional>

class QScreen;

namespace ostrel {

// The preview panel as the shelf model drives it. This base shows nothing (the model works
// without one, headless); the preview window derives from it.
class PreviewController {
public:
    // The frame (Qt global coordinates) the preview grows from; none when unknown.
    using SourceFrame = std::function<std::optional<QRectF>()>;

    virtual ~PreviewController() = default;

    // Shows the file under the title on the screen (none: where the pointer is).
    virtual void show(const QUrl& url, const QString& title, QScreen* screen, SourceFrame source,
                      const QImage& transitionImage) {
        (void)url, (void)title, (void)screen, (void)source, (void)transitionImage;
    }
    // Closes the panel when it shows an item; otherwise nothing.
    virtual void close() {}
    // An item is set and the panel is on screen.
    virtual bool isVisible() const { return false; }
    // The panel's frame while visible (Qt global coordinates).
    virtual std::optional<QRectF> frame() const { return std::nullopt; }
    // The native window that stands above the shelf's panels: the panel's while it is up, else
    // that of its picture on the way between the card and the panel; none when neither shows.
    virtual std::optional<WId> window() const { return std::nullopt; }

    // Keys pressed while the panel has focus (arrows, space, escape).
    std::function<void(ShelfKey)> onKey;
    // The panel opened, closed or changed its item.
    std::function<void()> onChange;
};

} // namespace ostrel
