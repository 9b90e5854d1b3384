#include "Ostrel/Widgets/Accessibility.h"

#include <QAbstractItemView>
#include <QAccessibleActionInterface>
#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QVariant>
#include <QWidget>

#include <algorithm>

namespace ostrel {

namespace {

const char* const windowRoleProperty = "ostrelAccessibleRole";
const char* const headingProperty = "ostrelAccessibleHeading";
const char* const labelProperty = "ostrelAccessibleLabel";
const char* const labelForProperty = "ostrelAccessibleLabelFor";

// A window of ours as assistive technology sees it: named by its title, as Qt names any window
// (a part of one by its accessible name), in the role its owner gave it last.
class AccessibleWindow : public QAccessibleWidget {
public:
    explicit AccessibleWindow(QWidget* window) : QAccessibleWidget(window, QAccessible::Window) {}

    QAccessible::Role role() const override {
        bool ok = false;
        const int role = widget()->property(windowRoleProperty).toInt(&ok);
        return ok ? static_cast<QAccessible::Role>(role) : QAccessible::Window;
    }
};

QAccessibleInterface* windowFor(const QString&, QObject* object) {
    auto* widget = qobject_cast<QWidget*>(object);
    if (widget != nullptr && widget->property(windowRoleProperty).isValid()) {
        return new AccessibleWindow(widget);
    }
    return nullptr;
}

// A label in the role its owner gave it, named by its text as Qt names any label.
class AccessibleLabel : public QAccessibleWidget {
public:
    AccessibleLabel(QLabel* label, QAccessible::Role role) : QAccessibleWidget(label, role) {}

    QString text(QAccessible::Text t) const override {
        const QString text = QAccessibleWidget::text(t);
        return text.isEmpty() && t == QAccessible::Name ? static_cast<QLabel*>(widget())->text()
                                                        : text;
    }
};

// Lets go of Qt's reading of `label` when it has one: a label asks for it as soon as its text
// changes, and that reading is kept, so that the next question makes `Ours`.
template <class Ours> void forgetReading(QLabel* label) {
    QAccessibleInterface* read = QAccessible::queryAccessibleInterface(label);
    if (read != nullptr && dynamic_cast<Ours*>(read) == nullptr) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(read));
    }
}

QAccessibleInterface* headingFor(const QString&, QObject* object) {
    auto* label = qobject_cast<QLabel*>(object);
    if (label != nullptr && label->property(headingProperty).toBool()) {
        return new AccessibleLabel(label, QAccessible::Heading);
    }
    return nullptr;
}

// A row's title, read as Qt reads a label and as the label of each part of its control that
// reports it as its own: the relation both ways, as screen readers look for it from either end.
class AccessibleTitle : public AccessibleLabel {
public:
    explicit AccessibleTitle(QLabel* label) : AccessibleLabel(label, QAccessible::StaticText) {}

    QList<std::pair<QAccessibleInterface*, QAccessible::Relation>>
    relations(QAccessible::Relation match) const override {
        auto found = QAccessibleWidget::relations(match);
        const auto control = widget()->property(labelForProperty).value<QPointer<QWidget>>();
        if (!(match & QAccessible::Labelled) || !control) {
            return found;
        }
        QList<QWidget*> parts = control->findChildren<QWidget*>();
        parts.prepend(control.data());
        const auto labelsThis = [this](const auto& label) {
            return label.first->object() == object();
        };
        for (QWidget* part : std::as_const(parts)) {
            QAccessibleInterface* read = QAccessible::queryAccessibleInterface(part);
            if (read == nullptr) {
                continue;
            }
            const auto labels = read->relations(QAccessible::Label);
            if (std::any_of(labels.begin(), labels.end(), labelsThis)) {
                found.append({read, QAccessible::Labelled});
            }
        }
        return found;
    }
};

QAccessibleInterface* titleFor(const QString&, QObject* object) {
    auto* label = qobject_cast<QLabel*>(object);
    if (label != nullptr && label->property(labelForProperty).isValid()) {
        return new AccessibleTitle(label);
    }
    return nullptr;
}

} // namespace

