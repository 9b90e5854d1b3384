#include "Ostrel/Widgets/ToneLabel.h"

#include "Ostrel/Widgets/SettingsColors.h"

#include <QEvent>

namespace ostrel {

ToneLabel::ToneLabel(const QString& text, Tone tone, int pixelSize, QWidget* parent)
    : QLabel(text, parent), tone_(tone) {
    QFont f = font();
    f.setPixelSize(pixelSize);
    setFont(f);
    setTextFormat(Qt::PlainText);
    applyTone();
}

void ToneLabel::setTone(Tone tone) {
    tone_ = tone;
    applyTone();
}

void ToneLabel::setBold(bool bold) {
    QFont f = font();
    f.setBold(bold);
    setFont(f);
}

void ToneLabel::changeEvent(QEvent* event) {
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && !applying_) {
        applyTone();
    }
}

void ToneLabel::applyTone() {
    const bool dark = SettingsColors::isDark();
    QColor colour;
    switch (tone_) {
    case Tone::primary:
        colour = SettingsColors::primaryText(dark);
        break;
    case Tone::secondary:
        colour = SettingsColors::secondaryText(dark);
        break;
    case Tone::tertiary:
        colour = SettingsColors::tertiaryText(dark);
        break;
    }
    if (palette().color(QPalette::WindowText) == colour) {
        return;
    }
    applying_ = true;
    QPalette p = palette();
    p.setColor(QPalette::WindowText, colour);
    p.setColor(QPalette::Text, colour);
    // A disabled row's label fades with its control, which draws at half strength.
    QColor dimmed = colour;
    dimmed.setAlphaF(colour.alphaF() * 0.5F);
    p.setColor(QPalette::Disabled, QPalette::WindowText, dimmed);
    p.setColor(QPalette::Disabled, QPalette::Text, dimmed);
    setPalette(p);
    applying_ = false;
}

} // namespace ostrel
