#pragma once

#include "Ostrel/Widgets/ToneLabel.h"

namespace ostrel {

// One line of text cut in the middle when it does not fit, so both ends of a path stay visible.
class ElidedLabel : public ToneLabel {
public:
    ElidedLabel(const QString& text, Tone tone, int pixelSize, QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;
    // The text as drawn at the current width.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace ostrel