void hideFromAccessibility(QWidget* widget) {
    // Qt gives its own decorations (a rubber band) this name so that their parents leave them
    // out of the children they report; Qt 6.4 keeps no other mark for it.
    widget->setObjectName(QStringLiteral("qt_rubberband"));
}

void setAccessibleHeading(QLabel* label) {
    static const bool installed = [] {
        QAccessible::installFactory(headingFor);
        return true;
    }();
    Q_UNUSED(installed);
    label->setProperty(headingProperty, true);
    forgetReading<AccessibleLabel>(label);
}

void setAccessibleLabel(QWidget* control, QWidget* title) {
    control->setProperty(labelProperty, QVariant::fromValue(QPointer<QWidget>(title)));
    if (auto* label = qobject_cast<QLabel*>(title)) {
        static const bool installed = [] {
            QAccessible::installFactory(titleFor);
            return true;
        }();
        Q_UNUSED(installed);
        label->setProperty(labelForProperty, QVariant::fromValue(QPointer<QWidget>(control)));
        forgetReading<AccessibleTitle>(label);
    }
}

QList<std::pair<QAccessibleInterface*, QAccessible::Relation>>
labelRelations(const QWidget* part, QAccessible::Relation match) {
    if (!(match & QAccessible::Label)) {
        return {};
    }
    for (const QWidget* w = part; w != nullptr; w = w->parentWidget()) {
        const QVariant given = w->property(labelProperty);
        if (!given.isValid()) {
            continue;
        }
        const QPointer<QWidget> title = given.value<QPointer<QWidget>>();
        if (QAccessibleInterface* read =
                title ? QAccessible::queryAccessibleInterface(title.data()) : nullptr) {
            return {{read, QAccessible::Label}};
        }
        return {};
    }
    return {};
}

void setAccessibleWindowRole(QWidget* window, QAccessible::Role role) {
    static const bool installed = [] {
        QAccessible::installFactory(windowFor);
        return true;
    }();
    Q_UNUSED(installed);
    window->setProperty(windowRoleProperty, static_cast<int>(role));
}

AccessibleComboBox::AccessibleComboBox(QComboBox* box)
    : QAccessibleWidget(box, QAccessible::ComboBox) {}

QComboBox* AccessibleComboBox::box() const {
    return static_cast<QComboBox*>(widget());
}

QAccessibleInterface* AccessibleComboBox::child(int index) const {
    if (index != 0) {
        return nullptr;
    }
    // The list is named as its box is, once that has a name.
    if (box()->view()->accessibleName() != box()->accessibleName()) {
        box()->view()->setAccessibleName(box()->accessibleName());
    }
    return QAccessible::queryAccessibleInterface(box()->view());
}

int AccessibleComboBox::indexOfChild(const QAccessibleInterface* child) const {
    return child != nullptr && child->object() == box()->view() ? 0 : -1;
}

QString AccessibleComboBox::text(QAccessible::Text t) const {
    return t == QAccessible::Value ? box()->currentText() : QAccessibleWidget::text(t);
}

QAccessible::State AccessibleComboBox::state() const {
    QAccessible::State s = QAccessibleWidget::state();
    s.expandable = true;
    s.expanded = box()->view()->isVisible();
    return s;
}

QStringList AccessibleComboBox::actionNames() const {
    return QStringList{QAccessibleActionInterface::showMenuAction(),
                       QAccessibleActionInterface::pressAction()} +
           QAccessibleWidget::actionNames();
}

void AccessibleComboBox::doAction(const QString& name) {
    if (name == QAccessibleActionInterface::showMenuAction() ||
        name == QAccessibleActionInterface::pressAction()) {
        // The menu runs from the event loop, not inside the request that asked for it.
        QMetaObject::invokeMethod(box(), &QComboBox::showPopup, Qt::QueuedConnection);
    } else {
        QAccessibleWidget::doAction(name);
    }
}

} // namespace ostrel
