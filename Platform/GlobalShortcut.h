#pragma once

#include <QObject>

namespace ostrel {

// One key combination registered for the whole desktop, however the session offers it: an X key
// grab, or the desktop portal on Wayland. It is registered for as long as the object lives; a
// new combination is a new object. Some ways answer later (the portal may ask the user first),
// so the status can change after construction.
class GlobalShortcut : public QObject {
    Q_OBJECT
public:
    enum class Status {
        pending,       // the desktop has not answered yet
        registered,    //
        taken,         // another client holds the combination
        noKey,         // the key is unknown, or the keyboard in use lacks it
        refused,       // the X server refused the grab for another reason
        noDisplay,     // no X display of our own to grab on
        wayland,       // a Wayland session whose desktop offers no global shortcuts
        portalRefused, // the desktop's shortcut portal declined the combination
    };

    using QObject::QObject;
    Status status() const { return status_; }

signals:
    // The combination was pressed (once per press, never for auto-repeat).
    void activated();
    void statusChanged(ostrel::GlobalShortcut::Status status);

protected:
    void setStatus(Status status) {
        if (status != status_) {
            status_ = status;
            emit statusChanged(status);
        }
    }

private:
    Status status_ = Status::pending;
};

} // namespace ostrel
