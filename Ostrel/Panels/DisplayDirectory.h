#pragma once

#include "Ostrel/Model/ScreenDirectory.h"
#include "OstrelCore/Display/NotchGeometry.h"
#include "Platform/X11/WindowSystem.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

class QScreen;

namespace ostrel {

// What an EDID block tells about a monitor.
struct EdidInfo {
    QString manufacturer; // three letters
    quint16 product = 0;
    quint32 serial = 0;
    QString model; // the monitor name descriptor; empty when absent
    static std::optional<EdidInfo> parse(const QByteArray& edid);
};

// Display numbers, UUID texts, names and native resolutions of Qt's screens, from the RandR
// monitors Qt builds them from. Every screen gets a number: the first output of its monitor, else
// a stable hash of the screen's name.
class DisplayDirectory : public ScreenDirectory {
public:
    explicit DisplayDirectory(x11::WindowSystem* windows) : windows_(windows) {}

    // Reads the monitors again (after a change of screens).
    void reload();

    QScreen* screen(quint32 display) const override;
    std::optional<quint32> display(const QScreen* screen) const override;
    QString uuidText(const QScreen* screen) const;
    QString name(const QScreen* screen) const;
    std::optional<PixelSize> nativeResolution(const QScreen* screen) const;

    static quint32 hashName(const QString& name);

private:
    const x11::Monitor* monitor(const QScreen* screen) const;

    x11::WindowSystem* windows_;
    QList<x11::Monitor> monitors_;
};

} // namespace ostrel
