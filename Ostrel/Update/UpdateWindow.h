#pragma once

#include "Ostrel/Update/UpdateController.h"

#include <QPointer>
#include <QWidget>

class QSpacerItem;
class QTextEdit;
class QVBoxLayout;

namespace ostrel {

// The updater's one small window: the application icon, a title and subtitle for the current
// phase, the release notes of an offered update, a progress bar while downloading and installing,
// and the buttons that call back into the controller. Redrawn on every phase change; never moved
// once shown. Through every phase the keyboard focus stays in the window, on the phase's default
// button, else its progress bar, else the window itself, and what takes it says what the phase
// is: a screen reader speaks the focused object.
class UpdateWindow : public QWidget {
    Q_OBJECT
public:
    explicit UpdateWindow(UpdateController* controller);

    // Centres and shows the window when it is hidden; a visible window stays where it is. Focus
    // is taken only while the application is active.
    void present();
    // Closes without reporting back to the controller.
    void closeQuietly();

    struct Texts {
        QString title;
        std::optional<QString> subtitle;
    };
    static Texts texts(const std::optional<UpdateController::Phase>& phase,
                       const UpdateController::Environment& environment);

    static constexpr int contentWidth = 600;
    static constexpr int notesHeight = 250;
    static constexpr int iconSize = 64;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void rebuild();
    QTextEdit* notesView(const QList<UpdateFeed::Release>& releases) const;

    QPointer<UpdateController> controller_;
    QVBoxLayout* layout_ = nullptr;
    // Where the header's icon is drawn: the window paints it, a decoration that assistive
    // technology is not to find. Owned by the layout.
    QSpacerItem* iconSpace_ = nullptr;
    // The widget whose layout holds that room: the window, or the alert that holds a failure.
    QPointer<QWidget> iconHost_;
    bool closing_ = false;
};

} // namespace ostrel
