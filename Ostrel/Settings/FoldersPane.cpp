#include "Ostrel/Settings/FoldersPane.h"

#include "Ostrel/Model/AppSettings.h"
#include "Ostrel/Settings/FolderRow.h"
#include "Ostrel/Widgets/BorderedList.h"
#include "Ostrel/Widgets/FocusRing.h"
#include "Ostrel/Widgets/HighContrast.h"
#include "Ostrel/Widgets/SettingsColors.h"
#include "Ostrel/Widgets/Symbols.h"
#include "Ostrel/Widgets/ToneLabel.h"
#include "OstrelCore/Engine/EngineConfig.h"

#include <QEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPainter>
#include <QToolButton>
#include <QVBoxLayout>

namespace ostrel {

namespace {

std::optional<QString> chooseWithDialog(const QString& prompt) {
    QFileDialog dialog;
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOptions(QFileDialog::ShowDirsOnly | QFileDialog::ReadOnly);
    // Titled by what choosing does, as its accept button is: Qt's own title ("Find Directory")
    // says nothing of what the folder is for.
    dialog.setWindowTitle(prompt);
    dialog.setLabelText(QFileDialog::Accept, prompt);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    const QString path = dialog.selectedFiles().constFirst();
    return path.isEmpty() ? std::nullopt : std::optional<QString>(path);
}

// A borderless button showing a symbol, tinted for light and dark.
class SymbolButton : public QToolButton {
public:
    explicit SymbolButton(const QString& symbol) : symbol_(symbol) {
        setAutoRaise(true);
        setFixedSize(22, 18);
        setIconSize(QSize(12, 12));
        tint();
    }

protected:
    void initStyleOption(QStyleOptionToolButton* option) const override {
        QToolButton::initStyleOption(option);
        FocusRing::leaveFocusToRing(*option);
    }

    void paintEvent(QPaintEvent* event) override {
        QToolButton::paintEvent(event);
        // Borderless, the pair reads as two loose glyphs: a high-contrast palette asks for an
        // edge on every control.
        QPainter painter(this);
        HighContrast::drawEdge(painter, rect(), 3, isEnabled());
    }

    void changeEvent(QEvent* event) override {
        QToolButton::changeEvent(event);
        if (event->type() == QEvent::PaletteChange || event->type() == QEvent::EnabledChange) {
            tint();
        }
    }

private:
    void tint() {
        const bool dark = SettingsColors::isDark();
        QColor c = SettingsColors::primaryText(dark);
        if (SettingsColors::isHighContrast()) {
            c = HighContrast::ink(isEnabled());
        } else if (!isEnabled()) {
            c = SettingsColors::tertiaryText(dark);
        }
        setIcon(QIcon(Symbols::pixmap(symbol_, c, 12, devicePixelRatioF())));
    }

    QString symbol_;
};

} // namespace

bool FoldersPane::samePath(const QString& a, const QString& b) {
    return a.normalized(QString::NormalizationForm_C) == b.normalized(QString::NormalizationForm_C);
}

FoldersPane::FoldersPane(AppSettings& settings, Environment env, FolderChooser chooser, Clock clock,
                         QWidget* parent)
    : SettingsForm(parent), settings_(settings), env_(std::move(env)),
      chooser_(chooser ? std::move(chooser) : FolderChooser(chooseWithDialog)),
      clock_(clock ? std::move(clock) : Clock(&Date::now)) {
    folders_ = addSection(QStringLiteral("Claude Code's folders"));
    folders_->setFooter(QStringLiteral(
        "Change these only if CLAUDE_CONFIG_DIR or CLAUDE_CODE_TMPDIR moved Claude Code's files; "
        "for Sessions, choose the Claude folder that holds projects."));
    // The rows come first, as they stand: Tab follows the order controls were made in.
    showFolders();

    SettingsSection* watched = addSection(QStringLiteral("Watched folders"));
    auto* block = new QWidget;
    auto* blockLayout = new QVBoxLayout(block);
    blockLayout->setContentsMargins(0, 0, 0, 0);
    blockLayout->setSpacing(4);
    list_ = new BorderedList;
    list_->setFixedHeight(118);
    list_->setAccessibleName(QStringLiteral("Watched folders"));
    list_->setSelectionMode(QAbstractItemView::SingleSelection);
    list_->setAlternatingRowColors(false);
    empty_ = new ToneLabel(QStringLiteral("No watched folders"), ToneLabel::Tone::secondary, 13);
    auto* overlay = new QVBoxLayout(list_->viewport());
    overlay->addWidget(empty_, 0, Qt::AlignCenter);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(2);
    add_ = new SymbolButton(QStringLiteral("plus"));
    add_->setToolTip(QStringLiteral("Add a folder"));
    add_->setAccessibleName(QStringLiteral("Add Folder"));
    remove_ = new SymbolButton(QStringLiteral("minus"));
    remove_->setToolTip(QStringLiteral("Remove the selected folder"));
    remove_->setAccessibleName(QStringLiteral("Remove Folder"));
    buttons->addWidget(add_);
    buttons->addWidget(remove_);
    buttons->addStretch(1);
    blockLayout->addWidget(list_);
    blockLayout->addLayout(buttons);
    watched->addRow(block);
    watched->setFooter(QStringLiteral("Files saved in these folders show on the shelf, starting "
                                      "with the last 10 minutes of a folder you add."));

    connect(add_, &QToolButton::clicked, this, [this] { addWatchedFolder(); });
    connect(remove_, &QToolButton::clicked, this, [this] { removeSelected(); });
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
        if (updating_) {
            return;
        }
        const QListWidgetItem* item = list_->item(row);
        select(item != nullptr ? std::optional<QString>(item->data(Qt::UserRole).toString())
                               : std::nullopt);
    });
    connect(&settings_, &AppSettings::prefsChanged, this, [this] { refresh(); });
    shown_ = settings_.prefs();
    showWatched();
    select(std::nullopt);
}

