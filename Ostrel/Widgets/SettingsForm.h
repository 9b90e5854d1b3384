#pragma once

#include "OstrelCore/Display/MotionAnimator.h"
#include "Platform/MainClock.h"

#include <QScrollArea>

#include <memory>

class QVBoxLayout;

namespace ostrel {

class Reveal;
class RevealLayout;
class ToneLabel;

// One group of a form: an optional header, a rounded box of rows divided by hairlines, an
// optional footer. Hidden rows take no room and get no hairline.
class SettingsSection : public QWidget {
public:
    SettingsSection(const QString& header, QWidget* parent = nullptr);

    // Adds a row to the box; the section owns it.
    void addRow(QWidget* row);
    // Shows or hides a row, growing it in or folding it away along `curve`.
    void setRowShown(QWidget* row, bool shown, const Motion::Curve& curve);
    // The interface clock row changes run on.
    void setClock(std::shared_ptr<MainClock> clock);
    // Removes and deletes every row.
    void clearRows();
    void setFooter(const QString& text);
    ToneLabel* footer() const { return footer_; }
    QWidget* box() const { return box_; }
    ToneLabel* header() const { return header_; }
    // The rows that are shown, in order.
    QList<QWidget*> visibleRows() const;

private:
    ToneLabel* header_;
    QWidget* box_;
    RevealLayout* rows_;
    ToneLabel* footer_;
    Reveal* reveal_;
};

// A pane's form: grouped sections over the window's own background, scrolling when taller than
// the window.
class SettingsForm : public QScrollArea {
public:
    explicit SettingsForm(QWidget* parent = nullptr);

    SettingsSection* addSection(const QString& header = QString());
    QList<SettingsSection*> sections() const { return sections_; }
    // Shows or hides a whole section, growing it in or folding it away along `curve`.
    void setSectionShown(SettingsSection* section, bool shown, const Motion::Curve& curve);
    // The interface clock the form's rows and sections change on; the system's by default.
    void setClock(std::shared_ptr<MainClock> clock);

private:
    RevealLayout* column_;
    QList<SettingsSection*> sections_;
    std::shared_ptr<MainClock> clock_ = MainClock::system();
    Reveal* reveal_;
};

} // namespace ostrel
