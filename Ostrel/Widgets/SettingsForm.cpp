#include "Ostrel/Widgets/SettingsForm.h"

#include "Ostrel/Widgets/RevealLayout.h"
#include "Ostrel/Widgets/SettingsColors.h"
#include "Ostrel/Widgets/ToneLabel.h"

#include <QEvent>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace ostrel {

namespace {

// The rounded box behind a section's rows, with hairlines between the rows that are shown.
class GroupBox : public QWidget {
public:
    explicit GroupBox(QWidget* parent) : QWidget(parent) {}

    RevealLayout* rows = nullptr;

protected:
    void paintEvent(QPaintEvent*) override {
        const bool dark = SettingsColors::isDark();
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(SettingsColors::groupStroke(dark), 1));
        p.setBrush(SettingsColors::groupFill(dark));
        p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
        p.setRenderHint(QPainter::Antialiasing, false);
        // A hairline in the middle of each gap, as faint as the rows it parts are present.
        QColor line = SettingsColors::divider(dark);
        const double alpha = line.alphaF();
        double above = -1;
        double present = 0;
        for (int i = 0; i < rows->count(); ++i) {
            QWidget* row = rows->itemAt(i)->widget();
            if (row == nullptr || row->isHidden()) {
                continue;
            }
            const double share = rows->presence(row);
            const QRect r = row->geometry();
            if (above >= 0 && std::min(share, present) > 0) {
                line.setAlphaF(float(alpha * std::min(share, present)));
                p.setPen(QPen(line, 1));
                const int y = int(std::lround((above + r.top()) / 2.0)) - 1;
                p.drawLine(10, y, width() - 10, y);
            }
            above = r.top() + r.height() * share;
            present = std::max(present, share);
        }
    }
};

} // namespace

SettingsSection::SettingsSection(const QString& header, QWidget* parent)
    : QWidget(parent), header_(new ToneLabel(header, ToneLabel::Tone::primary, 13, this)),
      box_(new GroupBox(this)), rows_(new RevealLayout(box_)),
      footer_(new ToneLabel(QString(), ToneLabel::Tone::secondary, 11, this)),
      reveal_(new Reveal(rows_, MainClock::system(), this)) {
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

void SettingsSection::setRowShown(QWidget* row, bool shown, const Motion::Curve& curve) {
    reveal_->setShown(row, shown, curve);
    box_->update();
}

void SettingsSection::setClock(std::shared_ptr<MainClock> clock) {
    reveal_->setClock(std::move(clock));
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
        if (row != nullptr && !row->isHidden() && !Reveal::isFolding(row)) {
            shown.append(row);
        }
    }
    return shown;
}

SettingsForm::SettingsForm(QWidget* parent) : QScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    // Its controls are the Tab stops (reaching one scrolls it into view), not the form.
    setFocusPolicy(Qt::NoFocus);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setAutoFillBackground(false);
    auto* content = new QWidget;
    content->setAutoFillBackground(false);
    column_ = new RevealLayout(content);
    column_->setContentsMargins(20, 4, 20, 20);
    column_->setSpacing(18);
    reveal_ = new Reveal(column_, clock_, this);
    setWidget(content);
}

SettingsSection* SettingsForm::addSection(const QString& header) {
    auto* section = new SettingsSection(header, widget());
    section->setClock(clock_);
    column_->addWidget(section);
    sections_.append(section);
    return section;
}

void SettingsForm::setSectionShown(SettingsSection* section, bool shown,
                                   const Motion::Curve& curve) {
    reveal_->setShown(section, shown, curve);
}

void SettingsForm::setClock(std::shared_ptr<MainClock> clock) {
    clock_ = std::move(clock);
    reveal_->setClock(clock_);
    for (SettingsSection* section : sections_) {
        section->setClock(clock_);
    }
}

} // namespace ostrel
