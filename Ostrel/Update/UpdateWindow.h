#pragma once

#include "Ostrel/Update/UpdateController.h"

#include <QPointer>
#include <QWidget>

class QTextEdit;
class QVBoxLayout;

namespace ostrel {

// The updater's one small window: the application icon, a title and subtitle for the current
// phase, the release notes of an offered update, a progress bar while downloading and installing,
// and the buttons that call back into the controller. Redrawn on every phase change; never moved
// once shown.
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

private:
    void rebuild();
    QTextEdit* notesView(const QList<UpdateFeed::Release>& releases) const;

    QPointer<UpdateController> controller_;
    QVBoxLayout* layout_ = nullptr;
    QWidget* content_ = nullptr;
    bool closing_ = false;
};

} // namespace ostrel
