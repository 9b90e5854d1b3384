#include "OstrelCore/Update/UpdateInstaller.h"

#include "OstrelCore/Records/OwnFolder.h"
#include "OstrelCore/Update/InstallScript.h"
#include "OstrelCore/Update/PrivateFolder.h"
#include "Platform/AtomicFile.h"
#include "Platform/CodeSignature.h"
#include "Platform/Log.h"
#include "Platform/Trash.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QProcess>
#include <QScopeGuard>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

namespace {

// Keeps no cookie at all: the update session carries nothing from one request to the next.
class ForgetfulCookieJar : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    bool setCookiesFromUrl(const QList<QNetworkCookie>&, const QUrl&) override { return false; }
    QList<QNetworkCookie> cookiesForUrl(const QUrl&) const override { return {}; }
};

// One network session per thread that asks (in practice the main thread).
QNetworkAccessManager* session() {
    thread_local QNetworkAccessManager* manager = [] {
        auto* m = new QNetworkAccessManager();
        m->setCookieJar(new ForgetfulCookieJar(m));
        m->setCache(nullptr);
        QObject::connect(QThread::currentThread(), &QThread::finished, m, &QObject::deleteLater);
        return m;
    }();
    return manager;
}

constexpr char archiveName[] = "Ostrel.zip";
constexpr char infoPath[] = "share/ostrel/Info.json";
constexpr char buildKey[] = "CFBundleVersion";
constexpr int toolTimeoutMs = 10 * 60 * 1000;

QByteArray native(const QString& path) {
    return QFile::encodeName(path);
}

// True when `relative` below `folder` is a regular file reached through real folders only.
bool isRealFileInside(const QString& folder, const QString& relative) {
    QString path = folder;
    const QStringList parts = relative.split(u'/');
    for (qsizetype i = 0; i < parts.size(); ++i) {
        path += u'/' + parts[i];
        struct stat st {};
        if (::lstat(native(path).constData(), &st) != 0) {
            return false;
        }
        if (i + 1 < parts.size() ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) {
            return false;
        }
    }
    return true;
}

// The build a copy declares in its Info.json: a whole number, written as text or as a number.
std::optional<std::int64_t> declaredBuild(const QString& folder) {
    if (!isRealFileInside(folder, QLatin1String(infoPath))) {
        return std::nullopt;
    }
    QFile file(folder + u'/' + QLatin1String(infoPath));
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QJsonDocument doc = QJsonDocument::fromJson(file.read(1 << 20));
    const QJsonValue value = doc.object().value(QLatin1String(buildKey));
    if (value.isString()) {
        bool ok = false;
        const qint64 n = value.toString().toLongLong(&ok);
        return ok ? std::optional<std::int64_t>(n) : std::nullopt;
    }
    if (value.isDouble() && value.toDouble() == std::floor(value.toDouble())) {
        return static_cast<std::int64_t>(value.toDouble());
    }
    return std::nullopt;
}

struct ToolRun {
    int status = -1;
    QByteArray output;
};

