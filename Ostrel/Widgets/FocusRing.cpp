#include "Ostrel/Widgets/FocusRing.h"

#include "Ostrel/Widgets/Accessibility.h"
#include "Ostrel/Widgets/SettingsColors.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QEvent>
#include <QFocusFrame>
#include <QGuiApplication>
#include <QItemSelectionModel>
#include <QPainter>
#include <QWidget>

#include <cmath>

namespace ostrel {

namespace {

// How far the ring reaches beyond its control.
const int reach = static_cast<int>(std::ceil(FocusRing::gap + FocusRing::width));

const char* const cornerProperty = "focusRingCorner";

double cornerOf(const QWidget* control) {
    const QVariant said = control->property(cornerProperty);
    return said.isValid() ? said.toDouble() : 4.0;
}

// A focus frame, as Qt knows it, is left out of the window's accessibility tree: a screen reader
// would find the ring as a nameless filler beside the control it marks.
class RingView : public QFocusFrame {
public:
    explicit RingView(QWidget* parent) : QFocusFrame(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
    }
    double corner = 4;

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QPen(SettingsColors::accent(SettingsColors::isDark()), FocusRing::width));
        p.setBrush(Qt::NoBrush);
        const double inset = reach - FocusRing::gap - FocusRing::width / 2;
        const double radius = corner + FocusRing::gap + FocusRing::width / 2;
        p.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), radius, radius);
    }
};

// Which of keyboard and pointer the user pressed last, in any window of the application: a
// window opened or changed by a key shows the ring where the focus lands, as after a Tab, though
// Qt marks a window for keyboard focus only once the keyboard moved the focus inside it.
class LastInput : public QObject {
public:
    static bool keyboard() { return instance().keyboard_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
        case QEvent::KeyPress:
            keyboard_ = true;
            break;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::TouchBegin:
        case QEvent::TabletPress:
            keyboard_ = false;
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    static LastInput& instance() {
        static QPointer<LastInput> last;
        if (!last) {
            last = new LastInput;
            last->setParent(qApp);
            qApp->installEventFilter(last);
        }
        return *last;
    }

    bool keyboard_ = false;
};

// From the application's start: the key that opens the first window with a ring counts.
void listenForLastInput() {
    LastInput::keyboard();
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(listenForLastInput)

void FocusRing::setCorner(QWidget* control, double radius) {
    control->setProperty(cornerProperty, radius);
}

void FocusRing::leaveFocusToRing(QStyleOption& option) {
    if ((option.state & QStyle::State_HasFocus) &&
        (option.state & QStyle::State_KeyboardFocusChange)) {
        option.state &= ~QStyle::State_HasFocus;
    }
}

FocusRing::FocusRing(QWidget* window) : QObject(window), window_(window) {
    connect(qApp, &QApplication::focusChanged, this,
            [this](QWidget*, QWidget* now) { follow(now); });
}

FocusRing::~FocusRing() {
    unwatch();
    delete ring_.data();
}

QWidget* FocusRing::ring() const {
    return ring_ && ring_->isVisible() ? ring_.data() : nullptr;
}

void FocusRing::unwatch() {
    for (const QPointer<QWidget>& w : std::as_const(watched_)) {
        if (w) {
            w->removeEventFilter(this);
        }
    }
    watched_.clear();
}

void FocusRing::follow(QWidget* now) {
    unwatch();
    target_ = nullptr;
    if (ring_) {
        ring_->hide();
    }
    if (!now || !window_ || now->window() != window_) {
        return;
    }
    // Only a control reached by keyboard: a click focuses without asking for a ring (Qt keeps
    // the window's keyboard mark through clicks), and the window itself is no control.
    if (QGuiApplication::mouseButtons() != Qt::NoButton) {
        window_->setAttribute(Qt::WA_KeyboardFocusChange, false);
    } else if (LastInput::keyboard()) {
        window_->setAttribute(Qt::WA_KeyboardFocusChange);
    }
    if (now == window_ || !(now->focusPolicy() & Qt::TabFocus)) {
        return;
    }
    // Tab on a window's only control leaves the focus where it is and only turns the window to
    // keyboard marks: the control's keys are watched so that the ring shows then too.
    now->installEventFilter(this);
    watched_.append(now);
    if (!window_->testAttribute(Qt::WA_KeyboardFocusChange)) {
        return;
    }
    target_ = now;
    // The ring lives beside the control, in the nearest ancestor with room for it, so that it
    // scrolls and clips with the control.
    QWidget* host = now->parentWidget();
    while (host != window_ && !host->rect().contains(QRect(now->mapTo(host, QPoint()), now->size())
                                                         .adjusted(-reach, -reach, reach, reach))) {
        host = host->parentWidget();
    }
    if (!ring_) {
        ring_ = new RingView(host);
    } else if (ring_->parentWidget() != host) {
        ring_->setParent(host);
    }
    static_cast<RingView*>(ring_.data())->corner = cornerOf(now);
    for (QWidget* w = now->parentWidget(); w != host; w = w->parentWidget()) {
        w->installEventFilter(this);
        watched_.append(w);
    }
    place();
}

void FocusRing::place() {
    if (!target_ || !ring_) {
        return;
    }
    QWidget* host = ring_->parentWidget();
    if (!target_->isVisibleTo(host)) {
        ring_->hide();
        return;
    }
    ring_->setGeometry(QRect(target_->mapTo(host, QPoint()), target_->size())
                           .adjusted(-reach, -reach, reach, reach));
    ring_->show();
    ring_->raise();
    ring_->update();
}

bool FocusRing::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::Show:
    case QEvent::Hide:
        place();
        break;
    case QEvent::KeyRelease:
        if (!target_ && watched == QApplication::focusWidget() && window_ &&
            window_->testAttribute(Qt::WA_KeyboardFocusChange)) {
            follow(static_cast<QWidget*>(watched));
        }
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

RingedComboBox::RingedComboBox(QWidget* parent) : Ringed(parent) {
    installAccessible<RingedComboBox, AccessibleComboBox>();
    // The list of items holds the chosen one selected even while it is closed, where a screen
    // reader looks for a combo box's value. Selected, not made the list's current item: a list
    // tells a screen reader that its current item has the keyboard, wherever the keyboard is.
    connect(this, &QComboBox::currentIndexChanged, this, [this](int index) {
        view()->selectionModel()->select(model()->index(index, modelColumn(), rootModelIndex()),
                                         QItemSelectionModel::ClearAndSelect);
    });
}

RingedLineEdit::RingedLineEdit(QWidget* parent) : Ringed(parent) {
    applyPlaceholder();
}

void RingedLineEdit::changeEvent(QEvent* event) {
    Ringed::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && !applying_) {
        applyPlaceholder();
    }
}

void RingedLineEdit::applyPlaceholder() {
    const QColor colour =
        SettingsColors::tertiaryText(palette().color(QPalette::Base).lightness() < 128);
    if (palette().color(QPalette::PlaceholderText) == colour) {
        return;
    }
    applying_ = true;
    QPalette p = palette();
    p.setColor(QPalette::PlaceholderText, colour);
    setPalette(p);
    applying_ = false;
}

} // namespace ostrel
