#include "Ostrel/Views/DragOutSource.h"

#include "Ostrel/Panels/FlatFrame.h"
#include "OstrelCore/Records/OwnFolder.h"
#include "OstrelCore/Records/Store.h"
#include "Platform/AtomicFile.h"

#include <QApplication>
#include <QDir>
#include <QDrag>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QMouseEvent>
#include <QPixmap>
#include <QWindow>

#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

namespace {

constexpr double iconLimit = 120;
constexpr double emptyIconSide = 64;

QString xmlEscaped(const QString& text) {
    return text.toHtmlEscaped();
}

QImage fileIcon(const QString& path) {
    const QIcon icon = QFileIconProvider().icon(QFileInfo(path));
    return icon.pixmap(int(emptyIconSide), int(emptyIconSide)).toImage();
}

} // namespace

DragOutSource::DragOutSource(CurrentEvent current, Runner run)
    : current_(std::move(current)), run_(run ? std::move(run) : Runner(&DragOutSource::runDrag)) {
    if (!current_) {
        // The drag starts from inside a mouse handler of a shelf view; the application's event
        // filter has seen that event just before.
        if (qApp) {
            qApp->installEventFilter(this);
        }
        current_ = [this] { return last_; };
    }
}

DragOutSource::~DragOutSource() = default;

bool DragOutSource::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if ((type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick ||
         type == QEvent::MouseMove || type == QEvent::MouseButtonRelease) &&
        watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        auto* mouse = static_cast<QMouseEvent*>(event);
        PointerEvent e;
        if ((type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick) &&
            mouse->button() == Qt::LeftButton) {
            e.type = PointerEvent::Type::leftDown;
        } else if (type == QEvent::MouseMove && (mouse->buttons() & Qt::LeftButton)) {
            e.type = PointerEvent::Type::leftDragged;
        }
        e.window = widget->window();
        e.position = widget->mapTo(e.window.data(), mouse->position());
        last_ = e;
    }
    return QObject::eventFilter(watched, event);
}

