#include "Ostrel/Shell/SingleInstance.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QLocalSocket>
#include <QPointer>
#include <QStandardPaths>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

namespace {

const QByteArray reopenMessage = "reopen\n";

// The lock and socket names are predictable: a folder others may write to would let them
// squat the names or answer in our place.
bool userOnly(const QString& folder) {
    struct stat st {};
    return ::stat(QFile::encodeName(folder).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

} // namespace

SingleInstance::SingleInstance(QString folder, QString display, QObject* parent)
    : QObject(parent), folder_(std::move(folder)), display_(std::move(display)) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_.nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
                if (!socket->canReadLine()) {
                    return;
                }
                const QByteArray line = socket->readLine(64);
                socket->write("ok\n");
                socket->flush();
                socket->disconnectFromServer();
                if (line == reopenMessage && onReopen) {
                    onReopen();
                }
            });
        }
    });
}

SingleInstance::~SingleInstance() {
    server_.close();
}

QString SingleInstance::standardFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFile::exists(runtime)) {
        return runtime;
    }
    // Qt makes a private folder of the user's when the session gave none.
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString SingleInstance::displayKey(const QString& display) {
    const qsizetype colon = display.lastIndexOf(u':');
    if (colon < 0) {
        return {};
    }
    QString host = display.left(colon);
    QString number = display.mid(colon + 1).section(u'.', 0, 0);
    if (host == QLatin1String("unix")) {
        host.clear();
    }
    QString key = host.isEmpty() ? number : host + u'-' + number;
    // Only what is safe in a file name.
    for (QChar& c : key) {
        if (!c.isLetterOrNumber() && c != u'-' && c != u'.' && c != u'_') {
            c = u'_';
        }
    }
    return key;
}

QString SingleInstance::path(const char* suffix) const {
    const QString base = display_.isEmpty() ? QStringLiteral("/ostrel")
                                            : QStringLiteral("/ostrel-display-") + display_;
    return folder_ + base + QLatin1String(suffix);
}

SingleInstance::Role SingleInstance::claim() {
    if (folder_.isEmpty() || !userOnly(folder_)) {
        // Better two shelves than none: run, unguarded, and say why.
        error_ = QStringLiteral("the runtime folder %1 is not the user's alone").arg(folder_);
        return Role::first;
    }
    lock_ = std::make_unique<QLockFile>(path(".lock"));
    // Held for the life of the process; a lock left by a process that died is taken over.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0)) {
        return listen() ? Role::first : Role::failed;
    }
    lock_.reset();
    return tell() ? Role::second : Role::failed;
}

bool SingleInstance::listen() {
    const QString name = path(".socket");
    // Only a process that died can have left a socket behind: we hold the lock.
    QLocalServer::removeServer(name);
    if (!server_.listen(name)) {
        error_ = server_.errorString();
        return false;
    }
    return true;
}

bool SingleInstance::tell() {
    // The lock's holder may have started a moment ago and not listen yet: keep trying briefly.
    const QString name = path(".socket");
    QDeadlineTimer deadline(5000);
    while (true) {
        QLocalSocket socket;
        socket.connectToServer(name);
        if (socket.waitForConnected(1000)) {
            socket.write(reopenMessage);
            socket.flush();
            // The answer comes once the running one has taken the request.
            if (socket.canReadLine() || socket.waitForReadyRead(3000)) {
                return true;
            }
            error_ = QStringLiteral("the running Ostrel did not answer");
            return false;
        }
        if (deadline.hasExpired()) {
            error_ = QStringLiteral("the running Ostrel cannot be reached: %1")
                         .arg(socket.errorString());
            return false;
        }
        QThread::msleep(100);
    }
}

} // namespace ostrel
