#pragma once

#include "Ostrel/Settings/PrefsAccess.h"

#include <QWidget>

#include <functional>

class QKeyEvent;
class QPushButton;

namespace ostrel {

// The control that records the global shortcut: it shows the stored shortcut, listens for the
// next key press when clicked, and refuses shortcuts without Ctrl, Alt or Super, and keys that
// cannot be stored, with a beep. While it listens, no key press reaches any window of the
// application, and the global hot key is released so that pressing it can be recorded.
class HotkeyRecorder : public QWidget {
public:
    explicit HotkeyRecorder(PrefsAccess prefs, QWidget* parent = nullptr);
    ~HotkeyRecorder() override;

    // Process-wide: called with true when some recorder starts listening and false when it
    // stops, so the owner of the global hot key can release and restore its grab.
    static void setRecordingHook(std::function<void(bool)> hook);

    bool recording() const { return recording_; }
    QPushButton* mainButton() const { return main_; }
    QPushButton* resetButton() const { return reset_; }

    void toggleRecording();
    void startRecording();
    void stopRecording();
    void reset();
    // Call after the preferences changed.
    void refresh();
    // Replaces the system beep (tests count beeps).
    std::function<void()> beep;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void handleKey(const QKeyEvent& event);

    PrefsAccess prefs_;
    QPushButton* reset_;
    QPushButton* main_;
    bool recording_ = false;
};

} // namespace ostrel