bool DragOutSource::begin(const ShelfItem& item, const QImage& icon) {
    DragLift& lift = DragLift::shared();
    const std::optional<DragLift::Pending> pending = lift.takePending();
    if (active_) {
        return false;
    }
    const std::optional<PointerEvent> event = current_ ? current_() : std::nullopt;
    if (!event || event->type == PointerEvent::Type::other || !event->window) {
        return false;
    }
    const std::optional<QUrl> url = dragURL(item, lift.supportDir());
    if (!url) {
        return false;
    }

    Session session;
    session.source = event->window;
    session.url = *url;
    session.actions = Qt::CopyAction;
    if (pending && pending->itemID == item.id && pending->render) {
        // At the window's own pixel ratio, so that the window's shape falls on whole pixels.
        const double ratio = event->window->devicePixelRatioF();
        const bool blended = !compositorRunning || compositorRunning();
        session.image = pending->render(ratio, blended);
        if (!blended) {
            FlatFrame flat;
            flat.flatten(session.image, QRegion(), QPoint(), ratio);
            session.shape = flat.shape();
        }
    }
    if (!session.image.isNull()) {
        session.hotSpot = liftedHotSpot(*pending);
    } else {
        QImage image = icon.isNull() ? fileIcon(url->toLocalFile()) : icon;
        const QSizeF size =
            fittedIconSize(image.isNull() ? QSizeF() : image.deviceIndependentSize());
        if (image.isNull()) {
            image = QImage(size.toSize(), QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
        } else {
            const qreal ratio = image.devicePixelRatio();
            image = image.scaled((size * ratio).toSize(), Qt::IgnoreAspectRatio,
                                 Qt::SmoothTransformation);
            image.setDevicePixelRatio(ratio);
        }
        session.image = image;
        session.hotSpot = QPointF(size.width() / 2, size.height() / 2);
    }

    active_ = true;
    lift.setLiftedID(item.id);
    // The drag runs its own event loop until the drop: it must not run inside the mouse handler
    // that asked for it.
    const QPointer<DragOutSource> self(this);
    QMetaObject::invokeMethod(
        this,
        [self, session] {
            if (!self) {
                return;
            }
            self->run_(session);
            if (self) {
                self->draggingEnded();
            }
        },
        Qt::QueuedConnection);
    return true;
}

void DragOutSource::draggingEnded() {
    active_ = false;
    DragLift::shared().setLiftedID(std::nullopt);
    if (onEnd) {
        onEnd();
    }
}

void DragOutSource::runDrag(const Session& session) {
    // The button may have come up before this call ran: a drag then would wait for a release
    // that never comes.
    if (!session.source || !(QGuiApplication::mouseButtons() & Qt::LeftButton)) {
        return;
    }
    auto* drag = new QDrag(session.source);
    drag->setMimeData(mimeData(session.url));
    drag->setPixmap(QPixmap::fromImage(session.image));
    drag->setHotSpot(session.hotSpot.toPoint());
    if (!session.shape.isEmpty()) {
        // The image's window exists once the drag has begun, which is before its own event loop
        // runs this.
        QMetaObject::invokeMethod(
            drag,
            [shape = session.shape] {
                for (QWindow* window : QGuiApplication::topLevelWindows()) {
                    if (window->inherits("QShapedPixmapWindow")) {
                        window->setMask(shape);
                    }
                }
            },
            Qt::QueuedConnection);
    }
    // Copy is the only action offered: the receiver copies the file, the shelf keeps its own.
    // Our windows accept no drops, so an item dropped back onto the shelf is refused.
    drag->exec(session.actions, Qt::CopyAction);
    drag->deleteLater();
}

std::optional<QUrl> DragOutSource::dragURL(const ShelfItem& item,
                                           const std::optional<QUrl>& supportDir) {
    if (item.fileURL && item.fileURL->isLocalFile() && isDraggableFile(*item.fileURL)) {
        return item.fileURL;
    }
    if (item.sourcePath && !item.sourcePath->isEmpty()) {
        const QUrl source = QUrl::fromLocalFile(*item.sourcePath);
        if (isDraggableFile(source)) {
            return source;
        }
    }
    if (item.remoteURL && supportDir && supportDir->isLocalFile()) {
        return writeWebloc(*item.remoteURL, item.id,
                           QDir(supportDir->toLocalFile()).filePath(QStringLiteral("items")));
    }
    return std::nullopt;
}

QString DragOutSource::weblocName(const QString& itemID) {
    // The store removes it with the item, by the same name.
    return Store::linkFileName(itemID);
}

QByteArray DragOutSource::weblocContents(const QUrl& remote) {
    const QString address = QString::fromUtf8(remote.toEncoded(QUrl::FullyEncoded));
    QByteArray out;
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n";
    out += "<plist version=\"1.0\">\n<dict>\n\t<key>URL</key>\n\t<string>";
    out += xmlEscaped(address).toUtf8();
    out += "</string>\n</dict>\n</plist>\n";
    return out;
}

std::optional<QUrl> DragOutSource::writeWebloc(const QUrl& remote, const QString& itemID,
                                               const QString& folder) {
    const QString path = QDir(folder).filePath(weblocName(itemID));
    const QByteArray contents = weblocContents(remote);
    // Another folder mounted over the support folder, or put in place of its items folder, is not
    // ours to write, nor to hand out a file of: no drag, until the run's own folder is back.
    if (!OwnFolder::mayWriteInto(path)) {
        return std::nullopt;
    }
    {
        QFile existing(path);
        if (existing.open(QIODevice::ReadOnly) && existing.size() == contents.size() &&
            existing.readAll() == contents) {
            return QUrl::fromLocalFile(path);
        }
    }
    AtomicFile::makeFolder(folder, 0700, false);
    // Into the folder looked at, whatever its path leads to by then.
    if (OwnFolder::writeInto(path, contents)) {
        return std::nullopt;
    }
    return QUrl::fromLocalFile(path);
}

bool DragOutSource::isDraggableFile(const QUrl& url) {
    if (!url.isLocalFile()) {
        return false;
    }
    const QByteArray path = QFile::encodeName(url.toLocalFile());
    struct stat st {};
    return !path.isEmpty() && ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.constData(), R_OK) == 0;
}

QSizeF DragOutSource::fittedIconSize(QSizeF size) {
    if (size.width() > 0 && size.height() > 0) {
        const double scale = std::min(1.0, iconLimit / std::max(size.width(), size.height()));
        return size * scale;
    }
    return QSizeF(emptyIconSide, emptyIconSide);
}

QPointF DragOutSource::liftedHotSpot(const DragLift::Pending& lift) {
    return lift.relative + lift.grab + QPointF(imageMargin, imageMargin);
}

QMimeData* DragOutSource::mimeData(const QUrl& url) {
    auto* mime = new QMimeData;
    mime->setUrls({url});
    return mime;
}

} // namespace ostrel
