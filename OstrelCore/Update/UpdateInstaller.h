#pragma once

#include "OstrelCore/Update/ReleaseIdentity.h"
#include "OstrelCore/Update/UpdateFeed.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <optional>
#include <variant>

#include <sys/types.h>

class QNetworkReply;

namespace ostrel {

class UpdateTransfer;

// Fetches and checks the feed and the release archive, unpacks the archive into a private staging
// folder, accepts the new install folder only when it is signed by the running copy's signer and
// is the build the feed announced, and hands the swap to the install script.
class UpdateInstaller {
public:
    // How much the network may send and for how long. Every limit is a guard against a hostile
    // or broken server: an endless body, a trickle that never trips the silence timeout, a
    // redirect to plain http.
    struct Limits {
        qint64 feedBytes = 1 << 20;
        qint64 archiveBytes = qint64(256) << 20;
        // Overall deadlines, in milliseconds, and the time a transfer may stay silent.
        int feedDeadlineMs = 60 * 1000;
        int archiveDeadlineMs = 30 * 60 * 1000;
        int silenceMs = 20 * 1000;
        int maxRedirects = 5;
        // What an archive may unpack to, in bytes and in entries: a small archive can expand to
        // fill the disk.
        qint64 unpackBytes = qint64(1) << 30;
        qint64 unpackEntries = 10000;
        // Which address a redirect may lead to; by default https only.
        std::function<bool(const QUrl&)> acceptRedirect;
    };

    struct Failure {
        enum class Kind {
            network,
            notWritable,
            badFeed,
            verification,
            unpack,
            notSigned,
            differentTeam,
            // Found before anything is downloaded: no update can ever replace the running copy.
            developmentCopy,
            notOwnFolder,
            readOnlyFolder,
            trashElsewhere,
            noUnpacker
        };
        Kind kind = Kind::badFeed;
        // The network failure's text, or the verified copy's location for notWritable.
        QString detail;

        static Failure network(const QString& text) { return {Kind::network, text}; }
        static Failure of(Kind kind) { return {kind, {}}; }
        QString message() const;
        friend bool operator==(const Failure&, const Failure&) = default;
    };

    // The three network texts.
    static QString unreachableText();
    static QString unavailableText();
    static QString unfinishedText();

    template <typename T> using Result = std::variant<T, Failure>;

    UpdateInstaller(QString workDir, bool allowInsecureLocal);

    QString workDir;
    bool allowInsecureLocal = false;
    // The running copy: its install folder (whose signer the candidate must share) and its build.
    QString runningFolder;
    std::int64_t runningBuild = 0;
    QString userAgent;
    Limits limits;
    QString unpacker = QStringLiteral("/usr/bin/bsdtar");

    // An install folder found to hold exactly its signed copy, and which folder stood at its path
    // then: the install script moves that folder or none.
    struct CheckedFolder {
        QString path;
        dev_t device = 0;
        ino_t inode = 0;
    };

    // The request in flight; aborting it ends in the transfer-failure outcome.
    using Handle = QPointer<UpdateTransfer>;

    Handle fetchFeed(const QUrl& url, std::function<void(Result<UpdateFeed>)> done) const;
    Handle download(const UpdateFeed& feed, std::function<void(Result<QByteArray>)> done) const;

    // Blocking: verify, unpack, check the new copy. Returns the new install folder.
    Result<QString> prepare(const QByteArray& zip, const UpdateFeed& feed,
                            const QByteArray& publicKey) const;

    // Checks that `target` may be replaced (checkFolder(); what the user could remedy by moving
    // the verified copy in by hand is notWritable), reserves the trash name, writes and starts the
    // install script, which inherits standard error when that outlives the application. Nothing
    // when the script is running and the application must quit.
    std::optional<Failure> install(const QString& newCopy, const QString& target, qint64 pid) const;

    // Whether an update may replace `folder`: a real folder (the path resolved) that holds exactly
    // what its signed manifest lists, neither "/" nor the home folder, holding neither the trash
    // nor the work folder, that the user owns and may move, beside a trash on the same disk.
    // Blocking: it reads the whole folder, and stops at the first thing the manifest doesn't list.
    Result<CheckedFolder> checkFolder(const QString& folder) const;
    // Why no update can ever replace the running copy, asked before anything is downloaded: a copy
    // without a signer, no unpacking tool, then checkFolder() of `runningFolder`. Nothing when an
    // update may go ahead.
    std::optional<Failure> refusal() const;

    static BundleIdentity codeIdentity(const QString& folder, bool checkValidity);
    static QString makeUserAgent(const QString& appVersion, const QString& systemVersion);
    // The install folder of the running binary (the folder above bin/).
    static QString runningInstallFolder();
    // Whether an archive's listing ("bsdtar -t") keeps every entry inside the staging folder and
    // off the archive's own name there.
    static bool listingIsSafe(const QByteArray& listing);

    QString stagingFolder(std::int64_t build) const;
    QString scriptPath() const;
    // Where the install script leaves why it failed, for the old copy it starts again.
    QString failureNotePath() const;
};

// One bounded GET: a body cap checked against Content-Length and while reading, an overall
// deadline, a silence timeout and a redirect policy.
class UpdateTransfer : public QObject {
    Q_OBJECT
public:
    enum class End { ok, transport, httpStatus, tooLarge };

    struct Outcome {
        End end = End::transport;
        int status = 0;
        QByteArray body;
        // Why it failed, for the log.
        QString cause;
    };

    UpdateTransfer(const QUrl& url, qint64 cap, int deadlineMs,
                   const UpdateInstaller::Limits& limits, const QString& userAgent,
                   std::function<void(Outcome)> done);
    ~UpdateTransfer() override;

    void abort();

private:
    void finish(End end, const QString& cause = {});

    QNetworkReply* reply_ = nullptr;
    qint64 cap_ = 0;
    QByteArray body_;
    std::function<void(Outcome)> done_;
    bool finished_ = false;
};

} // namespace ostrel
