#include "Ostrel/Shell/MainMenu.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>

namespace ostrel {

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
    } else if (QWidget* window = QApplication::activeWindow();
               window &&
               (window->windowType() == Qt::Window || window->windowType() == Qt::Dialog)) {
        // The shelf's panels are not closed this way: they close by the pointer leaving them.
        window->close();
    }
    return true;
}

} // namespace ostrel
