#pragma once

#include "OstrelCore/Display/MotionAnimator.h"
#include "OstrelCore/Records/DisplayStyleChoice.h"
#include "Platform/X11/FocusReturn.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QLabel;
class QPushButton;
class QWidget;

namespace ostrel {

namespace x11 {
class WindowSystem;
}
class AppSettings;
class ReplaceMark;
class RowLabel;
class ShelfModel;
class Switch;

// The first launch's greeting: how to open the shelf (ticked off once the user has), the
// launch-at-login switch, where the settings live, and "Done". Closing hands the focus back to
// the window that was in front before, so the user returns to the terminal. Main thread only.
class WelcomeWindowController : public QObject {
    Q_OBJECT
public:
    static inline const QString shownKey = QStringLiteral("shownWelcome");
    static inline const QString title = QStringLiteral("Welcome to Ostrel");

    // `windows` may be null (no X display of our own): the focus is then not handed back.
    WelcomeWindowController(ShelfModel& model, AppSettings& settings, x11::WindowSystem* windows,
                            QObject* parent = nullptr);
    ~WelcomeWindowController() override;

    // Where the first step sends the pointer, for a display style.
    static QString place(const DisplayStyleChoice& style, bool notchedScreen);

    // Marks the greeting shown for good, then brings the window up in front.
    void show();
    void close();

    QWidget* window() const { return window_.get(); }
    // Where the application icon is painted, in the window.
    QRect iconRect() const;
    bool triedShelf() const { return triedShelf_; }
    QString stepTitle() const;
    // The step's mark: a dashed ring, replaced by a check once the shelf has been opened.
    ReplaceMark* stepMark() const { return stepMark_; }
    // Where the settings are: the tray item's menu, or starting Ostrel again where there is none.
    QString settingsCaption() const;
    Switch* loginSwitch() const { return loginSwitch_; }
    QPushButton* doneButton() const { return done_; }

    // Called when the window closes, before the focus goes back.
    std::function<void()> onClose;

private:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // `curve`: how the step's mark changes, when it does.
    void refresh(const Motion::Curve& curve = Motion::Curve::none());
    void closed();

    ShelfModel& model_;
    AppSettings& settings_;
    x11::FocusReturn focusReturn_;
    std::unique_ptr<QWidget> window_;
    ReplaceMark* stepMark_ = nullptr;
    QLabel* power_ = nullptr;
    RowLabel* step_ = nullptr;
    QLabel* caption_ = nullptr;
    Switch* loginSwitch_ = nullptr;
    QPushButton* done_ = nullptr;
    bool triedShelf_ = false;
};

} // namespace ostrel