ToolRun runTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted()) {
        return {};
    }
    if (!process.waitForFinished(toolTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    ToolRun run;
    run.output = process.readAllStandardOutput();
    run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return run;
}

// The listed sizes of an archive's entries ("bsdtar -tv": mode, links, owner, group, size, ...)
// added up, and their number; none when a line does not read.
std::optional<std::pair<qint64, qint64>> listedTotals(const QByteArray& verbose) {
    qint64 bytes = 0;
    qint64 entries = 0;
    for (const QByteArray& line : verbose.split('\n')) {
        if (line.isEmpty()) {
            continue;
        }
        const QList<QByteArray> fields = line.simplified().split(' ');
        bool ok = false;
        const qint64 size = fields.size() > 4 ? fields.at(4).toLongLong(&ok) : -1;
        if (!ok || size < 0 || size > std::numeric_limits<qint64>::max() - bytes) {
            return std::nullopt;
        }
        bytes += size;
        ++entries;
    }
    return std::pair{bytes, entries};
}

// What lies below `folder` (links not followed, `skip` left out): bytes of its files and the
// number of entries, counted until either passes its bound.
std::pair<qint64, qint64> unpacked(const QString& folder, const QString& skip, qint64 maxBytes,
                                   qint64 maxEntries) {
    qint64 bytes = 0;
    qint64 entries = 0;
    QStringList todo{folder};
    while (!todo.isEmpty() && bytes <= maxBytes && entries <= maxEntries) {
        const QString dirPath = todo.takeLast();
        DIR* dir = ::opendir(native(dirPath).constData());
        if (dir == nullptr) {
            continue;
        }
        while (const dirent* e = ::readdir(dir)) {
            const char* name = e->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
                continue;
            }
            const QString path = dirPath + u'/' + QFile::decodeName(name);
            if (path == skip) {
                continue;
            }
            ++entries;
            struct stat st {};
            if (::fstatat(::dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
                continue;
            }
            if (S_ISDIR(st.st_mode)) {
                todo.append(path);
            } else {
                bytes += std::max<qint64>(st.st_size, qint64(st.st_blocks) * 512);
            }
        }
        ::closedir(dir);
    }
    return {bytes, entries};
}

// Unpacks the archive into the staging folder, stopping bsdtar as soon as what it wrote passes
// the limits (and no single file may pass the byte limit at all). False on any failure.
bool unpackWithin(const QString& unpacker, const QString& archive, const QString& staging,
                  qint64 maxBytes, qint64 maxEntries) {
    QProcess process;
    process.setProgram(unpacker);
    // Without -P bsdtar also refuses to write through a link it unpacked earlier.
    process.setArguments({u"-x"_qs, u"-f"_qs, archive, u"-C"_qs, staging, u"--no-same-owner"_qs,
                          u"--no-same-permissions"_qs, u"--no-acls"_qs, u"--no-xattrs"_qs,
                          u"--no-fflags"_qs});
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setChildProcessModifier([maxBytes] {
        const rlimit fileSize{static_cast<rlim_t>(maxBytes), static_cast<rlim_t>(maxBytes)};
        ::setrlimit(RLIMIT_FSIZE, &fileSize);
        const rlimit core{0, 0};
        ::setrlimit(RLIMIT_CORE, &core);
    });
    process.start();
    if (!process.waitForStarted()) {
        return false;
    }
    const auto withinBounds = [&] {
        const auto [bytes, entries] = unpacked(staging, archive, maxBytes, maxEntries);
        return bytes <= maxBytes && entries <= maxEntries;
    };
    QElapsedTimer elapsed;
    elapsed.start();
    while (!process.waitForFinished(50)) {
        if (!withinBounds() || elapsed.elapsed() > toolTimeoutMs) {
            process.kill();
            process.waitForFinished();
            return false;
        }
    }
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 &&
           withinBounds();
}

// The path with every link resolved, also when its end does not exist yet: the part that exists,
// resolved, and the rest as written.
QString resolved(const QString& path) {
    QString existing = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QString rest;
    while (!QFileInfo::exists(existing) && existing != u"/") {
        rest = u'/' + QFileInfo(existing).fileName() + rest;
        existing = QFileInfo(existing).path();
    }
    const QString canonical = QFileInfo(existing).canonicalFilePath();
    return canonical.isEmpty() ? QString() : QDir::cleanPath(canonical + rest);
}

bool isWithin(const QString& path, const QString& folder) {
    const QString p = resolved(path);
    return p.isEmpty() || p == folder || p.startsWith(folder + u'/');
}

// The device of the nearest folder on the way to `path` that exists.
std::optional<dev_t> deviceOf(const QString& path) {
    for (QString at = resolved(path); !at.isEmpty(); at = QFileInfo(at).path()) {
        struct stat st {};
        if (::stat(native(at).constData(), &st) == 0) {
            return st.st_dev;
        }
        if (at == u"/") {
            break;
        }
    }
    return std::nullopt;
}

// Whether what another process reads from our standard error outlives us: a file, a terminal, a
// socket (the journal). A pipe's reader may end with us, and a copy writing into a pipe nobody
// reads is killed by SIGPIPE, so a pipe is not passed on.
bool standardErrorOutlives() {
    struct stat st {};
    return ::fstat(STDERR_FILENO, &st) == 0 &&
           (S_ISREG(st.st_mode) || S_ISCHR(st.st_mode) || S_ISSOCK(st.st_mode));
}

const QString ownFolderHint =
    QStringLiteral(" Install Ostrel in a folder of its own, such as ~/.local/opt/ostrel "
                   "(scripts/install does this).");

} // namespace

QString UpdateInstaller::unreachableText() {
    return QStringLiteral(
        "Ostrel couldn't reach the update server. Check your connection and try again.");
}

