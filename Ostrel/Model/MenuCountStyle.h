#pragma once

#include <QProxyStyle>

namespace ostrel {

// How a menu shows an entry's count (the project and kind menus: "R&D  3"): two spaces after the
// title, in a paler shade of the title's colour, where the style would put a shortcut
// right-aligned in the title's own colour. The entry's text carries the count after a tab, so the
// menu still makes room for it; everything else is drawn by the application's style.
class MenuCountStyle final : public QProxyStyle {
public:
    // The one instance, owned by the application and made on first use.
    static MenuCountStyle* instance();

    void drawControl(ControlElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override;

    // How much of the title's colour the count keeps.
    static constexpr float countAlpha = 0.55f;

private:
    using QProxyStyle::QProxyStyle;
};

} // namespace ostrel
