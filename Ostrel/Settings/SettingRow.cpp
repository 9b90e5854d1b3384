#include "Ostrel/Settings/SettingRow.h"

#include "Ostrel/Widgets/Accessibility.h"
#include "Ostrel/Widgets/RowLabel.h"
#include "Ostrel/Widgets/Switch.h"
#include "Ostrel/Widgets/ToneLabel.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace ostrel {

SettingRow::SettingRow(const QString& title, QWidget* control, QWidget* parent)
    : QWidget(parent), label_(new RowLabel(title, this)), control_(control) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addWidget(label_, 1, Qt::AlignVCenter);
    if (control_ != nullptr) {
        layout->addWidget(control_, 0, Qt::AlignVCenter | Qt::AlignRight);
        setAccessibleLabel(control_, label_->title());
    }
}

void SettingRow::setDetail(const QString& text) {
    label_->setDetail(text);
}

SettingToggle::SettingToggle(const QString& title, const QString& detail, QWidget* parent)
    : SettingRow(title, new Switch(Switch::Size::mini), parent),
      switch_(static_cast<Switch*>(control())) {
    setDetail(detail);
    switch_->setAccessibleName(title);
    QObject::connect(switch_, &QAbstractButton::clicked, this, [this](bool on) {
        if (onToggle) {
            onToggle(on);
        }
    });
}

bool SettingToggle::isOn() const {
    return switch_->isChecked();
}

void SettingToggle::setOn(bool on) {
    switch_->setChecked(on);
}

PreviewedRow::PreviewedRow(const QString& title, QWidget* control, QWidget* preview,
                           QWidget* parent)
    : QWidget(parent), label_(new RowLabel(title, this)), control_(control), preview_(preview) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 2, 0, 2);
    layout->setSpacing(16);
    auto* column = new QVBoxLayout;
    column->setSpacing(8);
    column->addStretch(1);
    column->addWidget(label_);
    column->addWidget(control_, 0, Qt::AlignLeft);
    column->addStretch(1);
    layout->addLayout(column, 1);
    layout->addWidget(preview_, 0, Qt::AlignVCenter);
}

} // namespace ostrel
