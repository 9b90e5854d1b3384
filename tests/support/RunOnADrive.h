#pragma once

#include "OstrelCore/Records/OwnFolder.h"
#include "support/MountNamespace.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace ostrel::test {

// A support folder on a drive of the test's own mount namespace, written down as the run's folder
// (as the shell does at its start) for as long as this lives: a test mounts another file system
// over the drive and sees what a writer of the run does there.
class RunOnADrive {
public:
    RunOnADrive() {
        QDir().mkpath(dir_.file("drive/Ostrel"));
        OwnFolder::startRun(support());
    }
    ~RunOnADrive() { OwnFolder::endRun(); }
    RunOnADrive(const RunOnADrive&) = delete;
    RunOnADrive& operator=(const RunOnADrive&) = delete;

    // False where no namespace can be had: the test skips.
    bool ok() const { return space_.ok(); }
    // The folder's path, which leads into what is mounted over the drive while it is.
    QString support() const { return space_.inside(dir_.file("drive/Ostrel")); }
    bool mount() const { return space_.mountTmpfs(dir_.file("drive"), QStringLiteral("size=1m")); }
    bool unmount() const { return space_.unmount(dir_.file("drive")); }
    // Writes `bytes` at `relative` in the folder the path leads to now, making its folders.
    bool write(const QString& relative, const QByteArray& bytes) const {
        QFile file(support() + u'/' + relative);
        return QDir().mkpath(QFileInfo(file).absolutePath()) && file.open(QIODevice::WriteOnly) &&
               file.write(bytes) == bytes.size();
    }
    QByteArray read(const QString& relative) const {
        QFile file(support() + u'/' + relative);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private:
    MountNamespace space_;
    TempDir dir_;
};

} // namespace ostrel::test
