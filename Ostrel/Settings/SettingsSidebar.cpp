#include "Ostrel/Settings/SettingsSidebar.h"

#include "Ostrel/Settings/SidebarMetrics.h"
#include "Ostrel/Widgets/AppIcon.h"
#include "Ostrel/Widgets/SettingsColors.h"
#include "Ostrel/Widgets/Symbols.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>

namespace ostrel {

namespace {

// The window system draws any title bar outside the window, so the header needs no room for one:
// as much above it as below.
constexpr double headerTop = 24;
constexpr double headerBottom = 24;

QFont pixelFont(const QFont& base, int size, bool bold = false) {
    QFont f = base;
    f.setPixelSize(size);
    f.setBold(bold);
    return f;
}

} // namespace

QColor tileColour(const QColor& tint, double position) {
    // Lighter at the top, the tint itself at the bottom.
    const double lift = 0.12 * (1.0 - position);
    double r = tint.redF() + (1.0 - tint.redF()) * lift;
    double g = tint.greenF() + (1.0 - tint.greenF()) * lift;
    double b = tint.blueF() + (1.0 - tint.blueF()) * lift;
    // Saturation 0.75 around the colour's luminance, then brightness -0.06.
    const double luminance = 0.2126 * r + 0.7152 * g + 0.0722 * b;
    const auto adjust = [&](double c) {
        return std::clamp(luminance + 0.75 * (c - luminance) - 0.06, 0.0, 1.0);
    };
    return QColor::fromRgbF(static_cast<float>(adjust(r)), static_cast<float>(adjust(g)),
                            static_cast<float>(adjust(b)));
}

SidebarRow::SidebarRow(Pane pane, QWidget* parent) : QAbstractButton(parent), pane_(pane) {
    setText(title(pane));
    setAccessibleName(title(pane));
    setFocusPolicy(Qt::NoFocus);
    setFixedHeight(static_cast<int>(SidebarMetrics::rowHeight));
    setFont(pixelFont(font(), 13));
}

void SidebarRow::setSelected(bool selected) {
    if (selected != selected_) {
        selected_ = selected;
        update();
    }
}

QSize SidebarRow::sizeHint() const {
    return {static_cast<int>(SidebarMetrics::width), static_cast<int>(SidebarMetrics::rowHeight)};
}

QRectF SidebarRow::highlightRect() const {
    const double h = SidebarMetrics::selectionHeight;
    return {SidebarMetrics::rowInset, (height() - h) / 2, width() - 2 * SidebarMetrics::rowInset,
            h};
}

QRectF SidebarRow::tileRect() const {
    const double s = SidebarMetrics::tileSize;
    return {SidebarMetrics::rowInset + SidebarMetrics::tileCorner, (height() - s) / 2, s, s};
}

void SidebarRow::paintEvent(QPaintEvent*) {
    const bool dark = SettingsColors::isDark();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (selected_) {
        p.setPen(Qt::NoPen);
        p.setBrush(SettingsColors::rowSelection(dark));
        p.drawRoundedRect(highlightRect(), SidebarMetrics::rowInset, SidebarMetrics::rowInset);
    }
    const QRectF tile = tileRect();
    const QColor tint = SettingsColors::system(ostrel::tint(pane_), dark);
    QLinearGradient gradient(tile.topLeft(), tile.bottomLeft());
    gradient.setColorAt(0, tileColour(tint, 0));
    gradient.setColorAt(1, tileColour(tint, 1));
    p.setPen(Qt::NoPen);
    p.setBrush(gradient);
    p.drawRoundedRect(tile, SidebarMetrics::tileCorner, SidebarMetrics::tileCorner);
    const int glyph = 14;
    const QPixmap symbolImage =
        Symbols::pixmap(symbol(pane_), Qt::white, glyph, devicePixelRatioF());
    p.drawPixmap(QPointF(tile.center().x() - glyph / 2.0, tile.center().y() - glyph / 2.0),
                 symbolImage);
    p.setPen(SettingsColors::primaryText(dark));
    const double textLeft = tile.right() + SidebarMetrics::rowSpacing;
    p.drawText(QRectF(textLeft, 0, width() - textLeft, height()), Qt::AlignVCenter | Qt::AlignLeft,
               text());
}

SettingsSidebar::SettingsSidebar(SettingsNavigation& navigation, const QString& version,
                                 QWidget* parent)
    : QWidget(parent), navigation_(navigation), version_(version) {
    setFixedWidth(static_cast<int>(SidebarMetrics::width));
    auto* layout = new QVBoxLayout(this);
    const int header = static_cast<int>(headerTop + SidebarMetrics::iconSize + headerBottom);
    layout->setContentsMargins(0, header, 0, static_cast<int>(SidebarMetrics::outerPadding));
    layout->setSpacing(0);
    for (const Pane pane : allPanes) {
        auto* row = new SidebarRow(pane, this);
        rows_.append(row);
        if (pane == Pane::about) {
            layout->addStretch(1);
        }
        layout->addWidget(row);
        connect(row, &QAbstractButton::clicked, this, [this, pane] { navigation_.setPane(pane); });
    }
    select(navigation_.pane());
    connect(&navigation_, &SettingsNavigation::paneChanged, this, [this](Pane p) { select(p); });
}

SidebarRow* SettingsSidebar::row(Pane pane) const {
    for (SidebarRow* r : rows_) {
        if (r->pane() == pane) {
            return r;
        }
    }
    return nullptr;
}

QRectF SettingsSidebar::iconRect() const {
    return {SidebarMetrics::contentInset - SidebarMetrics::iconInset, headerTop,
            SidebarMetrics::iconSize, SidebarMetrics::iconSize};
}

void SettingsSidebar::select(Pane pane) {
    for (SidebarRow* r : rows_) {
        r->setSelected(r->pane() == pane);
    }
}

void SettingsSidebar::paintEvent(QPaintEvent*) {
    const bool dark = SettingsColors::isDark();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRectF panel = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(QPen(SettingsColors::sidebarStroke(dark), 1));
    p.setBrush(SettingsColors::sidebarFill(dark));
    p.drawRoundedRect(panel, SidebarMetrics::panelCorner, SidebarMetrics::panelCorner);

    const QRectF icon = iconRect();
    p.drawImage(icon, AppIcon::image());
    const double textLeft = icon.right() + SidebarMetrics::rowSpacing - SidebarMetrics::iconInset;
    const QFont nameFont = pixelFont(font(), 15);
    const QFont versionFont = pixelFont(font(), 11);
    const QFontMetricsF nameMetrics(nameFont);
    const QFontMetricsF versionMetrics(versionFont);
    const double block = nameMetrics.height() + 1 + versionMetrics.height();
    const double top = icon.center().y() - block / 2;
    p.setFont(nameFont);
    p.setPen(SettingsColors::primaryText(dark));
    p.drawText(QRectF(textLeft, top, width() - textLeft, nameMetrics.height()),
               Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Ostrel"));
    p.setFont(versionFont);
    p.setPen(SettingsColors::secondaryText(dark));
    p.drawText(QRectF(textLeft, top + nameMetrics.height() + 1, width() - textLeft,
                      versionMetrics.height()),
               Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Version ") + version_);
}

} // namespace ostrel
