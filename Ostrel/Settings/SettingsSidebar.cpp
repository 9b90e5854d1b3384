#include "Ostrel/Settings/SettingsSidebar.h"

#include "Ostrel/Settings/SidebarMetrics.h"
#include "Ostrel/Widgets/AppIcon.h"
#include "Ostrel/Widgets/FocusRing.h"
#include "Ostrel/Widgets/HighContrast.h"
#include "Ostrel/Widgets/SettingsColors.h"
#include "Ostrel/Widgets/Symbols.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>
#include <limits>

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

// The sidebar as assistive technologies see it: a list of the panes.
class SidebarAccessible : public QAccessibleWidget {
public:
    explicit SidebarAccessible(QWidget* sidebar) : QAccessibleWidget(sidebar, QAccessible::List) {}
};

// A pane in that list: selected while its pane shows, pressed to show it.
class SidebarRowAccessible : public QAccessibleWidget {
public:
    explicit SidebarRowAccessible(SidebarRow* row)
        : QAccessibleWidget(row, QAccessible::ListItem) {}

    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.selectable = true;
        s.selected = row()->selected();
        return s;
    }
    QStringList actionNames() const override {
        return QStringList{pressAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name == pressAction()) {
            row()->click();
        } else {
            QAccessibleWidget::doAction(name);
        }
    }

private:
    SidebarRow* row() const { return static_cast<SidebarRow*>(widget()); }
};

QAccessibleInterface* accessibleFor(const QString&, QObject* object) {
    if (auto* row = dynamic_cast<SidebarRow*>(object)) {
        return new SidebarRowAccessible(row);
    }
    if (auto* sidebar = dynamic_cast<SettingsSidebar*>(object)) {
        return new SidebarAccessible(sidebar);
    }
    return nullptr;
}

void installAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(accessibleFor);
        return true;
    }();
    Q_UNUSED(installed);
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
    // Only the selected row is a stop, and only for the keyboard: a click selects without it.
    setFocusPolicy(Qt::NoFocus);
    FocusRing::setCorner(this, SidebarMetrics::rowInset);
    setFixedHeight(static_cast<int>(SidebarMetrics::selectionHeight));
    setFont(pixelFont(font(), 13));
}

void SidebarRow::setSelected(bool selected) {
    if (selected != selected_) {
        selected_ = selected;
        setFocusPolicy(selected ? Qt::TabFocus : Qt::NoFocus);
        update();
        if (QAccessible::isActive()) {
            QAccessible::State changed;
            changed.selected = true;
            QAccessibleStateChangeEvent event(this, changed);
            QAccessible::updateAccessibility(&event);
        }
    }
}

QSize SidebarRow::sizeHint() const {
    return {static_cast<int>(SidebarMetrics::width - 2 * SidebarMetrics::rowInset),
            static_cast<int>(SidebarMetrics::selectionHeight)};
}

QRectF SidebarRow::highlightRect() const {
    return QRectF(rect());
}

QRectF SidebarRow::tileRect() const {
    const double s = SidebarMetrics::tileSize;
    return {SidebarMetrics::tileCorner, (height() - s) / 2, s, s};
}

void SidebarRow::keyPressEvent(QKeyEvent* event) {
    int by = 0;
    switch (event->key()) {
    case Qt::Key_Up:
        by = -1;
        break;
    case Qt::Key_Down:
        by = 1;
        break;
    case Qt::Key_Home:
        by = std::numeric_limits<int>::min();
        break;
    case Qt::Key_End:
        by = std::numeric_limits<int>::max();
        break;
    default:
        QAbstractButton::keyPressEvent(event);
        return;
    }
    if (event->modifiers() & ~Qt::KeypadModifier) {
        QAbstractButton::keyPressEvent(event);
        return;
    }
    if (onStep) {
        onStep(by);
    }
}

void SidebarRow::paintEvent(QPaintEvent*) {
    const bool dark = SettingsColors::isDark();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    if (selected_) {
        p.setPen(Qt::NoPen);
        p.setBrush(SettingsColors::rowSelection(dark));
        p.drawRoundedRect(highlightRect(), SidebarMetrics::rowInset, SidebarMetrics::rowInset);
        // The faint fill alone hardly tells the chosen pane on black or white.
        HighContrast::drawEdge(p, highlightRect(), SidebarMetrics::rowInset);
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
    installAccessibility();
    setAccessibleName(QStringLiteral("Settings panes"));
    setFixedWidth(static_cast<int>(SidebarMetrics::width));
    auto* layout = new QVBoxLayout(this);
    // Each row stands in the middle of its 40-pixel band, inset from the panel's sides.
    const int header = static_cast<int>(headerTop + SidebarMetrics::iconSize + headerBottom);
    const int inset = static_cast<int>(SidebarMetrics::rowInset);
    const int band = static_cast<int>(SidebarMetrics::rowHeight - SidebarMetrics::selectionHeight);
    layout->setContentsMargins(inset, header + band / 2, inset,
                               static_cast<int>(SidebarMetrics::outerPadding) + band / 2);
    layout->setSpacing(band);
    for (const Pane pane : allPanes) {
        auto* row = new SidebarRow(pane, this);
        rows_.append(row);
        if (pane == Pane::about) {
            layout->addStretch(1);
        }
        layout->addWidget(row);
        connect(row, &QAbstractButton::clicked, this, [this, pane] { navigation_.setPane(pane); });
        row->onStep = [this, pane](int by) { step(pane, by); };
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
    // The keyboard, where it is in the sidebar, goes along to the selected row.
    const bool focused =
        std::any_of(rows_.begin(), rows_.end(), [](const SidebarRow* r) { return r->hasFocus(); });
    for (SidebarRow* r : rows_) {
        r->setSelected(r->pane() == pane);
    }
    if (focused) {
        row(pane)->setFocus(Qt::OtherFocusReason);
    }
}

void SettingsSidebar::step(Pane from, int by) {
    const auto at = std::find(allPanes.begin(), allPanes.end(), from) - allPanes.begin();
    const auto last = static_cast<qint64>(allPanes.size()) - 1;
    const qint64 to = std::clamp<qint64>(static_cast<qint64>(at) + by, 0, last);
    if (to != at) {
        navigation_.setPane(allPanes[static_cast<std::size_t>(to)]);
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
