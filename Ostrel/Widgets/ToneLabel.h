#pragma once

#include <QLabel>

namespace ostrel {

// A label in one of the Settings window's text tones, in the system font at a pixel size. Its
// colour follows light and dark on every palette change.
class ToneLabel : public QLabel {
public:
    enum class Tone { primary, secondary, tertiary };

    ToneLabel(const QString& text, Tone tone, int pixelSize, QWidget* parent = nullptr);

    Tone tone() const { return tone_; }
    void setTone(Tone tone);
    void setBold(bool bold);

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyTone();

    Tone tone_;
    bool applying_ = false;
};

} // namespace ostrel
