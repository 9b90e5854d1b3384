#pragma once

#include <QAccessibleWidget>

class QGraphicsView;

namespace ostrel {

// A shelf panel as assistive technology sees it: a window named as the shelf view labels it
// ("Ostrel shelf", "3 new items") whose children are the accessible items in view: the header's
// controls, the sidebar's rows, chips, decks, captions and cards, the toast and the empty state.
class ShelfPanelAccessible final : public QAccessibleWidget {
public:
    explicit ShelfPanelAccessible(QGraphicsView* view);

    // Installs the accessibility factory for shelf panels and the items they show; once is
    // enough, again does nothing.
    static void install();

    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;

private:
    QGraphicsView* view() const;
};

} // namespace ostrel
