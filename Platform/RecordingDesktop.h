#pragma once

#include "Platform/Desktop.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

namespace ostrel {

// A desktop that only records what it was asked, for tests.
class RecordingDesktop final : public Desktop {
public:
    void open(const QUrl& url) override { opened.append(url); }
    void reveal(const QString& path) override { revealed.append(path); }
    void copyText(const QString& text) override {
        copiedText = text;
        copiedImage = QImage();
    }
    void copyImage(const QImage& image) override {
        copiedImage = image;
        copiedText.reset();
    }

    QList<QUrl> opened;
    QStringList revealed;
    std::optional<QString> copiedText;
    QImage copiedImage;
};

} // namespace ostrel
