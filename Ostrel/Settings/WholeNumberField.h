#pragma once

#include "OstrelCore/Records/ClosedRange.h"

#include <QWidget>

#include <functional>

class QLineEdit;

namespace ostrel {

class Stepper;
class ToneLabel;

// A whole-number preference with a range: a text field, a stepper and the unit word. Typed text
// is committed on Return or when the field loses focus, read leniently and clamped; the stepper
// moves by the step, ten times as far with Shift, from the stored value. Assistive technology
// reads the text field and the stepper, a spin button over the stored value, both named by the
// unit word capitalised and labelled by the title of the row that holds the field.
class WholeNumberField : public QWidget {
public:
    // How the field reaches the preference it edits.
    struct Value {
        std::function<qint64()> read;
        std::function<void(qint64)> write;
    };

    WholeNumberField(Value value, ClosedRange<qint64> range, qint64 step, const QString& one,
                     const QString& many, int width, QWidget* parent = nullptr);

    QLineEdit* field() const { return field_; }
    Stepper* stepper() const { return stepper_; }
    ToneLabel* unit() const { return unit_; }

    // Reads the typed text into the preference and shows what was stored.
    void commit();
    // Moves the preference by one click (direction +1 or -1); uncommitted typing is dropped.
    void step(int direction, Qt::KeyboardModifiers modifiers);
    // Call after the preferences changed: a new stored value replaces the text, typed or not.
    void storedChanged();
    qint64 stored() const { return value_.read(); }
    ClosedRange<qint64> range() const { return range_; }
    qint64 stepSize() const { return step_; }
    // Stores `value` pulled into the range and shows it; uncommitted typing is dropped.
    void store(qint64 value);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void display(qint64 stored);

    Value value_;
    ClosedRange<qint64> range_;
    qint64 step_;
    QString one_;
    QString many_;
    QLineEdit* field_;
    Stepper* stepper_;
    ToneLabel* unit_;
    qint64 shown_ = 0;
};

} // namespace ostrel
