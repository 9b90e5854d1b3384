#pragma once

#include <QLocalServer>
#include <QLockFile>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace ostrel {

// One running Ostrel per user and display. The first launch holds a lock and listens on a local
// socket, both in the user's own runtime folder (so no other user can squat the names) and named
// after the display; a later launch on that display reaches it there, asks it to open Settings
// and ends. A launch on another display goes on to the support folder's lock
// (`SupportFolderLock`), which ends it while another process keeps the same index. Main thread
// only.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Role {
        first,  // this process runs the application (unguarded when error() says why)
        second, // the running one was asked to reopen: end with status 0
        failed, // another holds the lock but did not answer
    };

    // `folder` holds the lock and the socket; it must be the user's alone. `display` names the
    // display the instance serves (empty: one instance whatever the display).
    explicit SingleInstance(QString folder = standardFolder(), QString display = QString(),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // $XDG_RUNTIME_DIR, or Qt's private runtime folder when that is not set.
    static QString standardFolder();
    // The X display as $DISPLAY names it, without its screen: ":5.0" and "unix:5" are "5",
    // "host:3.1" is "host-3"; empty without a display.
    static QString displayKey(const QString& display);

    Role claim();
    const QString& error() const { return error_; }

    // Called in the first process whenever a later launch reaches it.
    std::function<void()> onReopen;

private:
    bool listen();
    bool tell();
    QString path(const char* suffix) const;

    QString folder_;
    QString display_;
    QString error_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
};

} // namespace ostrel
