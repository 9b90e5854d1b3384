#pragma once

#include "Ostrel/Model/AppSettings.h"
#include "Ostrel/Settings/PreferencesWindowController.h"
#include "Platform/UserDefaults.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QKeyEvent>
#include <QPalette>
#include <QWidget>

#include <gtest/gtest.h>

#include <memory>

namespace ostrel::test {

// One settings store in a fresh folder, the application font pinned, the light palette.
class SettingsFixture : public ::testing::Test {
protected:
    SettingsFixture() {
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(13);
        QApplication::setFont(font);
        QApplication::setPalette(lightPalette());
    }
    ~SettingsFixture() override {
        QApplication::setPalette(lightPalette());
        PreferencesWindowController::setScreenAreas(nullptr);
    }

    // The usable areas of the screens the Settings window sees, the primary one's first.
    static void useScreens(const QList<QRect>& areas) {
        PreferencesWindowController::setScreenAreas([areas] { return areas; });
    }

    // The store as it is on disk now.
    QJsonObject stored() const {
        QFile file(dir.file(QStringLiteral("defaults.json")));
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QJsonDocument::fromJson(file.readAll()).object();
    }

    void writeStore(const QJsonObject& values) const {
        dir.write(QStringLiteral("defaults.json"), QJsonDocument(values).toJson());
    }

    // Settings over the store as it is on disk now.
    std::unique_ptr<AppSettings> makeSettings() const {
        return std::make_unique<AppSettings>(
            std::make_shared<UserDefaults>(dir.path(), QStringLiteral("defaults")));
    }

    static QPalette lightPalette() {
        QPalette p;
        p.setColor(QPalette::Window, QColor(237, 237, 237));
        p.setColor(QPalette::WindowText, Qt::black);
        p.setColor(QPalette::Base, Qt::white);
        p.setColor(QPalette::Text, Qt::black);
        p.setColor(QPalette::Button, QColor(245, 245, 245));
        p.setColor(QPalette::ButtonText, Qt::black);
        return p;
    }

    static QPalette darkPalette() {
        QPalette p;
        p.setColor(QPalette::Window, QColor(32, 32, 32));
        p.setColor(QPalette::WindowText, Qt::white);
        p.setColor(QPalette::Base, QColor(45, 45, 45));
        p.setColor(QPalette::Text, Qt::white);
        p.setColor(QPalette::Button, QColor(60, 60, 60));
        p.setColor(QPalette::ButtonText, Qt::white);
        return p;
    }

    TempDir dir;
};

// Lays out what changed: each nesting level's layout asks its parent's in an event of its own.
inline void settleLayouts() {
    for (int i = 0; i < 8; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    }
}

// A key press as the X server reports it: the key code of the physical key in the native scan
// code, which QTest leaves at 0.
inline void pressKey(QWidget* target, Qt::Key key, quint32 xKeycode, Qt::KeyboardModifiers mods,
                     const QString& text = QString()) {
    QKeyEvent press(QEvent::KeyPress, key, mods, xKeycode, 0, 0, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, mods, xKeycode, 0, 0, text);
    QApplication::sendEvent(target, &release);
}

// Where rendered PNGs go when OSTREL_RENDER_DIR is set; empty otherwise.
inline QString renderPath(const QString& name) {
    const QString folder = qEnvironmentVariable("OSTREL_RENDER_DIR");
    if (folder.isEmpty()) {
        return {};
    }
    QDir().mkpath(folder);
    return QDir(folder).filePath(name + QStringLiteral(".png"));
}

} // namespace ostrel::test
