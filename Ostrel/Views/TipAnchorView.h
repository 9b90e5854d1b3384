#pragma once

#include <QFont>
#include <QGraphicsObject>
#include <QPointF>
#include <QPointer>
#include <QRectF>
#include <QString>

#include <memory>
#include <optional>

namespace ostrel {

class ShelfModel;

// An invisible item that marks where a label's hover tip belongs. It draws nothing and takes no
// pointer input; it only carries the tip and its place.
class TipAnchorView : public QGraphicsObject {
    Q_OBJECT
public:
    struct Tip {
        QString title;
        std::optional<QString> detail;
        QFont font;
        // Shared with the label, which sets it when its text is cut short; none when the tip
        // shows whether or not the text fits.
        std::shared_ptr<bool> cut;
        // Where the label's text begins in this item.
        QPointF textOrigin;
        // The tip lines up with the text's bottom edge (else its top).
        bool bottomEdge = true;
        bool enabled = true;
        quint32 display = 0;
        // A part of this item the tip keeps clear of.
        std::optional<QRectF> avoid;
    };

    explicit TipAnchorView(QGraphicsItem* parent = nullptr);

    const Tip& tip() const { return tip_; }
    void setTip(Tip tip);
    // Enabled, and the text is cut short (or no cut flag is kept).
    bool wantsTip() const;

    QSizeF size() const { return size_; }
    void setSize(QSizeF size);

    // Where the item shows on screen, in Qt global coordinates: through the first visible view of
    // its scene. None when no view shows it.
    std::optional<QRectF> globalFrame() const;

    QRectF boundingRect() const override { return QRectF(QPointF(0, 0), size_); }
    void paint(QPainter*, const QStyleOptionGraphicsItem*, QWidget*) override {}

signals:
    void tipChanged();

private:
    Tip tip_;
    QSizeF size_;
};

// The anchor a card places behind itself: it registers with the shelf model under the card's item
// id while it exists, so the model finds the item's card on screen (presses, the preview's zoom).
class AnchorView final : public TipAnchorView {
    Q_OBJECT
public:
    // The title text of a card's label starts here: the capsule's padding plus its text inset.
    static constexpr QPointF tipTextOrigin{11, 8};

    AnchorView(ShelfModel* model, const QString& itemID, QGraphicsItem* card);
    // Removes the registration while the model is alive.
    ~AnchorView() override;

    const QString& itemID() const { return itemID_; }
    ShelfModel* model() const;
    // Moves the registration to another item; the same id keeps it as it is.
    void setItemID(const QString& itemID);

private:
    QPointer<ShelfModel> model_;
    QString itemID_;
};

} // namespace ostrel
