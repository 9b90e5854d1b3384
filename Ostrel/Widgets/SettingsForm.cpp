#include "Ostrel/Widgets/SettingsForm.h"

#include "Ostrel/Widgets/SettingsColors.h"
#include "Ostrel/Widgets/ToneLabel.h"

#include <QEvent>
#include <QPainter>
#include <QVBoxLayout>

namespace ostrel {

namespace {

// The rounded box behind a section's rows, with hairlines between the rows that are shown.
class GroupBox : public QWidget {
public:
    explicit GroupBox(QWidget* parent) : QWidget(parent) {}

    QVBoxLayout* rows = nullptr;

protected:
    void paintEvent(QPaintEvent*) override {
        const bool dark = SettingsColors::isDark();
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(SettingsColors::groupStroke(dark), 1));
        p.setBrush(SettingsColors::groupFill(dark));
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setPen(QPen(SettingsColors::divider(dark), 1));
        bool first = true;
        for (int i = 0; i < rows->count(); ++i) {
            QWidget* row = rows->itemAt(i)->widget();
            if (row == nullptr || !row->isVisible()) {
                continue;
            }
            if (!first) {
                const int y = row->geometry().top() - rows->spacing() / 2 - 1;
                p.drawLine(10, y, width() - 10, y);
            }
            first = false;
        }
    }
};

} // namespace

SettingsSection::SettingsSection(const QString& header, QWidget* parent)
    : QWidget(parent), header_(new ToneLabel(header, ToneLabel::Tone::primary, 13, this)),
      box_(new GroupBox(this)), rows_(new QVBoxLayout(box_)),
      footer_(new ToneLabel(QString(), ToneLabel::Tone::secondary, 11, this)) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    header_->setBold(true);
    header_->setContentsMargins(2, 0, 0, 0);
    header_->setVisible(!header.isEmpty());
    rows_->setContentsMargins(10, 8, 10, 8);
    rows_->setSpacing(14);
    static_cast<GroupBox*>(box_)->rows = rows_;
    footer_->setWordWrap(true);
    footer_->setContentsMargins(2, 0, 2, 0);
    footer_->hide();
    layout->addWidget(header_);
    layout->addWidget(box_);
    layout->addWidget(footer_);
}

void SettingsSection::addRow(QWidget* row) {
    rows_->addWidget(row);
}

void SettingsSection::clearRows() {
    while (QLayoutItem* item = rows_->takeAt(0)) {
        if (QWidget* row = item->widget()) {
            row->hide();
            row->deleteLater();
        }
        delete item;
    }
}

void SettingsSection::setFooter(const QString& text) {
    footer_->setText(text);
    footer_->setVisible(!text.isEmpty());
}

QList<QWidget*> SettingsSection::visibleRows() const {
    QList<QWidget*> shown;
    for (int i = 0; i < rows_->count(); ++i) {
        QWidget* row = rows_->itemAt(i)->widget();
        if (row != nullptr && !row->isHidden()) {
            shown.append(row);
        }
    }
    return shown;
}

SettingsForm::SettingsForm(QWidget* parent) : QScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAutoFillBackground(false);
    auto* content = new QWidget;
    content->setAutoFillBackground(false);
    column_ = new QVBoxLayout(content);
    column_->setContentsMargins(20, 4, 20, 20);
    column_->setSpacing(18);
    column_->addStretch(1);
    setWidget(content);
}

SettingsSection* SettingsForm::addSection(const QString& header) {
    auto* section = new SettingsSection(header, widget());
    column_->insertWidget(column_->count() - 1, section);
    sections_.append(section);
    return section;
}

} // namespace ostrel
