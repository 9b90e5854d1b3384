#include "Ostrel/Settings/FolderRow.h"

#include "Ostrel/Settings/ElidedLabel.h"
#include "Ostrel/Settings/FolderStatus.h"
#include "Ostrel/Widgets/Accessibility.h"
#include "Ostrel/Widgets/PushButton.h"
#include "Ostrel/Widgets/RowLabel.h"
#include "Ostrel/Widgets/SettingsColors.h"
#include "Ostrel/Widgets/Symbols.h"
#include "Platform/FileStat.h"

#include <QDir>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>

namespace ostrel {

namespace {

// A symbol drawn in the secondary tone, following light and dark.
class SymbolView : public QWidget {
public:
    SymbolView(const QString& name, int size, QWidget* parent)
        : QWidget(parent), name_(name), size_(size) {
        setFixedSize(size, size);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.drawPixmap(0, 0,
                     Symbols::pixmap(name_, SettingsColors::secondaryText(SettingsColors::isDark()),
                                     size_, devicePixelRatioF()));
    }

private:
    QString name_;
    int size_;
};

} // namespace

QString abbreviatedPath(const QString& path) {
    const QString home = QDir::homePath();
    if (home.size() > 1 && (path == home || path.startsWith(home + u'/'))) {
        return u'~' + path.mid(home.size());
    }
    return path;
}

QString expandedPath(const QString& path) {
    if (path == u"~" || path.startsWith(QStringLiteral("~/"))) {
        return QDir::homePath() + path.mid(1);
    }
    return path;
}

// The 7-pixel status dot.
class FolderRow::StatusDot : public QWidget {
public:
    explicit StatusDot(QWidget* parent) : QWidget(parent) { setFixedSize(7, 7); }

    void setFound(bool found) {
        if (found != found_) {
            found_ = found;
            update();
        }
    }

protected:
    void paintEvent(QPaintEvent*) override {
        const bool dark = SettingsColors::isDark();
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(SettingsColors::system(found_ ? SystemColor::green : SystemColor::orange, dark));
        p.drawEllipse(QRectF(rect()));
    }

private:
    bool found_ = false;
};

FolderRow::FolderRow(const QString& title, const QString& path, bool overridden, Date now,
                     QWidget* parent)
    : SettingRow(title, new QWidget, parent),
      useDefault_(new PushButton(QStringLiteral("Use Default"))),
      change_(new PushButton(QStringLiteral("Change…"))) {
    auto* detail = new QWidget;
    auto* detailLayout = new QHBoxLayout(detail);
    detailLayout->setContentsMargins(0, 0, 0, 0);
    detailLayout->setSpacing(5);
    dot_ = new StatusDot(detail);
    // The line beside it says the same in words.
    hideFromAccessibility(dot_);
    line_ = new ElidedLabel(QString(), ToneLabel::Tone::secondary, 11, detail);
    detailLayout->addWidget(dot_, 0, Qt::AlignVCenter);
    detailLayout->addWidget(line_, 1);
    label()->setDetailWidget(detail);

    auto* buttons = new QHBoxLayout(control());
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(8);
    buttons->addWidget(useDefault_);
    buttons->addWidget(change_);
    // Each row's buttons say which folder they change: a screen reader would read two rows of
    // the same "Change…".
    useDefault_->setAccessibleName(QStringLiteral("Use Default %1 Folder").arg(title));
    change_->setAccessibleName(QStringLiteral("Change %1 Folder").arg(title));
    setFolder(path, overridden, now);
    connect(useDefault_, &QPushButton::clicked, this, [this] {
        if (onReset) {
            onReset();
        }
    });
    connect(change_, &QPushButton::clicked, this, [this] {
        if (onChange) {
            onChange();
        }
    });
}

void FolderRow::setFolder(const QString& path, bool overridden, Date now) {
    const FolderStatus::Status status = FolderStatus::describe(path, now);
    found_ = status.found;
    dot_->setFound(found_);
    line_->setText(abbreviatedPath(path) + QStringLiteral(" · ") + status.text);
    useDefault_->setVisible(overridden);
}

QWidget* FolderRow::dot() const {
    return dot_;
}

QString FolderRow::statusLine() const {
    return line_->text();
}

WatchedFolderRow::WatchedFolderRow(const QString& path, QWidget* parent)
    : QWidget(parent), path_(path),
      notFound_(new ToneLabel(QStringLiteral("Not found"), ToneLabel::Tone::secondary, 11, this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 2, 6, 2);
    layout->setSpacing(8);
    layout->addWidget(new SymbolView(QStringLiteral("folder"), 14, this), 0, Qt::AlignVCenter);
    layout->addWidget(new ElidedLabel(abbreviatedPath(path), ToneLabel::Tone::primary, 13, this),
                      1);
    layout->addWidget(notFound_);
    recheck();
}

void WatchedFolderRow::recheck() {
    missing_ = !FileStat::exists(expandedPath(path_));
    notFound_->setVisible(missing_);
}

} // namespace ostrel
