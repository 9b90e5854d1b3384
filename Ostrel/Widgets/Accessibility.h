#pragma once

#include <QAccessible>
#include <QAccessibleWidget>

#include <utility>

class QComboBox;
class QLabel;
class QWidget;

namespace ostrel {

// Lets `Interface` tell assistive technology about every widget of type `Widget`, in place of
// what Qt would say of it. Installed once, on the first call.
template <class Widget, class Interface> void installAccessible() {
    static const bool installed = [] {
        QAccessible::installFactory([](const QString&, QObject* object) -> QAccessibleInterface* {
            if (auto* widget = dynamic_cast<Widget*>(object)) {
                return new Interface(widget);
            }
            return nullptr;
        });
        return true;
    }();
    Q_UNUSED(installed);
}

// A screen reader announces a window by its role; Qt gives a plain widget window none of its
// own ("filler"). Marks `window` as a `QAccessible::Window` (a frame), `Dialog` or
// `AlertMessage`; the role may change while the window lives. A widget inside a window takes
// the role too: a part that a screen reader is to meet as an alert of its own.
void setAccessibleWindowRole(QWidget* window, QAccessible::Role role);

// Leaves `widget`, with all it holds, out of what assistive technology reads: a picture that
// only decorates. It takes the widget's object name.
void hideFromAccessibility(QWidget* widget);

// Reads `label` as a heading; Qt reads every label as plain text.
void setAccessibleHeading(QLabel* label);

// A form row's title labels its control: assistive technology hears the title along with the
// name of each part of the control that takes the keyboard. Only interfaces of ours report it,
// through `labelRelations`; the title, a label, reports itself the label of each of them.
void setAccessibleLabel(QWidget* control, QWidget* title);
// The labelled-by relation of `part`, from the title given to the control that holds it (or to
// `part` itself), when `match` asks for labels; empty when it has none.
QList<std::pair<QAccessibleInterface*, QAccessible::Relation>>
labelRelations(const QWidget* part, QAccessible::Relation match);

// A menu picker that keeps its own name: Qt's reading of a combo box on Linux takes the chosen
// item for the name. The chosen item is the value, the list of items its one child.
class AccessibleComboBox : public QAccessibleWidget {
public:
    explicit AccessibleComboBox(QComboBox* box);

    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QString text(QAccessible::Text t) const override;
    QAccessible::State state() const override;
    QStringList actionNames() const override;
    void doAction(const QString& name) override;

private:
    QComboBox* box() const;
};

} // namespace ostrel