QString UpdateInstaller::unavailableText() {
    return QStringLiteral("The download isn't available right now. Try again later.");
}

QString UpdateInstaller::unfinishedText() {
    return QStringLiteral("The download didn't finish. Check your connection and try again.");
}

QString UpdateInstaller::Failure::message() const {
    switch (kind) {
    case Kind::network:
        return detail;
    case Kind::notWritable:
        return QStringLiteral("Ostrel's folder isn't writable. The verified download is in Files; "
                              "drag it in to update.");
    case Kind::badFeed:
        return QStringLiteral("The update information couldn't be read. Try again later.");
    case Kind::verification:
        return QStringLiteral("The download didn't match its signature and wasn't installed.");
    case Kind::unpack:
        return QStringLiteral("The download couldn't be unpacked.");
    case Kind::notSigned:
        return QStringLiteral(
            "The downloaded copy of Ostrel isn't properly signed and wasn't installed.");
    case Kind::differentTeam:
        return QStringLiteral(
            "The downloaded copy of Ostrel is signed by someone else and wasn't installed.");
    case Kind::developmentCopy:
        return QStringLiteral("This copy of Ostrel isn't a signed release, so it can't update "
                              "itself.");
    case Kind::notOwnFolder:
        return QStringLiteral("Ostrel's folder holds other files or has changed since it was "
                              "installed, so an update can't replace it.") +
               ownFolderHint;
    case Kind::readOnlyFolder:
        return QStringLiteral("Ostrel's folder isn't writable, so an update can't replace it.") +
               ownFolderHint;
    case Kind::trashElsewhere:
        return QStringLiteral("Ostrel's folder is on another disk than the Trash, so an update "
                              "can't set the old copy aside.") +
               ownFolderHint;
    case Kind::noUnpacker:
        return QStringLiteral("Updates are unpacked with bsdtar, which isn't installed. Install "
                              "the libarchive-tools package and try again.");
    }
    return {};
}

UpdateInstaller::UpdateInstaller(QString workDir_, bool allowInsecureLocal_)
    : workDir(std::move(workDir_)), allowInsecureLocal(allowInsecureLocal_) {
    limits.acceptRedirect = [](const QUrl& url) {
        return url.scheme() == u"https" && !url.host().isEmpty();
    };
}

QString UpdateInstaller::makeUserAgent(const QString& appVersion, const QString& systemVersion) {
    return QStringLiteral("Ostrel/%1 (Linux %2)")
        .arg(appVersion.isEmpty() ? QStringLiteral("?") : appVersion, systemVersion);
}

QString UpdateInstaller::runningInstallFolder() {
    return QFileInfo(QCoreApplication::applicationDirPath() + QStringLiteral("/.."))
        .canonicalFilePath();
}

bool UpdateInstaller::listingIsSafe(const QByteArray& listing) {
    for (const QByteArray& line : listing.split('\n')) {
        if (line.isEmpty()) {
            continue;
        }
        if (line.startsWith('/')) {
            return false;
        }
        QList<QByteArray> parts;
        for (const QByteArray& part : line.split('/')) {
            if (part == "..") {
                return false;
            }
            if (!part.isEmpty() && part != ".") {
                parts.append(part);
            }
        }
        if (!parts.isEmpty() && parts.first() == archiveName) {
            return false;
        }
    }
    return true;
}

QString UpdateInstaller::stagingFolder(std::int64_t build) const {
    return workDir + QStringLiteral("/staging-") + QString::number(build);
}

QString UpdateInstaller::scriptPath() const {
    return workDir + QStringLiteral("/install.sh");
}

QString UpdateInstaller::failureNotePath() const {
    return workDir + QStringLiteral("/install-failed.txt");
}

BundleIdentity UpdateInstaller::codeIdentity(const QString& folder, bool checkValidity) {
    const CodeSignature::Identity id = CodeSignature::identity(folder, checkValidity);
    return BundleIdentity{id.team, id.valid};
}

UpdateInstaller::Handle
UpdateInstaller::fetchFeed(const QUrl& url, std::function<void(Result<UpdateFeed>)> done) const {
    const bool insecure = allowInsecureLocal;
    return new UpdateTransfer(
        url, limits.feedBytes, limits.feedDeadlineMs, limits, userAgent,
        [done = std::move(done), insecure, url](UpdateTransfer::Outcome outcome) {
            if (outcome.end == UpdateTransfer::End::ok) {
                if (auto feed = UpdateFeed::parse(outcome.body, insecure)) {
                    done(*feed);
                    return;
                }
                outcome.cause = QStringLiteral("the answer isn't an update feed (a key is "
                                               "missing or malformed, or an address isn't https)");
            }
            qCWarning(lcUpdate).noquote() << "The check for updates at" << url.toDisplayString()
                                          << "failed:" << outcome.cause;
            done(outcome.end == UpdateTransfer::End::transport
                     ? Failure::network(unreachableText())
                     : Failure::of(Failure::Kind::badFeed));
        });
}

