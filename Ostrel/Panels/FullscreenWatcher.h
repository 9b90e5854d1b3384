#pragma once

#include "Platform/MainTask.h"
#include "Platform/X11/WindowSystem.h"

#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QSet>

#include <functional>
#include <map>

namespace ostrel {

// Finds the displays covered by a full-screen window. Main thread only.
class FullscreenWatcher : public QObject {
    Q_OBJECT
public:
    FullscreenWatcher(x11::WindowSystem* windows, std::function<std::map<quint32, QRectF>()> bounds,
                      std::function<void()> onSpaceChange,
                      std::function<void(const QSet<quint32>&)> onChange,
                      QObject* parent = nullptr);
    void start();
    void check();

private:
    void checkTwice();

    QPointer<x11::WindowSystem> windows_;
    std::function<std::map<quint32, QRectF>()> bounds_;
    std::function<void()> onSpaceChange_;
    std::function<void(const QSet<quint32>&)> onChange_;
    MainTask recheck_;
};

} // namespace ostrel
