#include "Platform/SystemDesktop.h"

#include "Platform/FileStat.h"
#include "Platform/Log.h"

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>

#include <sys/stat.h>
#include <unistd.h>

namespace ostrel {

std::shared_ptr<Desktop> Desktop::system() {
    static const std::shared_ptr<Desktop> desktop = std::make_shared<SystemDesktop>();
    return desktop;
}

bool Desktop::isReadableFile(const QString& path) {
    const auto st = FileStat::lstat(path);
    return st && st->isRegular() && ::access(QFile::encodeName(path).constData(), R_OK) == 0;
}

bool Desktop::mayOpen(const QString& path) {
    const auto st = FileStat::stat(path);
    if (!st) {
        return true; // nothing there to run; the opener reports the missing file itself
    }
    if (st->isDirectory()) {
        return true;
    }
    if (st->mode & (S_IXUSR | S_IXGRP | S_IXOTH)) {
        return false;
    }
    if (path.endsWith(QStringLiteral(".desktop"), Qt::CaseInsensitive)) {
        return false;
    }
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    static const QStringList runnable{QStringLiteral("application/x-executable"),
                                      QStringLiteral("application/x-sharedlib"),
                                      QStringLiteral("application/x-shellscript"),
                                      QStringLiteral("application/x-desktop"),
                                      QStringLiteral("application/x-ms-dos-executable"),
                                      QStringLiteral("application/x-msi"),
                                      QStringLiteral("application/x-perl"),
                                      QStringLiteral("text/x-python"),
                                      QStringLiteral("text/x-python3"),
                                      QStringLiteral("application/x-ruby"),
                                      QStringLiteral("application/x-java-archive"),
                                      QStringLiteral("application/vnd.appimage"),
                                      QStringLiteral("application/x-csh"),
                                      QStringLiteral("application/x-executable-script")};
    for (const QString& name : runnable) {
        if (type.inherits(name)) {
            return false;
        }
    }
    return true;
}

namespace {

// Qt's own opener passes our whole environment on, so the desktop's opener is started here.
// Without one Qt's is the only way left.
void launchOpener(const QUrl& url) {
    // The opener reads an argument starting with "-" as an option: only absolute addresses and
    // files go to it.
    if (!url.isLocalFile() && (url.isRelative() || !url.isValid())) {
        qCInfo(lcPlatform).noquote() << "not an address to open:" << url.toString();
        return;
    }
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (opener.isEmpty()) {
        QDesktopServices::openUrl(url);
        return;
    }
    QProcess process;
    process.setProgram(opener);
    process.setArguments(
        {url.isLocalFile() ? url.toLocalFile() : url.toString(QUrl::FullyEncoded)});
    process.setProcessEnvironment(
        SystemDesktop::childEnvironment(QProcessEnvironment::systemEnvironment()));
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    if (!process.startDetached()) {
        qCInfo(lcPlatform).noquote() << "the opener did not start:" << process.errorString();
    }
}

} // namespace

QProcessEnvironment SystemDesktop::childEnvironment(const QProcessEnvironment& ours) {
    static const QStringList ownOnly{
        QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("QT_QPA_PLATFORM_PLUGIN_PATH"),
        QStringLiteral("QT_PLUGIN_PATH"),  QStringLiteral("QT_NO_GLIB"),
        QStringLiteral("LD_PRELOAD"),
    };
    QProcessEnvironment child = ours;
    for (const QString& name : ours.keys()) {
        if (ownOnly.contains(name) || name.startsWith(QLatin1String("OSTREL_"))) {
            child.remove(name);
        }
    }
    return child;
}

void SystemDesktop::open(const QUrl& url) {
    if (url.isLocalFile() && !mayOpen(url.toLocalFile())) {
        reveal(url.toLocalFile());
        return;
    }
    launchOpener(url);
}

void SystemDesktop::reveal(const QString& path) {
    const QString uri = QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded);
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("ShowItems"));
    call << QStringList{uri} << QString();
    const QDBusMessage reply = QDBusConnection::sessionBus().call(call, QDBus::Block, 3000);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        return;
    }
    qCInfo(lcPlatform).noquote() << "file manager did not show the item:" << reply.errorName();
    launchOpener(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
}

void SystemDesktop::copyText(const QString& text) {
    QGuiApplication::clipboard()->setText(text);
}

void SystemDesktop::copyImage(const QImage& image) {
    QGuiApplication::clipboard()->setImage(image);
}

} // namespace ostrel
