#pragma once

#include <QImage>
#include <QObject>
#include <QPointF>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace ostrel {

// What the cards and the strips share about a drag in the making: the card under the pointer and
// how to draw it lifted, the lift armed for the next drag-out, the support folder for link files,
// and the item being dragged out (its cards dim). One instance; main thread only.
class DragLift : public QObject {
    Q_OBJECT
public:
    // Draws the card as the lifted drag image at `pixelRatio` image pixels to a logical one, with
    // its shadow or without (where no compositor blends one); a null image when the card is gone.
    using Render = std::function<QImage(double pixelRatio, bool shadow)>;

    struct Hover {
        QString itemID;
        // Where the pointer is in the card (top-left origin).
        QPointF grab;
        Render render;
    };

    struct Pending {
        QString itemID;
        QPointF grab;
        // How far the pointer moved relative to the card since the grab.
        QPointF relative;
        Render render;
    };

    // A card of the item being dragged out is drawn at this opacity.
    static constexpr double liftedOpacity = 0.4;

    static DragLift& shared();

    const std::optional<QString>& liftedID() const { return liftedID_; }
    void setLiftedID(const std::optional<QString>& id);

    const std::optional<QUrl>& supportDir() const { return supportDir_; }
    void setSupportDir(const std::optional<QUrl>& dir) { supportDir_ = dir; }

    const std::optional<Hover>& hover() const { return hover_; }
    void setHover(const QString& itemID, QPointF grab, Render render);

    const std::optional<Pending>& pending() const { return pending_; }
    void setPending(const QString& itemID, QPointF grab, QPointF relative, Render render);
    // Arms the hovered card for a drag of `itemID`, or disarms when another card is hovered.
    void lift(const QString& itemID, QPointF relative);
    // The armed lift, cleared whatever the caller does with it.
    std::optional<Pending> takePending();

signals:
    void liftedIDChanged();

private:
    std::optional<QString> liftedID_;
    std::optional<QUrl> supportDir_;
    std::optional<Hover> hover_;
    std::optional<Pending> pending_;
};

} // namespace ostrel
