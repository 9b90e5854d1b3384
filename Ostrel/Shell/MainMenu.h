#pragma once

#include <QObject>

#include <functional>

namespace ostrel {

// The application commands' keys on our own ordinary windows, where a desktop menu bar would carry
// them: Ctrl+, opens Settings, Ctrl+Q quits, Ctrl+W closes the active window. Never while a shelf
// panel is the active window. Installed on the application object; the edit keys stay with the
// widgets that have them.
class MainMenu : public QObject {
    Q_OBJECT
public:
    MainMenu(std::function<void()> showPreferences, std::function<void()> quit,
             QObject* parent = nullptr);
    ~MainMenu() override;

    // While the shortcut recorder listens, the keys belong to it.
    void setRecording(bool recording) { recording_ = recording; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::function<void()> showPreferences_;
    std::function<void()> quit_;
    bool recording_ = false;
};

} // namespace ostrel
