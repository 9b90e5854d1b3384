#include "Ostrel/Widgets/RowLabel.h"

#include "Ostrel/Widgets/ToneLabel.h"

#include <QVBoxLayout>

namespace ostrel {

RowLabel::RowLabel(const QString& title, QWidget* parent)
    : QWidget(parent), layout_(new QVBoxLayout(this)),
      title_(new ToneLabel(title, ToneLabel::Tone::primary, 13, this)),
      detail_(new ToneLabel(QString(), ToneLabel::Tone::secondary, 11, this)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(2);
    detail_->setWordWrap(true);
    detail_->hide();
    layout_->addWidget(title_);
    layout_->addWidget(detail_);
}

void RowLabel::setDetail(const QString& text) {
    detail_->setText(text);
    detail_->setVisible(!text.isEmpty());
}

QString RowLabel::detailText() const {
    return detail_->isHidden() ? QString() : detail_->text();
}

void RowLabel::setDetailWidget(QWidget* widget) {
    setDetail(QString());
    layout_->addWidget(widget);
}

} // namespace ostrel
