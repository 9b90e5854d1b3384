#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QString>
#include <QTemporaryDir>

namespace ostrel::test {

// A fresh folder per test, removed afterwards.
class TempDir {
public:
    TempDir() { dir_.setAutoRemove(true); }
    QString path() const { return dir_.path(); }
    QString file(const QString& relative) const { return QDir(dir_.path()).filePath(relative); }

    // Writes `bytes` at `relative`, making parent folders; returns the full path.
    QString write(const QString& relative, const QByteArray& bytes) const {
        const QString full = file(relative);
        QDir().mkpath(QFileInfo(full).absolutePath());
        QFile f(full);
        if (f.open(QIODevice::WriteOnly)) {
            f.write(bytes);
        }
        return full;
    }

    QByteArray read(const QString& relative) const {
        QFile f(file(relative));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private:
    QTemporaryDir dir_;
};

} // namespace ostrel::test