UpdateInstaller::Handle
UpdateInstaller::download(const UpdateFeed& feed,
                          std::function<void(Result<QByteArray>)> done) const {
    return new UpdateTransfer(
        feed.url, limits.archiveBytes, limits.archiveDeadlineMs, limits, userAgent,
        [done = std::move(done), url = feed.url](UpdateTransfer::Outcome outcome) {
            if (outcome.end != UpdateTransfer::End::ok) {
                qCWarning(lcUpdate).noquote()
                    << "The download of" << url.toDisplayString() << "failed:" << outcome.cause;
            }
            switch (outcome.end) {
            case UpdateTransfer::End::transport:
                done(Failure::network(unfinishedText()));
                return;
            case UpdateTransfer::End::httpStatus:
            case UpdateTransfer::End::tooLarge:
                done(Failure::network(unavailableText()));
                return;
            case UpdateTransfer::End::ok:
                done(std::move(outcome.body));
                return;
            }
        });
}

UpdateInstaller::Result<QString> UpdateInstaller::prepare(const QByteArray& zip,
                                                          const UpdateFeed& feed,
                                                          const QByteArray& publicKey) const {
    using Kind = Failure::Kind;
    if (!feed.verify(zip, publicKey)) {
        return Failure::of(Kind::verification);
    }
    const QString staging = stagingFolder(feed.build);
    // The work folder lies in the support folder: not in another one mounted over it.
    if (!OwnFolder::mayWriteInto(workDir) || !PrivateFolder::ensure(workDir) ||
        !PrivateFolder::makeFresh(staging)) {
        return Failure::of(Kind::unpack);
    }
    // From here on, a failure leaves nothing of the attempt behind.
    bool kept = false;
    const auto cleanUp = qScopeGuard([&] {
        if (!kept) {
            PrivateFolder::remove(staging);
        }
    });
    const QString archive = staging + u'/' + QLatin1String(archiveName);
    if (AtomicFile::write(archive, zip, 0600)) {
        return Failure::of(Kind::unpack);
    }
    const ToolRun listing = runTool(unpacker, {u"-t"_qs, u"-f"_qs, archive});
    if (listing.status != 0 || !listingIsSafe(listing.output)) {
        return Failure::of(Kind::unpack);
    }
    const ToolRun sizes = runTool(unpacker, {u"-t"_qs, u"-v"_qs, u"-f"_qs, archive});
    const auto totals = sizes.status == 0 ? listedTotals(sizes.output) : std::nullopt;
    if (!totals || totals->first > limits.unpackBytes || totals->second > limits.unpackEntries) {
        return Failure::of(Kind::unpack);
    }
    // The listing is what the archive says of itself; what is written is watched as well.
    if (!unpackWithin(unpacker, archive, staging, limits.unpackBytes, limits.unpackEntries)) {
        return Failure::of(Kind::unpack);
    }
    QFile::remove(archive);

    const QStringList entries = QDir(staging).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    QStringList copies;
    for (const QString& name : entries) {
        const QString path = staging + u'/' + name;
        struct stat st {};
        if (::lstat(native(path).constData(), &st) != 0 || S_ISLNK(st.st_mode)) {
            return Failure::of(Kind::unpack);
        }
        if (S_ISDIR(st.st_mode) && isRealFileInside(path, QLatin1String(infoPath))) {
            copies.append(path);
        }
    }
    if (copies.size() != 1) {
        return Failure::of(Kind::unpack);
    }
    const QString candidate = copies.first();

    const BundleIdentity running = codeIdentity(runningFolder, false);
    const BundleIdentity offered = codeIdentity(candidate, true);
    switch (ReleaseIdentity::verdict(running, offered)) {
    case ReleaseIdentity::Verdict::notSigned:
        return Failure::of(Kind::notSigned);
    case ReleaseIdentity::Verdict::differentTeam:
        return Failure::of(Kind::differentTeam);
    case ReleaseIdentity::Verdict::accept:
        break;
    }
    // The archive's signature says nothing about which build it holds: an old, validly signed
    // release served again must not roll the installation back.
    const auto build = declaredBuild(candidate);
    if (!build || *build != feed.build || *build <= runningBuild) {
        return Failure::of(Kind::verification);
    }
    kept = true;
    return candidate;
}

