#include "Ostrel/Settings/HotkeyRecorder.h"

#include "Ostrel/Settings/HotkeyText.h"
#include "Ostrel/Widgets/PushButton.h"
#include "Platform/HotkeyKeys.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>

namespace ostrel {

namespace {

std::function<void(bool)>& recordingHook() {
    static std::function<void(bool)> hook;
    return hook;
}

const Preferences& defaults() {
    static const Preferences prefs;
    return prefs;
}

// Keys that only modify: pressed on the way to a shortcut, never a shortcut themselves.
bool isModifierKey(int key) {
    switch (key) {
    case Qt::Key_Control:
    case Qt::Key_Shift:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
        return true;
    default:
        return false;
    }
}

} // namespace

HotkeyRecorder::HotkeyRecorder(PrefsAccess prefs, QWidget* parent)
    : QWidget(parent), prefs_(std::move(prefs)),
      reset_(new PushButton(QStringLiteral("Reset"), this)),
      main_(new PushButton(QString(), this)) {
    beep = [] { QApplication::beep(); };
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(8);
    main_->setMinimumWidth(96);
    // Named as the control it is; the shortcut it holds is what it says after.
    main_->setAccessibleName(QStringLiteral("Keyboard shortcut"));
    layout->addWidget(reset_);
    layout->addWidget(main_);
    connect(reset_, &QPushButton::clicked, this, [this] { reset(); });
    connect(main_, &QPushButton::clicked, this, [this] { toggleRecording(); });
    refresh();
}

HotkeyRecorder::~HotkeyRecorder() {
    stopRecording();
}

void HotkeyRecorder::setRecordingHook(std::function<void(bool)> hook) {
    recordingHook() = std::move(hook);
}

void HotkeyRecorder::toggleRecording() {
    if (recording_) {
        stopRecording();
    } else {
        startRecording();
    }
}

void HotkeyRecorder::startRecording() {
    if (recording_) {
        return;
    }
    recording_ = true;
    qApp->installEventFilter(this);
    if (recordingHook()) {
        recordingHook()(true);
    }
    refresh();
}

void HotkeyRecorder::stopRecording() {
    if (!recording_) {
        return;
    }
    qApp->removeEventFilter(this);
    recording_ = false;
    if (recordingHook()) {
        recordingHook()(false);
    }
    refresh();
}

void HotkeyRecorder::reset() {
    Preferences next = prefs_.read();
    next.hotkeyKeyCode = defaults().hotkeyKeyCode;
    prefs_.write(next);
    next = prefs_.read();
    next.hotkeyModifiers = defaults().hotkeyModifiers;
    prefs_.write(next);
    refresh();
}

void HotkeyRecorder::refresh() {
    const Preferences prefs = prefs_.read();
    const bool isDefault = prefs.hotkeyKeyCode == defaults().hotkeyKeyCode &&
                           prefs.hotkeyModifiers == defaults().hotkeyModifiers;
    reset_->setVisible(!recording_ && !isDefault);
    main_->setText(recording_ ? QStringLiteral("Type shortcut…")
                              : HotkeyText::describe(prefs.hotkeyKeyCode, prefs.hotkeyModifiers));
    main_->setAccessibleDescription(main_->text());
}

bool HotkeyRecorder::eventFilter(QObject*, QEvent* event) {
    switch (event->type()) {
    case QEvent::KeyPress:
        // Swallowed: while recording no key press reaches any window.
        handleKey(*static_cast<QKeyEvent*>(event));
        return true;
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
        return true;
    default:
        return false;
    }
}

void HotkeyRecorder::hideEvent(QHideEvent* event) {
    stopRecording();
    QWidget::hideEvent(event);
}

void HotkeyRecorder::handleKey(const QKeyEvent& event) {
    if (!recording_ || isModifierKey(event.key())) {
        return;
    }
    const auto code = HotkeyKeys::keyCode(event.nativeScanCode());
    if (code == HotkeyKeys::escape || (!code && event.key() == Qt::Key_Escape)) {
        stopRecording();
        return;
    }
    const qint64 mask = HotkeyText::carbonModifiers(event.modifiers());
    const bool held =
        (mask & (HotkeyText::command | HotkeyText::option | HotkeyText::control)) != 0;
    if (!held || !code || !Preferences::hotkeyKeyCodeRange.contains(*code)) {
        if (beep) {
            beep();
        }
        return;
    }
    Preferences next = prefs_.read();
    next.hotkeyKeyCode = *code;
    prefs_.write(next);
    next = prefs_.read();
    next.hotkeyModifiers = mask;
    prefs_.write(next);
    stopRecording();
}

} // namespace ostrel
