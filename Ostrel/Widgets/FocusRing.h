#pragma once

#include "Ostrel/Widgets/HighContrast.h"
#include "Ostrel/Widgets/SettingsColors.h"

#include <QComboBox>
#include <QLineEdit>
#include <QList>
#include <QObject>
#include <QPainter>
#include <QPointer>
#include <QSlider>
#include <QStyleOption>
#include <QWidget>

namespace ostrel {

// Shows which control of a window has the keyboard: a thin ring in the accent colour just
// outside the control, while the focus got there by keyboard (Tab, Backtab, a shortcut), as the
// style itself would. One look for every control: the style's own focus drawing is invisible on
// some (a default button, a list, a switch that is on). Main thread only.
class FocusRing : public QObject {
    Q_OBJECT
public:
    // The room between a control and its ring, and the ring's width.
    static constexpr double gap = 2.0;
    static constexpr double width = 1.5;

    // The ring follows the corners of a control of this radius (a button's when unset).
    static void setCorner(QWidget* control, double radius);
    // Takes the style's own focus drawing out of a control's style option while the ring marks
    // it (the focus came by keyboard): the style would draw a second outline, groove or frame
    // inside the ring. The focus a click gives keeps the style's drawing, as no ring shows then.
    static void leaveFocusToRing(QStyleOption& option);

    // Follows the focus inside `window` for as long as both exist.
    explicit FocusRing(QWidget* window);
    ~FocusRing() override;

    // The control ringed now; null when none is.
    QWidget* target() const { return target_; }
    // The ring itself while it shows (its own widget, over the control's neighbours).
    QWidget* ring() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void follow(QWidget* now);
    void place();
    void unwatch();

    QPointer<QWidget> window_;
    QPointer<QWidget> target_;
    QPointer<QWidget> ring_;
    QList<QPointer<QWidget>> watched_;
};

// A control of Qt's own that leaves showing its keyboard focus to the window's focus ring, and
// keeps its edges under a high-contrast palette.
template <class Control, class Option> class Ringed : public Control {
public:
    using Control::Control;

protected:
    void initStyleOption(Option* option) const override {
        Control::initStyleOption(option);
        FocusRing::leaveFocusToRing(*option);
    }

    void paintEvent(QPaintEvent* event) override {
        Control::paintEvent(event);
        if (!SettingsColors::isHighContrast()) {
            return;
        }
        Option option;
        initStyleOption(&option);
        QPainter painter(this);
        HighContrast::drawEdges(painter, *this, option);
    }
};

// Named by its own accessible name, as the row that holds it is, with the chosen item as its
// value: Qt on Linux names a combo box by its chosen item.
class RingedComboBox : public Ringed<QComboBox, QStyleOptionComboBox> {
public:
    explicit RingedComboBox(QWidget* parent = nullptr);
};
// Its placeholder in the dimmest text tone on its own ground, following the palette: a desktop's
// palette may leave the placeholder colour as dark as a black ground, or too faint on a white one.
class RingedLineEdit : public Ringed<QLineEdit, QStyleOptionFrame> {
public:
    explicit RingedLineEdit(QWidget* parent = nullptr);

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyPlaceholder();

    bool applying_ = false;
};
using RingedSlider = Ringed<QSlider, QStyleOptionSlider>;

} // namespace ostrel
