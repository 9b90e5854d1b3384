#include "Ostrel/Settings/WholeNumberField.h"

#include "Ostrel/Settings/Stepper.h"
#include "Ostrel/Widgets/Accessibility.h"
#include "Ostrel/Widgets/FocusRing.h"
#include "Ostrel/Widgets/ToneLabel.h"
#include "OstrelCore/Records/Preferences.h"

#include <QAccessibleValueInterface>
#include <QEvent>
#include <QFontMetrics>
#include <QHBoxLayout>

namespace ostrel {

namespace {

QString capitalised(const QString& word) {
    return word.isEmpty() ? word : word.left(1).toUpper() + word.mid(1);
}

// The field's text box: Qt's own line edit, which tells where a character is drawn.
class NumberText : public RingedLineEdit {
public:
    using RingedLineEdit::RingedLineEdit;

    // In the box's coordinates; null past the text. Measured from the cursor, the one place of
    // the text Qt reports (the digits always fit, so nothing is scrolled away).
    QRect characterRect(int offset) const {
        const QString shown = displayText();
        if (offset < 0 || offset >= shown.size()) {
            return {};
        }
        const QFontMetrics metrics(font());
        const QRect cursor = cursorRect();
        const int x = cursor.center().x() -
                      metrics.horizontalAdvance(shown.left(cursorPosition())) +
                      metrics.horizontalAdvance(shown.left(offset));
        return {x, cursor.top(), metrics.horizontalAdvance(shown.at(offset)), cursor.height()};
    }
};

// The text box read as Qt reads a line edit, and labelled by its row's title as well: Qt's own
// reading of a line edit cannot take a relation from outside it.
class NumberTextAccessible : public QAccessibleWidget,
                             public QAccessibleTextInterface,
                             public QAccessibleEditableTextInterface {
public:
    explicit NumberTextAccessible(NumberText* text)
        : QAccessibleWidget(text, QAccessible::EditableText) {}

    void* interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TextInterface) {
            return static_cast<QAccessibleTextInterface*>(this);
        }
        if (type == QAccessible::EditableTextInterface) {
            return static_cast<QAccessibleEditableTextInterface*>(this);
        }
        return QAccessibleWidget::interface_cast(type);
    }
    QList<std::pair<QAccessibleInterface*, QAccessible::Relation>>
    relations(QAccessible::Relation match) const override {
        return QAccessibleWidget::relations(match) + labelRelations(widget(), match);
    }
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Value ? box()->displayText() : QAccessibleWidget::text(t);
    }
    void setText(QAccessible::Text t, const QString& text) override {
        if (t == QAccessible::Value) {
            box()->setText(text);
        } else {
            QAccessibleWidget::setText(t, text);
        }
    }
    QAccessible::State state() const override {
        QAccessible::State s = QAccessibleWidget::state();
        s.editable = true;
        s.selectableText = true;
        s.readOnly = box()->isReadOnly();
        return s;
    }

    void selection(int index, int* start, int* end) const override {
        *start = *end = 0;
        if (index == 0 && box()->hasSelectedText()) {
            *start = box()->selectionStart();
            *end = box()->selectionEnd();
        }
    }
    int selectionCount() const override { return box()->hasSelectedText() ? 1 : 0; }
    void addSelection(int start, int end) override { setSelection(0, start, end); }
    void removeSelection(int index) override {
        if (index == 0) {
            box()->deselect();
        }
    }
    void setSelection(int index, int start, int end) override {
        if (index == 0) {
            box()->setSelection(start, end - start);
        }
    }
    int cursorPosition() const override { return box()->cursorPosition(); }
    void setCursorPosition(int position) override { box()->setCursorPosition(position); }
    QString text(int start, int end) const override {
        return start > end ? QString() : box()->displayText().mid(start, end - start);
    }
    int characterCount() const override { return static_cast<int>(box()->displayText().size()); }
    QRect characterRect(int offset) const override {
        const QRect at = box()->characterRect(offset);
        return at.isNull() ? at : QRect(box()->mapToGlobal(at.topLeft()), at.size());
    }
    int offsetAtPoint(const QPoint& point) const override {
        return box()->cursorPositionAt(box()->mapFromGlobal(point));
    }
    void scrollToSubstring(int start, int end) override {
        box()->setCursorPosition(end);
        box()->setCursorPosition(start);
    }
    QString attributes(int offset, int* start, int* end) const override {
        *start = *end = offset;
        return {};
    }

    void deleteText(int start, int end) override {
        box()->setText(box()->text().remove(start, end - start));
    }
    void insertText(int offset, const QString& text) override {
        box()->setText(box()->text().insert(offset, text));
    }
    void replaceText(int start, int end, const QString& text) override {
        box()->setText(box()->text().replace(start, end - start, text));
    }

private:
    NumberText* box() const { return static_cast<NumberText*>(widget()); }
};

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
    QList<std::pair<QAccessibleInterface*, QAccessible::Relation>>
    relations(QAccessible::Relation match) const override {
        return QAccessibleWidget::relations(match) + labelRelations(widget(), match);
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
      field_(new NumberText(this)), stepper_(new Stepper(this)),
      unit_(new ToneLabel(QString(), ToneLabel::Tone::primary, 13, this)) {
    installAccessible<NumberText, NumberTextAccessible>();
    installAccessible<Stepper, StepperAccessible>();
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(4);
    field_->setFixedWidth(width);
    field_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Both parts that take the keyboard are named by the unit; the row's title labels them.
    field_->setAccessibleName(capitalised(many));
    stepper_->setAccessibleName(capitalised(many));
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
