#pragma once

#include <QWidget>

#include <functional>

namespace ostrel {

class RowLabel;
class Switch;

// A labelled row: the title and detail on the leading side, the control on the trailing side,
// centred against the whole label block.
class SettingRow : public QWidget {
public:
    SettingRow(const QString& title, QWidget* control, QWidget* parent = nullptr);

    RowLabel* label() const { return label_; }
    QWidget* control() const { return control_; }
    void setDetail(const QString& text);

private:
    RowLabel* label_;
    QWidget* control_;
};

// A row whose control is a mini switch. Setting the state does not report it; only the user's
// flip runs `onToggle`.
class SettingToggle : public SettingRow {
public:
    SettingToggle(const QString& title, const QString& detail, QWidget* parent = nullptr);

    Switch* toggle() const { return switch_; }
    bool isOn() const;
    void setOn(bool on);
    std::function<void(bool)> onToggle;

private:
    Switch* switch_;
};

// A row with an animated preview beside it: label and control stacked on the leading side, the
// preview at its own size on the trailing side.
class PreviewedRow : public QWidget {
public:
    PreviewedRow(const QString& title, QWidget* control, QWidget* preview,
                 QWidget* parent = nullptr);

    RowLabel* label() const { return label_; }
    QWidget* control() const { return control_; }
    QWidget* preview() const { return preview_; }

private:
    RowLabel* label_;
    QWidget* control_;
    QWidget* preview_;
};

} // namespace ostrel