UpdateInstaller::Result<UpdateInstaller::CheckedFolder>
UpdateInstaller::checkFolder(const QString& folder) const {
    using Kind = Failure::Kind;
    const QString canonical = folder.isEmpty() ? QString() : QFileInfo(folder).canonicalFilePath();
    struct stat st {};
    if (canonical.isEmpty() || ::lstat(native(canonical).constData(), &st) != 0 ||
        !S_ISDIR(st.st_mode)) {
        return Failure::of(Kind::notOwnFolder);
    }
    const CodeSignature::Identity identity = CodeSignature::identity(canonical, true);
    if (!identity.team) {
        return Failure::of(Kind::developmentCopy);
    }
    // A folder the updater works or trashes in is not the copy's alone, even while nothing of
    // those lies there yet.
    if (!identity.valid || canonical == u"/" ||
        canonical == QFileInfo(QDir::homePath()).canonicalFilePath() ||
        isWithin(Trash::home(), canonical) || isWithin(workDir, canonical)) {
        return Failure::of(Kind::notOwnFolder);
    }
    // Moving a folder needs write access to it and to the folder it sits in.
    const QString parent = QFileInfo(canonical).path();
    struct stat parentStat {};
    if (::getuid() == 0 || st.st_uid != ::getuid() ||
        ::access(native(canonical).constData(), W_OK) != 0 ||
        ::lstat(native(parent).constData(), &parentStat) != 0 || !S_ISDIR(parentStat.st_mode) ||
        ::access(native(parent).constData(), W_OK) != 0) {
        return Failure::of(Kind::readOnlyFolder);
    }
    // A trash on another file system would turn the move into a slow copy that can fail midway.
    if (deviceOf(Trash::home() + QStringLiteral("/files")) != parentStat.st_dev) {
        return Failure::of(Kind::trashElsewhere);
    }
    // The folder read is the one named by what is handed on: none was put in its place meanwhile.
    struct stat after {};
    if (::lstat(native(canonical).constData(), &after) != 0 || after.st_dev != st.st_dev ||
        after.st_ino != st.st_ino) {
        return Failure::of(Kind::notOwnFolder);
    }
    return CheckedFolder{canonical, st.st_dev, st.st_ino};
}

std::optional<UpdateInstaller::Failure> UpdateInstaller::refusal() const {
    // What no change to the folder can mend is said first.
    if (!runningFolder.isEmpty() && !CodeSignature::identity(runningFolder, false).team) {
        return Failure::of(Failure::Kind::developmentCopy);
    }
    if (::access(native(unpacker).constData(), X_OK) != 0) {
        return Failure::of(Failure::Kind::noUnpacker);
    }
    const auto checked = checkFolder(runningFolder);
    if (const auto* failure = std::get_if<Failure>(&checked)) {
        return *failure;
    }
    return std::nullopt;
}

std::optional<UpdateInstaller::Failure>
UpdateInstaller::install(const QString& newCopy, const QString& target, qint64 pid) const {
    using Kind = Failure::Kind;
    const auto checked = checkFolder(target);
    if (const auto* failure = std::get_if<Failure>(&checked)) {
        if (failure->kind == Kind::readOnlyFolder || failure->kind == Kind::trashElsewhere) {
            return Failure{Kind::notWritable, newCopy};
        }
        return *failure;
    }
    const CheckedFolder& folder = std::get<CheckedFolder>(checked);
    const auto reservation = Trash::reserve(
        folder.path, QStringLiteral("Ostrel %1").arg(QDateTime::currentSecsSinceEpoch()));
    if (!reservation) {
        return Failure{Kind::notWritable, newCopy};
    }
    const QString work = QFileInfo(workDir).canonicalFilePath();
    const QString script = work + QStringLiteral("/install.sh");
    const QString copy = QFileInfo(newCopy).canonicalFilePath();
    if (work.isEmpty() || copy.isEmpty() || !OwnFolder::mayWriteInto(workDir) ||
        !PrivateFolder::ensure(work) || AtomicFile::write(script, InstallScript::text(), 0700)) {
        QFile::remove(reservation->infoPath);
        return Failure::of(Kind::unpack);
    }
    QProcess shell;
    shell.setProgram(QStringLiteral("/bin/sh"));
    shell.setArguments({script, QString::number(pid), copy, folder.path, reservation->filesPath,
                        QStringLiteral("%1:%2").arg(folder.device).arg(folder.inode)});
    shell.setStandardInputFile(QProcess::nullDevice());
    shell.setStandardOutputFile(QProcess::nullDevice());
    // The updated copy logs where this one did: the script and the copy it starts inherit it.
    if (!standardErrorOutlives()) {
        shell.setStandardErrorFile(QProcess::nullDevice());
    }
    if (!shell.startDetached()) {
        QFile::remove(reservation->infoPath);
        return Failure::of(Kind::unpack);
    }
    return std::nullopt;
}

