#pragma once

#include "Ostrel/Settings/SettingsNavigation.h"

#include <QAbstractButton>
#include <QWidget>

namespace ostrel {

// One pane in the sidebar: its tinted tile and title; the selected row is highlighted. The
// whole row takes the click, not only the tile and the text.
class SidebarRow : public QAbstractButton {
public:
    SidebarRow(Pane pane, QWidget* parent = nullptr);

    Pane pane() const { return pane_; }
    bool selected() const { return selected_; }
    void setSelected(bool selected);

    QSize sizeHint() const override;
    // Where the highlight is drawn, in the row's coordinates.
    QRectF highlightRect() const;
    QRectF tileRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Pane pane_;
    bool selected_ = false;
};

// The rounded panel at the window's leading side: the application's icon, name and version over
// the rows of the panes, About at the bottom.
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

    SettingsNavigation& navigation_;
    QString version_;
    QList<SidebarRow*> rows_;
};

// A tile's fill: the tint's gentle top-to-bottom gradient, a little less saturated and darker.
QColor tileColour(const QColor& tint, double position);

} // namespace ostrel
