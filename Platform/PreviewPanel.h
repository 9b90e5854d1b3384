#pragma once

#include "Platform/ImageSource.h"

#include <QImage>
#include <QRectF>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

class QKeyEvent;
class QLabel;
class QStackedLayout;

namespace ostrel {

class Desktop;

// The window that previews one file while the shelf stays open: pictures (animated ones play),
// PDF documents, SVG drawings and text, pictures and drawings known by what the file holds, not
// by its name; a web page shows the web-page symbol and any other file its icon, with a button
// that opens it in the user's default application. It never takes the focus when it appears (the
// application the user works in keeps it); keys that reach it go first to the key hook, so whoever
// drives the panel keeps steering while it is in front.
class PreviewPanel : public QWidget {
    Q_OBJECT
public:
    // What the panel shows for the current file.
    enum class Content { none, image, movie, pdf, svg, text, page, other, unreadable };

    // The size of a panel that was never sized by its owner or the user.
    static constexpr QSize defaultSize{900, 700};
    // The user cannot make it smaller than this.
    static constexpr QSize smallestSize{240, 180};
    // Text files show at most this much, in lines of at most `lineLimit` characters: laying out
    // one long line (minified JSON, a log without breaks) would hold the shelf for seconds.
    static constexpr qint64 textLimit = 256 * 1024;
    static constexpr int lineLimit = 1000;

    explicit PreviewPanel(std::shared_ptr<Desktop> desktop = nullptr);
    ~PreviewPanel() override;

    // Shows the file under the title; a file that cannot be read says so.
    void setItem(const QUrl& url, const QString& title);
    QUrl url() const { return url_; }
    Content content() const { return content_; }

    // The text shown for a text file's first bytes: long lines broken at the limit.
    static QString shownText(const QByteArray& bytes);

    // Moves the picture from one frame to another over `seconds`, in a window of its own above
    // everything; an empty frame is the point where it lies (the picture grows out of it or
    // shrinks into it). Without `landed` the window goes when it arrives; with it, the window stays
    // on its last frame and `landed` runs, so that what takes its place can appear beneath it
    // first. Returns the window, or null when there is nothing to show.
    static QWidget* zoom(const QImage& image, const QRect& from, const QRect& to, double seconds,
                         std::function<void()> landed = {});

    // Names the item inside the window, for where no window manager's title bar does.
    void setTitleShown(bool shown);
    bool titleShown() const;

    // Where the shown picture lies in the panel at its present size; none when the content is not
    // one picture.
    std::optional<QRect> pictureFrame() const;
    // Where any content lies, inside the window's margins and below the title strip.
    QRect framedArea() const;
    // The shown picture or drawing as the panel draws it there; null for other content.
    QImage picture() const;
    // The whole panel as it will show at its present size, shown or not.
    QImage snapshot();

    // Which content a file gets: pictures and drawings by their bytes alone, other files by
    // their name and first bytes.
    static Content classify(const QString& path);

    // The picture of a named symbol ("globe" for a web page) in a square of `pixels`; null when
    // there is none, and the desktop's icon for the file stands in.
    std::function<QImage(const QString& name, int pixels)> symbol;
    // Called with every key press first; true when it handled the key, which the panel then
    // leaves alone.
    std::function<bool(const QKeyEvent&)> keyHook;
    // Called when the window closes, whoever closed it.
    std::function<void()> onClosed;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The same, keeping in `opened` the picture it opened to tell a still from a movie.
    static Content classify(const QString& path, std::optional<ImageSource>* opened);
    QWidget* build(Content content, const QString& path, std::optional<ImageSource> source);
    QWidget* otherView(const QString& path, const QString& note, bool page = false);
    // Below the title strip, when it shows.
    QRect contentArea() const;

    std::shared_ptr<Desktop> desktop_;
    QLabel* title_;
    QStackedLayout* stack_ = nullptr;
    QString name_;
    QWidget* view_ = nullptr;
    QUrl url_;
    Content content_ = Content::none;
    bool forwarding_ = false;
};

} // namespace ostrel
