#include "OstrelCore/Display/ShelfStyle.h"

#include "OstrelCore/Display/Motion.h"

#include <QGuiApplication>

namespace ostrel::ShelfStyle {

namespace {

QColor white(double opacity) {
    QColor c(Qt::white);
    c.setAlphaF(float(opacity));
    return c;
}

QColor black(double opacity) {
    QColor c(Qt::black);
    c.setAlphaF(float(opacity));
    return c;
}

QFont font(double size, QFont::Weight weight) {
    QFont f = QGuiApplication::font();
    f.setPixelSize(int(size));
    f.setWeight(weight);
    return f;
}

} // namespace

QColor accent() {
    return QColor(217, 119, 87);
}
QColor primaryText() {
    return white(0.92);
}
QColor secondaryText() {
    return white(0.7);
}
QColor tertiaryText() {
    return white(Motion::increaseContrast() ? 0.6 : 0.55);
}
QColor cardFill() {
    return white(0.06);
}
QColor drawerGround() {
    return QColor(Qt::black);
}
QColor hairline() {
    return white(Motion::increaseContrast() ? 0.35 : 0.08);
}
QColor cardHover() {
    return white(0.22);
}
QColor rowFill() {
    return white(0.06);
}
QColor rowSelected() {
    return white(0.11);
}
QColor tipBackground() {
    return QColor(28, 28, 31);
}
QColor tipBorder() {
    return white(Motion::increaseContrast() ? 0.35 : 0.14);
}
QColor chipFill() {
    return white(0.9);
}
QColor chipStroke(bool emphasized) {
    return white(emphasized ? 0.26 : 0.18);
}
QColor thumbLabel() {
    return white(0.85);
}
QColor thumbShade() {
    return black(0.7);
}
QColor thumbShadow() {
    return black(0.55);
}
QColor thumbScrim() {
    return black(0.6);
}
QColor thumbGlyph() {
    return white(0.5);
}

const QFont& captionFont() {
    static const QFont f = font(12, QFont::Medium);
    return f;
}
const QFont& headerFont() {
    static const QFont f = font(12, QFont::Medium);
    return f;
}
const QFont& labelFont() {
    static const QFont f = font(11, QFont::Normal);
    return f;
}
const QFont& tipFont() {
    static const QFont f = font(11, QFont::Medium);
    return f;
}
const QFont& countFont() {
    static const QFont f = font(11, QFont::DemiBold);
    return f;
}
QFont badgeFont() {
    return font(badgeFontSize, QFont::DemiBold);
}

QString badgeText(qint64 count) {
    return count > 99 ? QStringLiteral("99+") : QString::number(count);
}

} // namespace ostrel::ShelfStyle
