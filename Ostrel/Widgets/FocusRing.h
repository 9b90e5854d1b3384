#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

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

} // namespace ostrel