void FoldersPane::chooseClaudeHome() {
    if (const auto path = chooser_(QStringLiteral("Use Folder"))) {
        settings_.binding(&Preferences::claudeHome).set(*path);
    }
}

void FoldersPane::chooseScratchRoot() {
    if (const auto path = chooser_(QStringLiteral("Use Folder"))) {
        settings_.binding(&Preferences::scratchRoot).set(*path);
    }
}

void FoldersPane::addWatchedFolder() {
    const auto path = chooser_(QStringLiteral("Watch Folder"));
    if (!path) {
        return;
    }
    Preferences next = settings_.prefs();
    for (const QString& folder : next.watchedFolders) {
        if (samePath(folder, *path)) {
            return;
        }
    }
    next.watchedFolders.append(*path);
    settings_.setPrefs(next);
    select(*path);
}

void FoldersPane::removeSelected() {
    if (!selection_) {
        return;
    }
    Preferences next = settings_.prefs();
    const QString selected = *selection_;
    next.watchedFolders.removeIf([&](const QString& folder) { return samePath(folder, selected); });
    select(std::nullopt);
    settings_.setPrefs(next);
}

void FoldersPane::refresh() {
    const Preferences& prefs = settings_.prefs();
    // A change made elsewhere (a switch in General) leaves the folders as they were; reading
    // them all again would cost a walk of each on the main thread.
    if (sessions_ != nullptr && prefs.claudeHome == shown_.claudeHome &&
        prefs.scratchRoot == shown_.scratchRoot && prefs.watchedFolders == shown_.watchedFolders) {
        shown_ = prefs;
        return;
    }
    // Every row reads the disk afresh: whatever changed here, what the rows show may be old.
    showFolders();
    if (prefs.watchedFolders != shown_.watchedFolders) {
        showWatched();
    } else {
        for (int i = 0; i < list_->count(); ++i) {
            if (auto* row = dynamic_cast<WatchedFolderRow*>(list_->itemWidget(list_->item(i)))) {
                row->recheck();
            }
        }
    }
    shown_ = prefs;
}

void FoldersPane::showFolders() {
    const Preferences& prefs = settings_.prefs();
    const OstrelPaths paths = EngineConfig::make(prefs, env_).paths;
    const Date now = clock_();
    if (sessions_ != nullptr) {
        sessions_->setFolder(paths.projectsRoot().toLocalFile(), prefs.claudeHome.has_value(), now);
        scratchpads_->setFolder(paths.scratchRoot.toLocalFile(), prefs.scratchRoot.has_value(),
                                now);
        return;
    }
    sessions_ = new FolderRow(QStringLiteral("Sessions"), paths.projectsRoot().toLocalFile(),
                              prefs.claudeHome.has_value(), now);
    sessions_->onChange = [this] { chooseClaudeHome(); };
    sessions_->onReset = [this] { settings_.binding(&Preferences::claudeHome).set(std::nullopt); };
    scratchpads_ = new FolderRow(QStringLiteral("Scratchpads"), paths.scratchRoot.toLocalFile(),
                                 prefs.scratchRoot.has_value(), now);
    scratchpads_->onChange = [this] { chooseScratchRoot(); };
    scratchpads_->onReset = [this] {
        settings_.binding(&Preferences::scratchRoot).set(std::nullopt);
    };
    folders_->addRow(sessions_);
    folders_->addRow(scratchpads_);
}

void FoldersPane::showWatched() {
    updating_ = true;
    list_->clear();
    for (const QString& path : settings_.prefs().watchedFolders) {
        auto* item = new QListWidgetItem(list_);
        item->setData(Qt::UserRole, path);
        auto* row = new WatchedFolderRow(path);
        item->setSizeHint(QSize(0, 24));
        list_->setItemWidget(item, row);
    }
    empty_->setVisible(list_->count() == 0);
    updating_ = false;
    select(selection_);
}

void FoldersPane::select(const std::optional<QString>& path) {
    updating_ = true;
    selection_ = std::nullopt;
    list_->setCurrentRow(-1);
    list_->clearSelection();
    if (path) {
        for (int i = 0; i < list_->count(); ++i) {
            if (list_->item(i)->data(Qt::UserRole).toString() == *path) {
                list_->setCurrentRow(i);
                selection_ = path;
                break;
            }
        }
    }
    remove_->setEnabled(selection_.has_value());
    updating_ = false;
}

} // namespace ostrel
