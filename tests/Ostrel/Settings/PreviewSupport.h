#pragma once

#include "Ostrel/Settings/PreviewView.h"

#include <QApplication>
#include <QDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace ostrel::test {

// A preview under a host that lets it play, on a clock the test moves.
class PreviewFixture : public ::testing::Test {
protected:
    PreviewFixture() {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(13);
        QApplication::setFont(font);
        host = std::make_unique<QWidget>();
        setPreviewsPlaying(host.get(), true);
    }

    // Puts the preview under the host on the test's clock, which starts over at 0.
    template <typename T> T* adopt(T* preview) {
        time = 0;
        preview->setParent(host.get());
        preview->setClock([this] { return time; });
        preview->refresh();
        return preview;
    }

    // Moves the clock to `t` and runs what came due.
    void at(PreviewView* preview, double t) {
        time = t;
        preview->tick();
    }

    // Keeps a render for a look when OSTREL_PREVIEW_PNGS names a folder.
    static void keep(PreviewView* preview, const QString& name) {
        const QString dir = qEnvironmentVariable("OSTREL_PREVIEW_PNGS");
        if (!dir.isEmpty()) {
            QDir().mkpath(dir);
            preview->render().save(dir + QLatin1Char('/') + name + QStringLiteral(".png"));
        }
    }

    double time = 0;
    std::unique_ptr<QWidget> host;
};

} // namespace ostrel::test
