#pragma once

#include <QStringList>
#include <QWidget>

#include <functional>

namespace ostrel {

// A row of segments of which exactly one is chosen, at its natural size. Assistive technology
// reads it as a group of radio buttons, named as the picker is, the chosen one checked.
class SegmentedPicker : public QWidget {
public:
    explicit SegmentedPicker(const QStringList& titles, QWidget* parent = nullptr);

    int current() const { return current_; }
    const QStringList& titles() const { return titles_; }
    // Chooses a segment as a click on it does.
    void pick(int index);
    // Shows a choice without reporting it.
    void setCurrent(int index);
    // Runs when the user picks another segment.
    std::function<void(int)> onPick;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }
    // The segment's rectangle, for clicks in tests and for painting.
    QRect segmentRect(int index) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void choose(int index);
    int segmentWidth() const;

    QStringList titles_;
    int current_ = 0;
};

} // namespace ostrel
