#include "Ostrel/Settings/WholeNumberField.h"

#include "Ostrel/Settings/Stepper.h"
#include "Ostrel/Widgets/Accessibility.h"
#include "Ostrel/Widgets/FocusRing.h"
#include "Ostrel/Widgets/ToneLabel.h"
#include "OstrelCore/Records/Preferences.h"

#include <QAccessibleValueInterface>
#include <QEvent>
#include <QHBoxLayout>

namespace ostrel {

namespace {

QString capitalised(const QString& word) {
    return word.isEmpty() ? word : word.left(1).toUpper() + word.mid(1);
}

// The stepper of a field as a spin button: its value is the stored number, its text that number
// with the unit, and its actions step it up and down.
class StepperAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit StepperAccessible(Stepper* stepper)
        : QAccessibleWidget(stepper, QAccessible::SpinBox) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface && field() != nullptr) {
            return static_cast<QAccessibleValueInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Value && field() != nullptr) {
            return QString::number(field()->stored()) + QLatin1Char(' ') + field()->unit()->text();
        }
        return QAccessibleWidget::text(t);
    }

    QVariant currentValue() const override { return field() ? field()->stored() : QVariant(); }
    void setCurrentValue(const QVariant& value) override {
        if (field() != nullptr) {
            field()->store(value.toLongLong());
        }
    }
    QVariant maximumValue() const override { return field() ? field()->range().upper : QVariant(); }
    QVariant minimumValue() const override { return field() ? field()->range().lower : QVariant(); }
    QVariant minimumStepSize() const override { return field() ? field()->stepSize() : QVariant(); }

    QStringList actionNames() const override {
        return QStringList{increaseAction(), decreaseAction()} + QAccessibleWidget::actionNames();
    }
    void doAction(const QString& name) override {
        if (name == increaseAction() || name == decreaseAction()) {
            if (field() != nullptr) {
                field()->step(name == increaseAction() ? 1 : -1, Qt::NoModifier);
            }
        } else {
            QAccessibleWidget::doAction(name);
        }
    }

private:
    WholeNumberField* field() const {
        return dynamic_cast<WholeNumberField*>(widget()->parentWidget());
    }
};

} // namespace

WholeNumberField::WholeNumberField(Value value, ClosedRange<qint64> range, qint64 step,
                                   const QString& one, const QString& many, int width,
                                   QWidget* parent)
    : QWidget(parent), value_(std::move(value)), range_(range), step_(step), one_(one), many_(many),
      field_(new RingedLineEdit(this)), stepper_(new Stepper(this)),
      unit_(new ToneLabel(QString(), ToneLabel::Tone::primary, 13, this)) {
    installAccessible<Stepper, StepperAccessible>();
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    field_->setFixedWidth(width);
    field_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    field_->setAccessibleName(capitalised(many));
    unit_->setContentsMargins(2, 0, 0, 0);
    layout->addWidget(field_);
    layout->addWidget(stepper_);
    layout->addWidget(unit_);
    field_->installEventFilter(this);
    connect(field_, &QLineEdit::returnPressed, this, [this] { commit(); });
    stepper_->onStep = [this](int direction, Qt::KeyboardModifiers modifiers) {
        this->step(direction, modifiers);
    };
    display(value_.read());
}

void WholeNumberField::commit() {
    const qint64 stored = value_.read();
    const qint64 next = Preferences::whole(field_->text(), stored, range_);
    value_.write(next);
    display(next);
}

void WholeNumberField::step(int direction, Qt::KeyboardModifiers modifiers) {
    const qint64 multiplier = (modifiers & Qt::ShiftModifier) ? 10 : 1;
    store(value_.read() + direction * step_ * multiplier);
}

void WholeNumberField::store(qint64 value) {
    const qint64 next = range_.clamp(value);
    value_.write(next);
    display(next);
}

void WholeNumberField::storedChanged() {
    const qint64 stored = value_.read();
    if (stored != shown_) {
        display(stored);
    }
}

bool WholeNumberField::eventFilter(QObject* watched, QEvent* event) {
    if (watched == field_ && event->type() == QEvent::FocusOut) {
        commit();
    }
    return QWidget::eventFilter(watched, event);
}

void WholeNumberField::display(qint64 stored) {
    shown_ = stored;
    field_->setText(QString::number(stored));
    unit_->setText(stored == 1 ? one_ : many_);
    if (QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(stepper_, stored);
        QAccessible::updateAccessibility(&event);
    }
}

} // namespace ostrel
