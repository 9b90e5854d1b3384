#pragma once

#include "Ostrel/Model/DragOut.h"
#include "Ostrel/Views/DragLift.h"

#include <QObject>
#include <QPointer>
#include <QRegion>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <optional>

class QMimeData;

namespace ostrel {

// Drags one shelf item out of the shelf into another application as a file: its own file, the
// file it was found as, or a link file written for an item that exists only as a web address.
// The receiver may only copy, so the shelf's file is never moved. The drag image is the card
// itself, lifted where it lay, when a card armed the lift; else the item's picture or its file
// icon under the pointer. Main thread only.
//
// Without a compositor the drag image's window shows on an opaque ground, and Qt leaves it a
// rectangle: the margin around a lifted card, shadow and all, would be a white box. The lifted
// card then goes without its shadow, each pixel whole or gone, its window cut to the pixels
// kept, as the shelf itself is cut.
class DragOutSource final : public QObject, public DragOut {
    Q_OBJECT
public:
    // The margin around the card in the lifted-card image.
    static constexpr double imageMargin = 16.0;

    // The mouse event being handled when a drag starts.
    struct PointerEvent {
        enum class Type { leftDown, leftDragged, other };
        Type type = Type::other;
        // The window the event went to, and where in it (top-left origin).
        QPointer<QWidget> window;
        QPointF position;
    };
    using CurrentEvent = std::function<std::optional<PointerEvent>()>;

    // One drag as the window system runs it.
    struct Session {
        QPointer<QWidget> source;
        QUrl url;
        QImage image;
        // Where the pointer holds the image, from its top-left corner.
        QPointF hotSpot;
        // The logical pixels the image covers whole, to cut its window to where no compositor
        // blends; empty: the window keeps the shape the window system gives it.
        QRegion shape;
        Qt::DropActions actions;
    };
    // Runs the drag; returns when it has ended (dropped or cancelled).
    using Runner = std::function<void(const Session&)>;

    // Without a current-event source the application's own mouse events are followed; without
    // a runner the drag is a QDrag.
    explicit DragOutSource(CurrentEvent current = {}, Runner run = {});
    ~DragOutSource() override;

    bool begin(const ShelfItem& item, const QImage& icon) override;
    // Whether a compositor blends translucent windows; without one (unset: with one) the lifted
    // card travels without its shadow, cut to its rounded shape.
    std::function<bool()> compositorRunning;
    bool isActive() const { return active_; }
    // The drag is over, however it ended.
    void draggingEnded();

    // The file the item is dragged as: its file, else its source path, else a link file in the
    // support folder's "items" folder for its web address; none when it has none of them.
    static std::optional<QUrl> dragURL(const ShelfItem& item,
                                       const std::optional<QUrl>& supportDir);
    // Writes (or finds, when its bytes are the same) the link file of the item in the folder.
    static std::optional<QUrl> writeWebloc(const QUrl& remote, const QString& itemID,
                                           const QString& folder);
    // The link file's name: the id with its colons (and slashes) turned into hyphens.
    static QString weblocName(const QString& itemID);
    // The link file: an XML property list whose only key "URL" holds the address.
    static QByteArray weblocContents(const QUrl& remote);
    // A readable file that is not a folder (nor a pipe or device, which would stall a receiver).
    static bool isDraggableFile(const QUrl& url);
    // An icon's shown size: at most 120 on its longer side, never enlarged; 64 x 64 when empty.
    static QSizeF fittedIconSize(QSizeF size);
    // Where the pointer holds a lifted card: over the card where it was grabbed.
    static QPointF liftedHotSpot(const DragLift::Pending& lift);
    // What a drop target gets: the one file's URL.
    static QMimeData* mimeData(const QUrl& url);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    static void runDrag(const Session& session);

    CurrentEvent current_;
    Runner run_;
    bool active_ = false;
    // The last mouse event the application handled, when following them.
    std::optional<PointerEvent> last_;
};

} // namespace ostrel
