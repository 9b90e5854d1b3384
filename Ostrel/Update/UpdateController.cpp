#include "Ostrel/Update/UpdateController.h"

#include "Ostrel/Model/Feedback.h"
#include "Ostrel/Model/InfoLink.h"
#include "Ostrel/Update/UpdateWindow.h"
#include "OstrelCore/Update/UpdateSchedule.h"
#include "Platform/AtomicFile.h"
#include "Platform/Desktop.h"
#include "Platform/LibcVersion.h"
#include "Platform/Log.h"
#include "Platform/OpenSsl.h"
#include "Platform/UserDefaults.h"

#include <QCoreApplication>
#include <QFile>
#include <QThread>
#include <QTimer>

#include <cerrno>
#include <cmath>
#include <memory>
#include <mutex>

#include <unistd.h>

namespace ostrel {

namespace {

const QString checkFailedTitle = QStringLiteral("Ostrel couldn't check for updates");
const QString installFailedTitle = QStringLiteral("Ostrel couldn't install the update");

// Runs `work` on a thread of its own and hands its result to `then` on `context`'s thread; nothing
// when `context` is gone by then.
template <typename Work, typename Then> void runAside(QObject* context, Work work, Then then) {
    using Result = decltype(work());
    // The result crosses threads under a lock of its own: what Qt's finished signal orders is
    // not visible to the race checker.
    struct Outcome {
        std::mutex lock;
        std::optional<Result> value;
    };
    auto outcome = std::make_shared<Outcome>();
    QThread* worker = QThread::create([outcome, work = std::move(work)] {
        Result result = work();
        OpenSsl::releaseThread();
        const std::lock_guard hold(outcome->lock);
        outcome->value = std::move(result);
    });
    QObject::connect(worker, &QThread::finished, context,
                     [worker, outcome, then = std::move(then)] {
                         worker->deleteLater();
                         std::unique_lock hold(outcome->lock);
                         Result result = std::move(*outcome->value);
                         hold.unlock();
                         then(std::move(result));
                     });
    // The work never outlives its context unseen: one going away waits for it and ends it.
    QObject::connect(context, &QObject::destroyed, worker, [worker] {
        worker->wait();
        delete worker;
    });
    worker->start();
}

// What the install script left of why it failed. Its own sentences, yet read as any file: one
// line of printable UTF-8 of bounded length, or the generic text.
QString failedInstallReason(const std::variant<QByteArray, Error>& read) {
    const QString generic = QStringLiteral("The update wasn't installed.");
    const auto* note = std::get_if<QByteArray>(&read);
    if (!note) {
        return generic;
    }
    QByteArrayView line(*note);
    if (line.endsWith('\n')) {
        line.chop(1);
    }
    if (line.isEmpty() || !line.isValidUtf8()) {
        return generic;
    }
    QString reason = QString::fromUtf8(line);
    for (const char32_t c : reason.toUcs4()) {
        const QChar::Category category = QChar::category(c);
        if (!QChar::isPrint(c) || category == QChar::Separator_Line ||
            category == QChar::Separator_Paragraph) {
            return generic;
        }
    }
    reason[0] = reason[0].toUpper();
    return reason.endsWith(u'.') ? reason : reason + u'.';
}

} // namespace

UpdateController::UpdateController(const QString& supportDir, UpdateConfig config,
                                   Environment environment, QObject* parent)
    : QObject(parent), config_(std::move(config)),
      installer_(supportDir + QStringLiteral("/Updates"), config_.allowInsecureLocal),
      env_(std::move(environment)) {
    installer_.runningFolder = env_.runningFolder;
    installer_.runningBuild = env_.runningBuild;
    installer_.userAgent =
        UpdateInstaller::makeUserAgent(env_.appVersion, systemVersionText(env_.system));
    showFailedInstall();
}

UpdateController::~UpdateController() {
    ++generation_;
    if (transfer_) {
        transfer_->abort();
    }
    delete window_.data();
}

UpdateController::Environment UpdateController::standardEnvironment(UserDefaults* defaults) {
    Environment env;
    env.defaults = defaults;
    env.runningBuild = Feedback::buildNumber();
    env.appVersion = Feedback::appVersion();
    env.system = runningSystem();
    env.runningFolder = UpdateInstaller::runningInstallFolder();
    env.website = InfoLinks::url(InfoLink::website);
    env.changelog = InfoLinks::url(InfoLink::changelog);
    const std::shared_ptr<Desktop> desktop = Desktop::system();
    env.openUrl = [desktop](const QUrl& url) { desktop->open(url); };
    env.reveal = [desktop](const QString& path) { desktop->reveal(path); };
    // Queued, so that the controller finishes its step before the event loop ends.
    env.terminate = [] { QTimer::singleShot(0, qApp, &QCoreApplication::quit); };
    return env;
}

bool UpdateController::buildHasUpdateSource() {
    return UpdateConfig::current().isConfigured() || InfoLinks::url(InfoLink::website).has_value();
}

SystemVersion UpdateController::runningSystem() {
    const auto parts = UpdateFeed::versionComponents(libcVersion());
    return parts ? SystemVersion{(*parts)[0], (*parts)[1], (*parts)[2]} : SystemVersion{};
}

QString UpdateController::systemVersionText(const SystemVersion& v) {
    QString text = QStringLiteral("%1.%2").arg(v.major).arg(v.minor);
    if (v.patch != 0) {
        text += QStringLiteral(".%1").arg(v.patch);
    }
    return text;
}

UpdateWindow* UpdateController::window() const {
    return window_.data();
}

QList<UpdateFeed::Release> UpdateController::releaseNotes() const {
    if (phase_ && phase_->kind == Phase::Kind::available) {
        return phase_->feed.notes(env_.runningBuild);
    }
    return {};
}

std::optional<QUrl> UpdateController::changelogLink() const {
    if (phase_ && phase_->kind == Phase::Kind::available && phase_->feed.changelogURL) {
        return phase_->feed.changelogURL;
    }
    return env_.changelog;
}

void UpdateController::show(Phase phase) {
    phase_ = std::move(phase);
    emit phaseChanged();
    if (!window_) {
        window_ = new UpdateWindow(this);
    }
    window_->present();
}

void UpdateController::checkNow() {
    if (config_.isConfigured()) {
        check(true);
        return;
    }
    if (env_.website && env_.openUrl) {
        env_.openUrl(*env_.website);
    }
}

void UpdateController::checkIfDue(bool enabled) {
    if (isWorking() || !env_.defaults) {
        return;
    }
    std::optional<Date> last;
    const QJsonValue stored = env_.defaults->value(lastCheckKey);
    if (stored.isDouble() && std::isfinite(stored.toDouble())) {
        last = Date(stored.toDouble());
    }
    if (UpdateSchedule::isDue(last, env_.now(), enabled, config_.isConfigured())) {
        check(false);
    }
}

void UpdateController::check(bool manual) {
    if (!config_.isConfigured() || isWorking()) {
        return;
    }
    if (manual) {
        show(Phase::of(Phase::Kind::checking));
    }
    work_ = Work::checking;
    const quint64 generation = generation_;
    QPointer<UpdateController> self(this);
    transfer_ = installer_.fetchFeed(
        *config_.feedURL, [self, generation, manual](UpdateInstaller::Result<UpdateFeed> result) {
            if (!self || self->generation_ != generation) {
                return;
            }
            self->work_ = Work::none;
            if (const auto* feed = std::get_if<UpdateFeed>(&result)) {
                self->finishCheck(*feed, manual);
            } else {
                self->failCheck(std::get<UpdateInstaller::Failure>(result), manual);
            }
        });
}

std::optional<std::int64_t> UpdateController::skippedBuild() const {
    if (!env_.defaults) {
        return std::nullopt;
    }
    const QJsonValue v = env_.defaults->value(skippedBuildKey);
    if (!v.isDouble() || std::floor(v.toDouble()) != v.toDouble() ||
        std::abs(v.toDouble()) > 9.0e15) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(v.toDouble());
}

void UpdateController::finishCheck(const UpdateFeed& feed, bool manual) {
    if (env_.defaults) {
        env_.defaults->set(lastCheckKey, env_.now().seconds);
    }
    using Offer = UpdateFeed::Offer;
    switch (feed.offer(env_.runningBuild, env_.system, skippedBuild(), manual)) {
    case Offer::upToDate:
        if (manual) {
            show(Phase::of(Phase::Kind::upToDate));
        }
        break;
    case Offer::available:
        show(Phase{Phase::Kind::available, feed, {}, {}});
        break;
    case Offer::needsNewerSystem:
        if (manual) {
            show(Phase{Phase::Kind::needsNewerSystem, feed, {}, {}});
        }
        break;
    case Offer::skipped:
        break;
    }
}

void UpdateController::failCheck(const UpdateInstaller::Failure& failure, bool manual) {
    qCWarning(lcUpdate).noquote() << checkFailedTitle + u':' << failure.message();
    if (manual) {
        show(Phase{Phase::Kind::failed, {}, checkFailedTitle, failure.message()});
    }
}

void UpdateController::failInstall(const UpdateInstaller::Failure& failure) {
    qCWarning(lcUpdate).noquote() << installFailedTitle + u':' << failure.message();
    work_ = Work::none;
    if (failure.kind == UpdateInstaller::Failure::Kind::notWritable && env_.reveal) {
        env_.reveal(failure.detail);
    }
    show(Phase{Phase::Kind::failed, {}, installFailedTitle, failure.message()});
}

void UpdateController::showFailedInstall() {
    const QString path = installer_.failureNotePath();
    const auto read = AtomicFile::readRegular(path, 2048);
    if (const auto* error = std::get_if<Error>(&read);
        error && (error->code == ENOENT || error->code == ENOTDIR)) {
        return;
    }
    // Told once: the next launch is not the one the script started.
    ::unlink(QFile::encodeName(path).constData());
    show(Phase{Phase::Kind::failed, {}, installFailedTitle, failedInstallReason(read)});
}

void UpdateController::install() {
    if (!phase_ || phase_->kind != Phase::Kind::available || !config_.publicKey || isWorking() ||
        preparing_) {
        return;
    }
    const UpdateFeed feed = phase_->feed;
    show(Phase::of(Phase::Kind::downloading));
    work_ = Work::installing;
    const quint64 generation = generation_;
    QPointer<UpdateController> self(this);
    // Whether this copy can take any update at all is known before anything is downloaded; the
    // check reads the whole install folder, so not on this thread.
    runAside(
        this, [installer = installer_] { return installer.refusal(); },
        [self, generation, feed](std::optional<UpdateInstaller::Failure> refusal) {
            if (self->generation_ != generation) {
                return;
            }
            if (refusal) {
                self->failInstall(*refusal);
            } else {
                self->download(feed, generation);
            }
        });
}

void UpdateController::download(const UpdateFeed& feed, quint64 generation) {
    QPointer<UpdateController> self(this);
    transfer_ = installer_.download(
        feed, [self, generation, feed](UpdateInstaller::Result<QByteArray> result) {
            if (!self || self->generation_ != generation) {
                return;
            }
            if (const auto* failure = std::get_if<UpdateInstaller::Failure>(&result)) {
                self->failInstall(*failure);
                return;
            }
            self->show(Phase::of(Phase::Kind::installing));
            // Hashing, unpacking and the signature walk block: they run on a thread of their own.
            self->preparing_ = true;
            runAside(
                self,
                [installer = self->installer_, publicKey = *self->config_.publicKey, feed,
                 zip = std::get<QByteArray>(std::move(result))] {
                    return installer.prepare(zip, feed, publicKey);
                },
                [self, generation](UpdateInstaller::Result<QString> outcome) {
                    self->preparing_ = false;
                    if (self->generation_ == generation) {
                        self->prepared(outcome);
                    }
                });
        });
}

void UpdateController::prepared(const UpdateInstaller::Result<QString>& result) {
    if (const auto* failure = std::get_if<UpdateInstaller::Failure>(&result)) {
        failInstall(*failure);
        return;
    }
    if (const auto failure = installer_.install(std::get<QString>(result), env_.runningFolder,
                                                QCoreApplication::applicationPid())) {
        failInstall(*failure);
        return;
    }
    work_ = Work::none;
    if (env_.terminate) {
        env_.terminate();
    }
}

void UpdateController::skipThisVersion() {
    if (phase_ && phase_->kind == Phase::Kind::available && env_.defaults) {
        env_.defaults->set(skippedBuildKey, static_cast<double>(phase_->feed.build));
    }
    dismiss();
}

void UpdateController::dismiss() {
    ++generation_;
    if (transfer_) {
        transfer_->abort();
        transfer_.clear();
    }
    work_ = Work::none;
    if (window_) {
        UpdateWindow* window = window_;
        window_.clear();
        window->closeQuietly();
        window->deleteLater();
    }
    phase_.reset();
    emit phaseChanged();
}

void UpdateController::openLink() {
    if (const auto link = changelogLink(); link && env_.openUrl) {
        env_.openUrl(*link);
    }
}

} // namespace ostrel