UpdateTransfer::UpdateTransfer(const QUrl& url, qint64 cap, int deadlineMs,
                               const UpdateInstaller::Limits& limits, const QString& userAgent,
                               std::function<void(Outcome)> done)
    : cap_(cap), done_(std::move(done)) {
    QNetworkRequest request(url);
    request.setTransferTimeout(limits.silenceMs);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(limits.maxRedirects);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    if (!userAgent.isEmpty()) {
        request.setHeader(QNetworkRequest::UserAgentHeader, userAgent);
    }
    reply_ = session()->get(request);
    auto accept = limits.acceptRedirect;
    connect(reply_, &QNetworkReply::redirected, this, [this, accept](const QUrl& to) {
        if (accept && accept(to)) {
            emit reply_->redirectAllowed();
        } else {
            finish(End::transport, QStringLiteral("a redirect to %1 was refused (https only)")
                                       .arg(to.toDisplayString()));
        }
    });
    const QString tooLarge = QStringLiteral("the answer is larger than %1 bytes").arg(cap);
    connect(reply_, &QNetworkReply::metaDataChanged, this, [this, tooLarge] {
        const QVariant length = reply_->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > cap_) {
            finish(End::tooLarge, tooLarge);
        }
    });
    connect(reply_, &QNetworkReply::readyRead, this, [this, tooLarge] {
        body_ += reply_->read(cap_ + 1 - body_.size());
        if (body_.size() > cap_) {
            finish(End::tooLarge, tooLarge);
        }
    });
    connect(reply_, &QNetworkReply::finished, this, [this, tooLarge] {
        body_ += reply_->read(cap_ + 1 - body_.size());
        if (body_.size() > cap_) {
            finish(End::tooLarge, tooLarge);
            return;
        }
        const auto error = reply_->error();
        const int status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        // Content (4xx) and server (5xx) errors are answers; everything else failed in transit.
        const bool answered = error == QNetworkReply::NoError ||
                              (error >= QNetworkReply::ContentAccessDenied &&
                               error < QNetworkReply::ProtocolUnknownError) ||
                              error >= QNetworkReply::InternalServerError;
        if (!answered || status == 0) {
            finish(End::transport, reply_->errorString());
        } else if (status == 200 && error == QNetworkReply::NoError) {
            finish(End::ok);
        } else {
            finish(End::httpStatus, QStringLiteral("HTTP status %1").arg(status));
        }
    });
    auto* deadline = new QTimer(this);
    deadline->setSingleShot(true);
    connect(deadline, &QTimer::timeout, this, [this, deadlineMs] {
        finish(End::transport, QStringLiteral("no answer within %1 s").arg(deadlineMs / 1000.0));
    });
    deadline->start(deadlineMs);
}

UpdateTransfer::~UpdateTransfer() {
    if (reply_) {
        reply_->disconnect(this);
        reply_->abort();
        reply_->deleteLater();
    }
}

void UpdateTransfer::abort() {
    finish(End::transport, QStringLiteral("cancelled"));
}

void UpdateTransfer::finish(End end, const QString& cause) {
    if (finished_) {
        return;
    }
    finished_ = true;
    Outcome outcome;
    outcome.end = end;
    outcome.status = reply_->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    outcome.cause = cause;
    if (end == End::ok) {
        outcome.body = std::move(body_);
    }
    reply_->disconnect(this);
    reply_->abort();
    reply_->deleteLater();
    reply_ = nullptr;
    deleteLater();
    if (done_) {
        auto done = std::move(done_);
        done(std::move(outcome));
    }
}

} // namespace ostrel
