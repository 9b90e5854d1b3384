#pragma once

#include "Ostrel/Update/UpdateConfig.h"
#include "OstrelCore/Update/UpdateFeed.h"
#include "OstrelCore/Update/UpdateInstaller.h"
#include "Platform/Date.h"

#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <optional>

namespace ostrel {

class UserDefaults;
class UpdateWindow;

// The user-facing flow of the updater: the daily automatic check and the one the user asks for,
// which outcome deserves a window, and download, verify, install and quit. One per process.
class UpdateController : public QObject {
    Q_OBJECT
public:
    struct Phase {
        enum class Kind {
            available,
            needsNewerSystem,
            failed,
            checking,
            upToDate,
            downloading,
            installing
        };
        Kind kind = Kind::checking;
        UpdateFeed feed;
        QString title;
        QString message;

        static Phase of(Kind kind) { return Phase{kind, {}, {}, {}}; }
        friend bool operator==(const Phase&, const Phase&) = default;
    };

    // Everything the controller reaches outside itself.
    struct Environment {
        // The application's one settings store (another instance would overwrite its keys).
        UserDefaults* defaults = nullptr;
        std::int64_t runningBuild = 0;
        QString appVersion;
        SystemVersion system;
        QString runningFolder;
        std::optional<QUrl> website;
        std::optional<QUrl> changelog;
        Clock now = &Date::now;
        std::function<void(const QUrl&)> openUrl;
        std::function<void(const QString&)> reveal;
        std::function<void()> terminate;
    };

    // The running application's: this build's version, links and install folder, the desktop's
    // opener and file manager, and quitting the application.
    static Environment standardEnvironment(UserDefaults* defaults);

    UpdateController(const QString& supportDir, UpdateConfig config, Environment environment,
                     QObject* parent = nullptr);
    ~UpdateController() override;

    // The running system's version: the C library's, and its text as the window shows it
    // (major.minor, and .patch only when not 0).
    static SystemVersion runningSystem();
    static QString systemVersionText(const SystemVersion& version);

    const std::optional<Phase>& phase() const { return phase_; }
    bool usesWebsite() const { return !config_.isConfigured(); }
    // False for a build given neither an update feed nor a website: a check could do nothing.
    bool hasUpdateSource() const { return config_.isConfigured() || env_.website.has_value(); }
    // The same for the running build, without making a controller.
    static bool buildHasUpdateSource();
    QList<UpdateFeed::Release> releaseNotes() const;
    std::optional<QUrl> changelogLink() const;
    const Environment& environment() const { return env_; }
    bool isWorking() const { return work_ != Work::none; }

    void checkNow();
    void checkIfDue(bool enabled);
    void check(bool manual);
    void install();
    void skipThisVersion();
    void dismiss();
    void openLink();

    UpdateInstaller& installer() { return installer_; }
    UpdateWindow* window() const;

    static inline const QString lastCheckKey = QStringLiteral("updateLastCheck");
    static inline const QString skippedBuildKey = QStringLiteral("updateSkippedBuild");

signals:
    void phaseChanged();

private:
    enum class Work { none, checking, installing };

    void show(Phase phase);
    void finishCheck(const UpdateFeed& feed, bool manual);
    void failCheck(const UpdateInstaller::Failure& failure, bool manual);
    void failInstall(const UpdateInstaller::Failure& failure);
    // Shows why the install script, which started this copy again, failed; nothing when it didn't.
    void showFailedInstall();
    void download(const UpdateFeed& feed, quint64 generation);
    void prepared(const UpdateInstaller::Result<QString>& result);
    std::optional<std::int64_t> skippedBuild() const;

    UpdateConfig config_;
    UpdateInstaller installer_;
    Environment env_;
    std::optional<Phase> phase_;
    Work work_ = Work::none;
    // Tells a finished task whether it is still the current one: dismissal moves it on, so the
    // outcome of a task the user dismissed is dropped.
    quint64 generation_ = 0;
    UpdateInstaller::Handle transfer_;
    // A preparation keeps running after a dismissal; a new one must not share its staging folder.
    bool preparing_ = false;
    QPointer<UpdateWindow> window_;
};

} // namespace ostrel
