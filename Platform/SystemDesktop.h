#pragma once

#include "Platform/Desktop.h"

namespace ostrel {

// Qt's default opener and clipboard; reveal through the freedesktop file manager's "ShowItems",
// else by opening the parent folder.
class SystemDesktop final : public Desktop {
public:
    void open(const QUrl& url) override;
    void reveal(const QString& path) override;
    void copyText(const QString& text) override;
    void copyImage(const QImage& image) override;
};

} // namespace ostrel
