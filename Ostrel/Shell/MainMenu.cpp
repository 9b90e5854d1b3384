#include "Ostrel/Shell/MainMenu.h"

#include "Ostrel/Panels/NotchPanel.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace ostrel {

namespace {

// Settings, the welcome window, the update window and the preview: windows the window manager
// keeps. A shelf panel is none of them, and neither is a menu or tip it opened.
bool ordinaryWindow(const QWidget* window) {
    return window && (window->windowType() == Qt::Window || window->windowType() == Qt::Dialog) &&
           !(window->windowFlags() & Qt::BypassWindowManagerHint) &&
           !qobject_cast<const NotchPanel*>(window);
}

} // namespace

MainMenu::MainMenu(std::function<void()> showPreferences, std::function<void()> quit,
                   QObject* parent)
    : QObject(parent), showPreferences_(std::move(showPreferences)), quit_(std::move(quit)) {
    qApp->installEventFilter(this);
}

MainMenu::~MainMenu() {
    if (qApp) {
        qApp->removeEventFilter(this);
    }
}

bool MainMenu::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (recording_ || (type != QEvent::KeyPress && type != QEvent::ShortcutOverride) ||
        !watched->isWidgetType()) {
        return false;
    }
    const auto* key = static_cast<QKeyEvent*>(event);
    const Qt::KeyboardModifiers mods = key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier |
                                                           Qt::AltModifier | Qt::MetaModifier);
    if (mods != Qt::ControlModifier ||
        (key->key() != Qt::Key_Comma && key->key() != Qt::Key_Q && key->key() != Qt::Key_W)) {
        return false;
    }
    // While a shelf panel holds the keyboard the combination is the panel's, which swallows it.
    QWidget* active = QApplication::activeWindow();
    if (!ordinaryWindow(active) || !ordinaryWindow(static_cast<QWidget*>(watched)->window())) {
        return false;
    }
    if (type == QEvent::ShortcutOverride) {
        // Ours, before a text field can claim the key as a shortcut of its own.
        event->accept();
        return true;
    }
    if (key->key() == Qt::Key_Comma) {
        if (showPreferences_) {
            showPreferences_();
        }
    } else if (key->key() == Qt::Key_Q) {
        if (quit_) {
            quit_();
        }
    } else {
        active->close();
    }
    return true;
}

} // namespace ostrel
