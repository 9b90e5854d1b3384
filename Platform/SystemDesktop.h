#pragma once

#include "Platform/Desktop.h"

#include <QProcessEnvironment>

namespace ostrel {

// The desktop's opener (xdg-open) and Qt's clipboard; reveal through the freedesktop file
// manager's "ShowItems", else by opening the parent folder.
class SystemDesktop final : public Desktop {
public:
    // The environment of a program we hand something to: ours without the choices made for this
    // process alone — the Qt platform it runs on (xcb, even on Wayland), Qt plugin paths, our own
    // OSTREL_* settings, preloaded libraries. A mail program started from here must come up as it
    // would from the user's menu.
    static QProcessEnvironment childEnvironment(const QProcessEnvironment& ours);

    void open(const QUrl& url) override;
    void reveal(const QString& path) override;
    void copyText(const QString& text) override;
    void copyImage(const QImage& image) override;
};

} // namespace ostrel
