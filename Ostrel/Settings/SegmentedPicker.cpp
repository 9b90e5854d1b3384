#include "Ostrel/Settings/SegmentedPicker.h"

#include "Ostrel/Widgets/Accessibility.h"
#include "Ostrel/Widgets/FocusRing.h"
#include "Ostrel/Widgets/HighContrast.h"
#include "Ostrel/Widgets/SettingsColors.h"

#include <QAccessibleActionInterface>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>

#include <algorithm>
#include <cmath>

namespace ostrel {

namespace {
constexpr int segmentHeight = 22;
constexpr int padding = 12;

// One segment as a radio button: named by its title, checked while it is the chosen one, and
// focused while the picker has the keyboard and it is chosen. It has no object of its own: the
// picker's interface keeps it.
class SegmentAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    SegmentAccessible(SegmentedPicker* picker, int index) : picker_(picker), index_(index) {}

    bool isValid() const override { return picker_ && index_ < picker_->titles().size(); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override {
        return picker_ ? picker_->window()->windowHandle() : nullptr;
    }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }
    QAccessibleInterface* parent() const override {
        return picker_ ? QAccessible::queryAccessibleInterface(picker_.data()) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name && isValid() ? picker_->titles().at(index_) : QString();
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override {
        if (!picker_) {
            return {};
        }
        const QRect r = picker_->segmentRect(index_);
        return {picker_->mapToGlobal(r.topLeft()), r.size()};
    }
    QAccessible::Role role() const override { return QAccessible::RadioButton; }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        const bool chosen = picker_->current() == index_;
        s.checkable = true;
        s.checked = chosen;
        s.focusable = true;
        s.focused = chosen && picker_->hasFocus();
        s.invisible = !picker_->isVisible();
        s.disabled = !picker_->isEnabled();
        return s;
    }
    void* interface_cast(QAccessible::InterfaceType type) override {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                    : nullptr;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override {
        // Run from the event loop: whoever hears of the choice may rebuild the pane that holds
        // the picker, which must not go while the request that asked is being answered.
        if (name == pressAction() && picker_) {
            QMetaObject::invokeMethod(
                picker_.data(), [picker = picker_, index = index_] { picker->pick(index); },
                Qt::QueuedConnection);
        }
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

private:
    QPointer<SegmentedPicker> picker_;
    int index_;
};

// The picker as a named group of its segments.
class PickerAccessible : public QAccessibleWidget {
public:
    explicit PickerAccessible(SegmentedPicker* picker)
        : QAccessibleWidget(picker, QAccessible::Grouping) {}
    ~PickerAccessible() override {
        for (const QAccessible::Id id : std::as_const(segments_)) {
            QAccessible::deleteAccessibleInterface(id);
        }
    }

    int childCount() const override { return static_cast<int>(picker()->titles().size()); }
    QAccessibleInterface* child(int index) const override {
        if (index < 0 || index >= childCount()) {
            return nullptr;
        }
        while (segments_.size() <= index) {
            segments_.append(QAccessible::registerAccessibleInterface(
                new SegmentAccessible(picker(), static_cast<int>(segments_.size()))));
        }
        return QAccessible::accessibleInterface(segments_.at(index));
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        for (int i = 0; i < segments_.size(); ++i) {
            if (QAccessible::accessibleInterface(segments_.at(i)) == child) {
                return i;
            }
        }
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override {
        const QPoint at = picker()->mapFromGlobal(QPoint(x, y));
        for (int i = 0; i < childCount(); ++i) {
            if (picker()->segmentRect(i).contains(at)) {
                return child(i);
            }
        }
        return nullptr;
    }
    QAccessibleInterface* focusChild() const override {
        return picker()->hasFocus() ? child(picker()->current()) : nullptr;
    }

private:
    SegmentedPicker* picker() const { return static_cast<SegmentedPicker*>(widget()); }

    mutable QList<QAccessible::Id> segments_;
};

// `tint` laid over `below`, as painting it there shows.
QColor over(const QColor& below, const QColor& tint) {
    const float a = tint.alphaF();
    return QColor::fromRgbF(below.redF() + (tint.redF() - below.redF()) * a,
                            below.greenF() + (tint.greenF() - below.greenF()) * a,
                            below.blueF() + (tint.blueF() - below.blueF()) * a);
}

// Relative luminance, as contrast ratios are reckoned from.
double luminance(const QColor& c) {
    const auto channel = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

// The chosen segment under a dark palette: a step lighter than the track it lies in, opaque, and
// never so light that its white title reads under 4.5:1, as it would on the lighter, tinted
// window colour of some dark themes.
QColor darkChosenFill(const QColor& track) {
    QColor fill = over(track, QColor(255, 255, 255, 56));
    // White reads 4.5:1 on a luminance of 1.05 / 4.5 - 0.05 at most; a little under, for rounding.
    while (luminance(fill) > 0.18) {
        fill = over(fill, QColor(0, 0, 0, 8));
    }
    return fill;
}

// Tells assistive technology of the segment at `index`: its check, or that it has the keyboard.
void notifySegment(SegmentedPicker* picker, int index, QAccessible::Event event) {
    if (!QAccessible::isActive()) {
        return;
    }
    QAccessibleInterface* segment = QAccessible::queryAccessibleInterface(picker)->child(index);
    if (segment == nullptr) {
        return;
    }
    if (event == QAccessible::StateChanged) {
        QAccessible::State changed;
        changed.checked = true;
        QAccessibleStateChangeEvent stateEvent(segment, changed);
        QAccessible::updateAccessibility(&stateEvent);
    } else {
        QAccessibleEvent focusEvent(segment, event);
        QAccessible::updateAccessibility(&focusEvent);
    }
}
} // namespace

SegmentedPicker::SegmentedPicker(const QStringList& titles, QWidget* parent)
    : QWidget(parent), titles_(titles) {
    installAccessible<SegmentedPicker, PickerAccessible>();
    QFont f = font();
    f.setPixelSize(12);
    setFont(f);
    setFocusPolicy(Qt::TabFocus);
    FocusRing::setCorner(this, 6);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SegmentedPicker::setCurrent(int index) {
    if (index != current_ && index >= 0 && index < titles_.size()) {
        choose(index);
    }
}

void SegmentedPicker::choose(int index) {
    const int before = std::exchange(current_, index);
    update();
    notifySegment(this, before, QAccessible::StateChanged);
    notifySegment(this, index, QAccessible::StateChanged);
    if (hasFocus()) {
        notifySegment(this, index, QAccessible::Focus);
    }
}

int SegmentedPicker::segmentWidth() const {
    int widest = 0;
    for (const QString& t : titles_) {
        widest = std::max(widest, fontMetrics().horizontalAdvance(t));
    }
    return widest + 2 * padding;
}

QSize SegmentedPicker::sizeHint() const {
    return {segmentWidth() * static_cast<int>(titles_.size()) + 2, segmentHeight};
}

QRect SegmentedPicker::segmentRect(int index) const {
    return {1 + index * segmentWidth(), 1, segmentWidth(), segmentHeight - 2};
}

void SegmentedPicker::paintEvent(QPaintEvent*) {
    const bool dark = SettingsColors::isDark();
    // On a black or white ground the shades below all but vanish: the control is edged and the
    // chosen segment filled in the text colour, its title in the ground's. On a dark ground the
    // chosen segment's title is white: nothing fainter reads 4.5:1 on its fill.
    const bool contrast = SettingsColors::isHighContrast();
    const QColor ink =
        contrast ? HighContrast::ink(isEnabled()) : SettingsColors::primaryText(dark);
    const QColor trackTint = dark ? QColor(255, 255, 255, 26) : QColor(0, 0, 0, 18);
    // The form lays its rows on the palette's window colour under a group's fill.
    const QColor chosenFill =
        contrast ? ink
        : dark   ? darkChosenFill(over(over(QGuiApplication::palette().color(QPalette::Window),
                                            SettingsColors::groupFill(dark)),
                                       trackTint))
                 : QColor(255, 255, 255);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF frame = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    p.setPen(Qt::NoPen);
    p.setBrush(trackTint);
    p.drawRoundedRect(frame, 6, 6);
    HighContrast::drawEdge(p, rect(), 6, isEnabled());
    for (int i = 0; i < titles_.size(); ++i) {
        const QRectF seg = QRectF(segmentRect(i)).adjusted(1, 1, -1, -1);
        if (i == current_) {
            p.setBrush(chosenFill);
            p.setPen(contrast ? QPen(Qt::NoPen) : QPen(QColor(0, 0, 0, dark ? 0 : 30), 0.5));
            p.drawRoundedRect(seg, 5, 5);
        } else if (i > 0 && i - 1 != current_) {
            p.setPen(QPen(contrast ? ink : SettingsColors::divider(dark), 1));
            p.drawLine(seg.topLeft() + QPointF(-1, 4), seg.bottomLeft() + QPointF(-1, -4));
        }
        p.setPen(i != current_ ? ink
                 : contrast    ? QGuiApplication::palette().color(QPalette::Window)
                 : dark        ? QColor(Qt::white)
                               : ink);
        p.drawText(seg, Qt::AlignCenter, titles_[i]);
    }
}

void SegmentedPicker::mousePressEvent(QMouseEvent* event) {
    for (int i = 0; i < titles_.size(); ++i) {
        if (segmentRect(i).contains(event->position().toPoint())) {
            pick(i);
            return;
        }
    }
}

void SegmentedPicker::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Left) {
        pick(std::max(current_ - 1, 0));
    } else if (event->key() == Qt::Key_Right) {
        pick(std::min(current_ + 1, static_cast<int>(titles_.size()) - 1));
    } else {
        QWidget::keyPressEvent(event);
    }
}

void SegmentedPicker::focusInEvent(QFocusEvent* event) {
    QWidget::focusInEvent(event);
    // The picker takes the keyboard as a whole; a screen reader hears the chosen segment. Qt
    // tells of the picker itself once this event is handled, so the segment is told of after
    // that, from the event loop: the last focus heard is the choice.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (hasFocus()) {
                notifySegment(this, current_, QAccessible::Focus);
            }
        },
        Qt::QueuedConnection);
}

void SegmentedPicker::pick(int index) {
    if (index == current_ || index < 0 || index >= titles_.size()) {
        return;
    }
    choose(index);
    if (onPick) {
        onPick(index);
    }
}

} // namespace ostrel
