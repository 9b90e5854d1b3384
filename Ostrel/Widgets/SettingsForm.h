#pragma once

#include <QScrollArea>

class QVBoxLayout;

namespace ostrel {

class ToneLabel;

// One group of a form: an optional header, a rounded box of rows divided by hairlines, an
// optional footer. Hidden rows take no room and get no hairline.
class SettingsSection : public QWidget {
public:
    SettingsSection(const QString& header, QWidget* parent = nullptr);

    // Adds a row to the box; the section owns it.
    void addRow(QWidget* row);
    // Removes and deletes every row.
    void clearRows();
    void setFooter(const QString& text);
    QWidget* box() const { return box_; }
    ToneLabel* header() const { return header_; }
    // The rows that are shown, in order.
    QList<QWidget*> visibleRows() const;

private:
    ToneLabel* header_;
    QWidget* box_;
    QVBoxLayout* rows_;
    ToneLabel* footer_;
};

// A pane's form: grouped sections over the window's own background, scrolling when taller than
// the window.
class SettingsForm : public QScrollArea {
public:
    explicit SettingsForm(QWidget* parent = nullptr);

    SettingsSection* addSection(const QString& header = QString());
    QList<SettingsSection*> sections() const { return sections_; }

private:
    QVBoxLayout* column_;
    QList<SettingsSection*> sections_;
};

} // namespace ostrel
