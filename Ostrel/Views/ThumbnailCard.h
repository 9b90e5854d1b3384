#pragma once

#include "OstrelCore/Records/ShelfItem.h"

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QSizeF>
#include <QString>

#include <optional>

class QPainter;

namespace ostrel {

// What each kind shows: the card's symbol without a picture, the corner badge, and the word a
// screen reader says.
namespace ThumbnailKinds {
QString cardSymbol(ShelfItemKind kind);
// None for pictures, which carry no badge.
std::optional<QString> badgeSymbol(ShelfItemKind kind);
QString accessibilityWord(ShelfItemKind kind);
} // namespace ThumbnailKinds

// One card drawn at a size: fill, picture or kind symbol, rim, title capsule, badge and unread dot.
// Shared by the live card and the lifted drag image.
struct ThumbnailCard {
    ShelfItem item;
    QSizeF size;
    std::optional<QImage> image;
    bool showsTitle = true;
    bool hovering = false;
    bool dot = false;
    // The picture's opacity while it fades in.
    double pictureOpacity = 1;
    // An opaque colour under the card's fill, for cards that lie over other cards; none: the
    // fill alone, through which what lies beneath shows.
    std::optional<QColor> ground;

    // The title as the capsule shows it: one line, cut in the middle to fit.
    struct Title {
        QRectF capsule;
        QPointF textAt;
        QString text;
        bool cut = false;
    };
    Title title() const;
    // The title as title() lays it out for this item and size, when the card's owner keeps it.
    std::optional<Title> titleLayout;

    // The card at `pixelRatio` device pixels a point, clear outside its rounded shape.
    QImage raster(double pixelRatio) const;
    // Draws into the card's own coordinates, (0, 0) at its top-left: the raster at the painter's
    // pixel ratio, copied.
    void paint(QPainter& painter) const;

    static QPainterPath outline(QSizeF size);
    // The picture scaled down to the pixels it covers on a card of `size` at `pixelRatio`, so
    // that drawing it copies rather than scales.
    static QImage cover(const QImage& picture, QSizeF size, double pixelRatio);
};

// The ring around the selected card.
namespace SelectionRing {
void paint(QPainter& painter, QSizeF size);
}

// The card as the drag image: lifted on a soft shadow with 16 points of room on every side.
namespace LiftedCard {
inline constexpr double margin = 16;
QImage render(const ThumbnailCard& card, double pixelRatio = 2, bool shadow = true);
} // namespace LiftedCard

} // namespace ostrel
