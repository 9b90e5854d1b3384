#pragma once

#include "OstrelCore/Display/ActiveDisplay.h"
#include "Platform/X11/WindowSystem.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <functional>
#include <map>

namespace ostrel {

// Follows which display holds the user's current work, for the shelf limited to that display:
// samples the window manager's window list on clicks, application switches, desktop changes and
// while Ctrl, Alt or Super is held, and lets ActiveDisplay::Tracker decide. Runs only when asked to
// and more than one screen is attached. Main thread only.
class ActiveDisplayWatcher : public QObject {
    Q_OBJECT
public:
    using Bounds = std::function<std::map<quint32, QRectF>()>;
    ActiveDisplayWatcher(x11::WindowSystem* windows, Bounds bounds,
                         std::function<void(std::optional<quint32>)> onChange,
                         QObject* parent = nullptr);

    void setEnabled(bool on);
    void refresh();
    bool isRunning() const { return running_; }
    const ActiveDisplay::Tracker& tracker() const { return tracker_; }

private:
    std::vector<ActiveDisplay::Window> windowList() const;
    void pressed(int button);
    void burst();

    QPointer<x11::WindowSystem> windows_;
    Bounds bounds_;
    std::function<void(std::optional<quint32>)> onChange_;
    ActiveDisplay::Tracker tracker_;
    bool running_ = false;
    QList<QMetaObject::Connection> connections_;
    QTimer burstTimer_;
    double burstEnd_ = 0;
};

} // namespace ostrel
