#include "Ostrel/Settings/AboutPane.h"

#include "Ostrel/Model/AppSettings.h"
#include "Ostrel/Model/Feedback.h"
#include "Ostrel/Model/InfoLink.h"
#include "Ostrel/Settings/SettingRow.h"
#include "Ostrel/Settings/SettingsText.h"
#include "Ostrel/Update/UpdateController.h"
#include "Ostrel/Update/UpdateWindow.h"
#include "Ostrel/Widgets/Accessibility.h"
#include "Ostrel/Widgets/AppIcon.h"
#include "Ostrel/Widgets/PushButton.h"
#include "Ostrel/Widgets/SettingsColors.h"
#include "Ostrel/Widgets/Switch.h"
#include "Ostrel/Widgets/Symbols.h"
#include "Ostrel/Widgets/ToneLabel.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace ostrel {

namespace {

// The 112-pixel application icon, drawn from the shared image.
class IconView : public QWidget {
public:
    explicit IconView(QWidget* parent = nullptr) : QWidget(parent) { setFixedSize(112, 112); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        p.setRenderHint(QPainter::Antialiasing);
        p.drawImage(QRectF(rect()), AppIcon::image());
    }
};

} // namespace

UpdateActions UpdateActions::of(UpdateController& controller) {
    QPointer<UpdateController> weak(&controller);
    return {[weak] { return weak == nullptr || weak->usesWebsite(); },
            [weak] {
                if (weak != nullptr) {
                    weak->checkNow();
                }
            },
            [weak] { return weak != nullptr && weak->hasUpdateSource(); }};
}

LinkRow::LinkRow(const QString& symbol, const QString& title, QWidget* parent)
    : QAbstractButton(parent), symbol_(symbol) {
    setText(title);
    setAccessibleName(title);
    setCursor(Qt::PointingHandCursor);
    QFont f = font();
    f.setPixelSize(13);
    setFont(f);
}

QSize LinkRow::sizeHint() const {
    return {200, fontMetrics().height() + 8};
}

void LinkRow::paintEvent(QPaintEvent*) {
    const bool dark = SettingsColors::isDark();
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor secondary = SettingsColors::secondaryText(dark);
    const qreal ratio = devicePixelRatioF();
    const int glyph = 15;
    const double midY = height() / 2.0;
    p.drawPixmap(QPointF((18 - glyph) / 2.0, midY - glyph / 2.0),
                 Symbols::pixmap(symbol_, secondary, glyph, ratio));
    p.setPen(SettingsColors::primaryText(dark));
    const double textLeft = 18 + 10;
    p.drawText(QRectF(textLeft, 0, width() - textLeft - 30, height()),
               Qt::AlignLeft | Qt::AlignVCenter, text());
    const int arrow = 10;
    p.drawPixmap(QPointF(width() - arrow - 2, midY - arrow / 2.0),
                 Symbols::pixmap(QStringLiteral("arrow.up.right"), secondary, arrow, ratio));
}

void LinkRow::keyPressEvent(QKeyEvent* event) {
    // A link opens with Return, as a push button presses.
    if (!PushButton::pressOnReturn(*this, *event)) {
        QAbstractButton::keyPressEvent(event);
    }
}

AboutPane::AboutPane(AppSettings& settings, UpdateActions updates, const BundleInfo& info,
                     QWidget* parent)
    : SettingsForm(parent), settings_(settings), updates_(std::move(updates)) {
    SettingsSection* identity = addSection();
    auto* block = new QWidget;
    auto* blockLayout = new QVBoxLayout(block);
    blockLayout->setContentsMargins(0, 8, 0, 20);
    blockLayout->setSpacing(4);
    auto* name = new ToneLabel(QStringLiteral("Ostrel"), ToneLabel::Tone::primary, 22);
    name->setBold(true);
    auto* version = new ToneLabel(Feedback::versionText(info), ToneLabel::Tone::secondary, 13);
    auto* copyright = new ToneLabel(info.text(BundleInfo::copyrightKey).value_or(QString()),
                                    ToneLabel::Tone::tertiary, 11);
    copyright->setContentsMargins(0, 2, 0, 0);
    auto* icon = new IconView;
    hideFromAccessibility(icon);
    blockLayout->addWidget(icon, 0, Qt::AlignHCenter);
    for (QLabel* label : {static_cast<QLabel*>(name), static_cast<QLabel*>(version)}) {
        blockLayout->addWidget(label, 0, Qt::AlignHCenter);
    }
    // Without a copyright its line stays, as room alone: an empty label would be read out as
    // a nameless text.
    if (copyright->text().isEmpty()) {
        blockLayout->addSpacing(copyright->sizeHint().height());
        delete copyright;
    } else {
        blockLayout->addWidget(copyright, 0, Qt::AlignHCenter);
    }
    // The identity block stands above the section's box, where a header would be.
    static_cast<QVBoxLayout*>(identity->layout())->insertWidget(0, block);

    check_ = new PushButton(QStringLiteral("Check for Updates"));
    updatesRow_ = new SettingRow(QStringLiteral("Updates"), check_);
    autoCheck_ =
        new SettingToggle(QStringLiteral("Check automatically"), SettingsText::autoCheckDetail);
    identity->addRow(updatesRow_);
    identity->addRow(autoCheck_);
    connect(check_, &QPushButton::clicked, this, [this] {
        if (updates_.checkNow) {
            updates_.checkNow();
        }
    });
    autoCheck_->onToggle = [this](bool on) {
        settings_.binding(&Preferences::autoCheckUpdates).set(on);
    };

    links_ = addSection(QStringLiteral("Links"));
    if (InfoLinks::url(InfoLink::website, info)) {
        auto* row = new LinkRow(QStringLiteral("globe"), QStringLiteral("Website"));
        connect(row, &QAbstractButton::clicked, this, [] { InfoLinks::open(InfoLink::website); });
        links_->addRow(row);
    }
    if (InfoLinks::url(InfoLink::changelog, info)) {
        auto* row = new LinkRow(QStringLiteral("sparkles"), QStringLiteral("Changelog"));
        connect(row, &QAbstractButton::clicked, this, [] { InfoLinks::open(InfoLink::changelog); });
        links_->addRow(row);
    }
    if (Feedback::email(info)) {
        auto* row = new LinkRow(QStringLiteral("envelope"), QStringLiteral("Issues & Feedback"));
        connect(row, &QAbstractButton::clicked, this, [] { Feedback::compose(); });
        links_->addRow(row);
    }
    // Without links there is no section: a heading over nothing would promise what is not there.
    links_->setVisible(!linkRows().isEmpty());

    connect(&settings_, &AppSettings::prefsChanged, this, [this] { refresh(); });
    refresh();
}

QList<LinkRow*> AboutPane::linkRows() const {
    QList<LinkRow*> rows;
    for (QWidget* row : links_->visibleRows()) {
        if (auto* link = dynamic_cast<LinkRow*>(row)) {
            rows.append(link);
        }
    }
    return rows;
}

void AboutPane::refresh() {
    const bool website = updates_.usesWebsite ? updates_.usesWebsite() : true;
    // Without a feed or a website the button could only do nothing: it says so instead.
    const bool source = updates_.hasSource ? updates_.hasSource() : true;
    updatesRow_->setDetail(
        !source   ? QStringLiteral("This build has no update source.")
        : website ? QStringLiteral("This build checks the website for a newer version.")
                  : QStringLiteral("Checks whether a newer version of Ostrel is out."));
    check_->setEnabled(source);
    autoCheck_->setOn(settings_.prefs().autoCheckUpdates);
    autoCheck_->setEnabled(!website);
}

} // namespace ostrel
