#pragma once

#include <QImage>
#include <QString>
#include <QUrl>

#include <memory>

namespace ostrel {

// The desktop services an item action uses: the default opener, the file manager and the
// clipboard. Behind an interface so that tests record what would have happened.
class Desktop {
public:
    virtual ~Desktop() = default;

    // Opens a web address or a file with the user's default application. A file that could run
    // (an executable, a script, a ".desktop" launcher) is revealed instead: the opener would run
    // it.
    virtual void open(const QUrl& url) = 0;
    // Shows the file selected in the file manager.
    virtual void reveal(const QString& path) = 0;
    virtual void copyText(const QString& text) = 0;
    virtual void copyImage(const QImage& image) = 0;

    // The process's desktop (Qt's opener and clipboard, the freedesktop file manager).
    static std::shared_ptr<Desktop> system();

    // Whether the opener may get this file: false for what it would run rather than show.
    static bool mayOpen(const QString& path);
    // A regular file (the path itself, links not followed) that this user may read.
    static bool isReadableFile(const QString& path);
};

} // namespace ostrel
