#pragma once

#include "Platform/CodeSignature.h"
#include "Platform/Ed25519.h"
#include "Platform/Sha256.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>

#include <sys/stat.h>

namespace ostrel::test {

// Makes real release material the way a release does: an install folder signed with a key, a zip
// of it, and the feed that announces it.
struct ReleaseMaker {
    QString root;
    Ed25519::KeyPair key = Ed25519::generate();

    // An install folder `root/name/Ostrel` of the given build whose bin/ostrel, when started,
    // writes its build into `marker` (when given).
    QString installFolder(const QString& name, qint64 build, const QString& marker = {},
                          bool sign = true) const {
        const QString folder = root + u'/' + name + QStringLiteral("/Ostrel");
        QDir().mkpath(folder + QStringLiteral("/bin"));
        QDir().mkpath(folder + QStringLiteral("/share/ostrel"));
        QDir().mkpath(folder + QStringLiteral("/lib"));
        write(folder + QStringLiteral("/share/ostrel/Info.json"),
              "{\"CFBundleVersion\":\"" + QByteArray::number(build) + "\"}");
        QByteArray launcher = "#!/bin/sh\n";
        if (!marker.isEmpty()) {
            QByteArray quoted = marker.toUtf8();
            quoted.replace("'", "'\\''");
            launcher += "echo " + QByteArray::number(build) + " > '" + quoted + "'\n";
            launcher += "echo ostrel " + QByteArray::number(build) + " started >&2\n";
        }
        write(folder + QStringLiteral("/bin/ostrel"), launcher);
        ::chmod(QFile::encodeName(folder + QStringLiteral("/bin/ostrel")).constData(), 0755);
        write(folder + QStringLiteral("/lib/libostrel.so.1"),
              "library " + QByteArray::number(build));
        QFile::link(QStringLiteral("libostrel.so.1"), folder + QStringLiteral("/lib/libostrel.so"));
        if (sign) {
            signFolder(folder);
        }
        return folder;
    }

    void signFolder(const QString& folder, const QByteArray& privateKey = {}) const {
        CodeSignature::sign(folder, privateKey.isEmpty() ? key.privateKey : privateKey);
    }

    // Zips the entries `names` of `folder` (links kept as links) into `root/<zipName>`.
    QByteArray zip(const QString& folder, const QStringList& names,
                   const QString& zipName = QStringLiteral("release.zip")) const {
        const QString out = root + u'/' + zipName;
        QFile::remove(out);
        QProcess zipper;
        zipper.setWorkingDirectory(folder);
        zipper.start(QStringLiteral("/usr/bin/zip"),
                     QStringList{QStringLiteral("-qry"), out} + names);
        zipper.waitForFinished();
        QFile file(out);
        file.open(QIODevice::ReadOnly);
        return file.readAll();
    }

    QByteArray feed(const QByteArray& archive, qint64 build, const QString& url,
                    const QByteArray& signedBytes = {}) const {
        const QByteArray signature =
            Ed25519::sign(key.privateKey, signedBytes.isEmpty() ? archive : signedBytes)
                .value_or(QByteArray());
        return "{\"version\":\"2." + QByteArray::number(build) +
               "\",\"build\":" + QByteArray::number(build) +
               ",\"minimumSystemVersion\":\"2.17\",\"url\":\"" + url.toUtf8() + "\",\"sha256\":\"" +
               Sha256::digest(archive).toHex() + "\",\"signature\":\"" + signature.toBase64() +
               "\"}";
    }

    static void write(const QString& path, const QByteArray& bytes) {
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes);
    }
};

} // namespace ostrel::test
