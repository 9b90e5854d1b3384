// Signs what an update is made of, with the release key:
//   sign-release keygen KEYFILE            writes a new private key (base64) and prints the public
//                                          key for OSTREL_UPDATE_PUBLIC_KEY
//   sign-release folder FOLDER KEYFILE     writes share/ostrel/CodeSignature.json and .sig
//   sign-release archive ARCHIVE KEYFILE   prints the archive's "sha256" and "signature" for the
//   feed
#include "Platform/AtomicFile.h"
#include "Platform/CodeSignature.h"
#include "Platform/Ed25519.h"
#include "Platform/OpenSsl.h"
#include "Platform/Sha256.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextStream>

#include <optional>

namespace {

QTextStream& err() {
    static QTextStream stream(stderr);
    return stream;
}

std::optional<QByteArray> readKey(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        err() << "cannot read " << path << "\n";
        return std::nullopt;
    }
    auto decoded = QByteArray::fromBase64Encoding(file.readAll().trimmed(),
                                                  QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != 32) {
        err() << path << " does not hold a base64 Ed25519 private key\n";
        return std::nullopt;
    }
    return decoded.decoded;
}

int usage() {
    err()
        << "usage: sign-release keygen KEYFILE | folder FOLDER KEYFILE | archive ARCHIVE KEYFILE\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    ostrel::OpenSsl::init();
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    QTextStream out(stdout);
    if (args.size() == 2 && args[0] == u"keygen") {
        const ostrel::Ed25519::KeyPair pair = ostrel::Ed25519::generate();
        if (pair.privateKey.isEmpty() ||
            ostrel::AtomicFile::write(args[1], pair.privateKey.toBase64() + "\n", 0600)) {
            err() << "cannot write " << args[1] << "\n";
            return 1;
        }
        out << pair.publicKey.toBase64() << "\n";
        return 0;
    }
    if (args.size() != 3) {
        return usage();
    }
    const auto key = readKey(args[2]);
    if (!key) {
        return 1;
    }
    if (args[0] == u"folder") {
        if (auto failure = ostrel::CodeSignature::sign(args[1], *key)) {
            err() << "not signed: " << *failure << "\n";
            return 1;
        }
        return 0;
    }
    if (args[0] == u"archive") {
        QFile file(args[1]);
        if (!file.open(QIODevice::ReadOnly)) {
            err() << "cannot read " << args[1] << "\n";
            return 1;
        }
        const QByteArray bytes = file.readAll();
        const auto signature = ostrel::Ed25519::sign(*key, bytes);
        if (!signature) {
            err() << "signing failed\n";
            return 1;
        }
        const QJsonObject fields{
            {QStringLiteral("sha256"), QString::fromLatin1(ostrel::Sha256::digest(bytes).toHex())},
            {QStringLiteral("signature"), QString::fromLatin1(signature->toBase64())}};
        out << QJsonDocument(fields).toJson(QJsonDocument::Indented);
        return 0;
    }
    return usage();
}
