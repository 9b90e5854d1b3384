#include "Ostrel/Settings/ElidedLabel.h"

#include <QPainter>

namespace ostrel {

ElidedLabel::ElidedLabel(const QString& text, Tone tone, int pixelSize, QWidget* parent)
    : ToneLabel(text, tone, pixelSize, parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

QSize ElidedLabel::minimumSizeHint() const {
    return {20, fontMetrics().height()};
}

QSize ElidedLabel::sizeHint() const {
    return {fontMetrics().horizontalAdvance(text()), fontMetrics().height()};
}

QString ElidedLabel::shownText() const {
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, shownText());
}

} // namespace ostrel
