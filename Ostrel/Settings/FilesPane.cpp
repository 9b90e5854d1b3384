#include "Ostrel/Settings/FilesPane.h"

#include "Ostrel/Model/AppSettings.h"
#include "Ostrel/Settings/SettingRow.h"
#include "Ostrel/Settings/SettingsText.h"
#include "Ostrel/Widgets/FocusRing.h"

namespace ostrel {

const std::array<FilesPane::KindRow, 7>& FilesPane::kindRows() {
    static const std::array<KindRow, 7> rows{{
        {ShelfItemKind::image, "Images", QStringLiteral("PNG, JPEG, GIF, WebP, HEIC and SVG")},
        {ShelfItemKind::html, "Web pages",
         QStringLiteral("HTML files, such as mockups and previews")},
        {ShelfItemKind::pdf, "PDFs", QStringLiteral("PDF documents")},
        {ShelfItemKind::document, "Documents",
         QStringLiteral("Word, Excel, PowerPoint, Pages, Numbers and Keynote")},
        {ShelfItemKind::video, "Video", QStringLiteral("MP4, MOV and WebM")},
        {ShelfItemKind::audio, "Audio", QStringLiteral("MP3, WAV and M4A")},
        {ShelfItemKind::artifact, "Published artifacts",
         QStringLiteral("Pages Claude publishes to ") + SettingsText::artifactHost},
    }};
    return rows;
}

FilesPane::FilesPane(AppSettings& settings, QWidget* parent)
    : SettingsForm(parent), settings_(settings) {
    SettingsSection* types = addSection(QStringLiteral("Show these file types"));
    for (const KindRow& row : kindRows()) {
        auto* toggle = new SettingToggle(QString::fromUtf8(row.title), row.detail);
        const ShelfItemKind kind = row.kind;
        toggle->onToggle = [this, kind](bool on) { setKind(kind, on); };
        kinds_.append({kind, toggle});
        types->addRow(toggle);
    }

    SettingsSection* extra = addSection();
    extras_ = new RingedLineEdit;
    extras_->setAccessibleName(QStringLiteral("Extra extensions"));
    extras_->setPlaceholderText(QStringLiteral("md, csv"));
    extras_->setFixedWidth(160);
    auto* extrasRow = new SettingRow(QStringLiteral("Extra extensions"), extras_);
    extrasRow->setDetail(
        QStringLiteral("Adds more file types to the shelf by extension, separated by commas."));
    extra->addRow(extrasRow);

    SettingsSection* project = addSection();
    outsideProjectOnly_ = new SettingToggle(
        QStringLiteral("Only files outside the project folder"),
        QStringLiteral("Leaves out files saved inside the project you're working in, which your "
                       "editor already shows."));
    outsideProjectOnly_->onToggle = [this](bool on) {
        settings_.binding(&Preferences::outsideProjectOnly).set(on);
    };
    project->addRow(outsideProjectOnly_);

    // The field starts from the stored list and then keeps the user's own spelling.
    extras_->setText(settings_.prefs().extraExtensions.join(QStringLiteral(", ")));
    connect(extras_, &QLineEdit::textChanged, this,
            [this](const QString& text) { commitExtensions(text); });
    connect(&settings_, &AppSettings::prefsChanged, this, [this] { refresh(); });
    refresh();
}

SettingToggle* FilesPane::kindToggle(ShelfItemKind kind) const {
    for (const auto& [k, toggle] : kinds_) {
        if (k == kind) {
            return toggle;
        }
    }
    return nullptr;
}

void FilesPane::setKind(ShelfItemKind kind, bool on) {
    Preferences next = settings_.prefs();
    if (on) {
        next.fileKinds.insert(kind);
    } else {
        next.fileKinds.erase(kind);
    }
    settings_.setPrefs(next);
}

void FilesPane::commitExtensions(const QString& text) {
    settings_.binding(&Preferences::extraExtensions).set(Preferences::parseExtensions(text));
}

void FilesPane::refresh() {
    const Preferences& prefs = settings_.prefs();
    for (const auto& [kind, toggle] : kinds_) {
        toggle->setOn(prefs.fileKinds.contains(kind));
    }
    outsideProjectOnly_->setOn(prefs.outsideProjectOnly);
}

} // namespace ostrel
