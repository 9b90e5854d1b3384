#pragma once

#include "Ostrel/Settings/SettingsNavigation.h"

#include <QAbstractButton>
#include <QWidget>

#include <functional>

namespace ostrel {

// One pane in the sidebar: its tinted tile and title; the selected row is highlighted. The row is
// its highlight's area and takes the click anywhere in it, not only on the tile and the text.
// The selected row is the sidebar's one stop for Tab; the arrow keys step from it to the next
// or the previous pane (`onStep`), Home and End to the first and the last.
class SidebarRow : public QAbstractButton {
public:
    SidebarRow(Pane pane, QWidget* parent = nullptr);

    Pane pane() const { return pane_; }
    bool selected() const { return selected_; }
    void setSelected(bool selected);
    // Called with -1 or 1 for a step, with the lowest or highest int for the first or last pane.
    std::function<void(int)> onStep;

    QSize sizeHint() const override;
    // Where the highlight is drawn, in the row's coordinates.
    QRectF highlightRect() const;
    QRectF tileRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    Pane pane_;
    bool selected_ = false;
};

// The rounded panel at the window's leading side: the application's icon, name and version over
// the rows of the panes, About at the bottom. To assistive technologies it is a list of the
// panes, the selected one selected, and the one with the keyboard focused.
class SettingsSidebar : public QWidget {
public:
    SettingsSidebar(SettingsNavigation& navigation, const QString& version,
                    QWidget* parent = nullptr);

    SidebarRow* row(Pane pane) const;
    QRectF iconRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void select(Pane pane);
    void step(Pane from, int by);

    SettingsNavigation& navigation_;
    QString version_;
    QList<SidebarRow*> rows_;
};

// A tile's fill: the tint's gentle top-to-bottom gradient, a little less saturated and darker.
QColor tileColour(const QColor& tint, double position);

} // namespace ostrel
