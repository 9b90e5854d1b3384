#include "Platform/CodeSignature.h"
#include "Platform/Ed25519.h"
#include "Platform/Sha256.h"

#include "support/TempDir.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace ostrel {
namespace {

class CodeSignatureTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = tmp.file("Ostrel");
        tmp.write("Ostrel/bin/ostrel", "#!/bin/sh\n");
        ::chmod(QFile::encodeName(tmp.file("Ostrel/bin/ostrel")).constData(), 0755);
        tmp.write("Ostrel/share/ostrel/Info.json", "{}");
        QFile::link("../bin/ostrel", tmp.file("Ostrel/share/run"));
    }
    QString path(const char* relative) const { return folder + u'/' + QLatin1String(relative); }

    test::TempDir tmp;
    QString folder;
    Ed25519::KeyPair key = Ed25519::generate();
};

TEST_F(CodeSignatureTest, SignedFolderIsValidUntilAnythingChanges) {
    ASSERT_FALSE(CodeSignature::sign(folder, key.privateKey));
    const auto id = CodeSignature::identity(folder, true);
    EXPECT_TRUE(id.valid);
    EXPECT_EQ(id.team, QString::fromLatin1(Sha256::digest(key.publicKey).toHex()));

    // Only the owner-executable bit counts, so a umask cannot spoil a copy.
    ::chmod(QFile::encodeName(path("bin/ostrel")).constData(), 0700);
    EXPECT_TRUE(CodeSignature::identity(folder, true).valid);
    ::chmod(QFile::encodeName(path("bin/ostrel")).constData(), 0644);
    EXPECT_FALSE(CodeSignature::identity(folder, true).valid);
    // Without the check the signer is still named.
    EXPECT_TRUE(CodeSignature::identity(folder, false).valid);
    EXPECT_EQ(CodeSignature::identity(folder, false).team, id.team);
    ::chmod(QFile::encodeName(path("bin/ostrel")).constData(), 0755);

    QFile::remove(path("share/run"));
    QFile::link("../share/ostrel/Info.json", path("share/run"));
    EXPECT_FALSE(CodeSignature::identity(folder, true).valid);
}

// A folder that holds much else (a home folder, a shared prefix) is not read whole to find that.
TEST_F(CodeSignatureTest, StopsAtTheFirstThingTheManifestDoesNotList) {
    ASSERT_FALSE(CodeSignature::sign(folder, key.privateKey));
    QFile big(path("bin/big"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    ASSERT_TRUE(big.resize(qint64(8) << 30)); // sparse: costs no disk, but 8 GiB to read
    big.close();
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_FALSE(CodeSignature::identity(folder, true).valid);
    EXPECT_LT(elapsed.elapsed(), 2000);
}

TEST_F(CodeSignatureTest, TamperedManifestOrSignature) {
    ASSERT_FALSE(CodeSignature::sign(folder, key.privateKey));
    QFile manifest(path("share/ostrel/CodeSignature.json"));
    ASSERT_TRUE(manifest.open(QIODevice::ReadWrite));
    QByteArray bytes = manifest.readAll();
    bytes.replace("\"executable\": true", "\"executable\": false");
    manifest.resize(0);
    manifest.write(bytes);
    manifest.close();
    EXPECT_FALSE(CodeSignature::identity(folder, true).valid);

    QFile::remove(path("share/ostrel/CodeSignature.json"));
    const auto none = CodeSignature::identity(folder, false);
    EXPECT_FALSE(none.valid);
    EXPECT_FALSE(none.team);
}

TEST_F(CodeSignatureTest, RefusesWhatAnInstallFolderMayNotHold) {
    ::mkfifo(QFile::encodeName(path("bin/pipe")).constData(), 0600);
    EXPECT_TRUE(CodeSignature::sign(folder, key.privateKey));
    QFile::remove(path("bin/pipe"));

    ::chmod(QFile::encodeName(path("bin/ostrel")).constData(), 04755);
    EXPECT_TRUE(CodeSignature::sign(folder, key.privateKey));
    ::chmod(QFile::encodeName(path("bin/ostrel")).constData(), 0755);

    QFile::link("/etc/passwd", path("share/abs"));
    EXPECT_TRUE(CodeSignature::sign(folder, key.privateKey));
    QFile::remove(path("share/abs"));
    QFile::link("../../../x", path("share/up"));
    EXPECT_TRUE(CodeSignature::sign(folder, key.privateKey));
    QFile::remove(path("share/up"));
    // Each harmless as text, together out of the folder.
    QFile::link(".", path("share/s"));
    QFile::link("s/../..", path("share/up"));
    EXPECT_TRUE(CodeSignature::sign(folder, key.privateKey));
    QFile::remove(path("share/up"));
    QFile::remove(path("share/s"));

    // An empty folder, which a manifest cannot list.
    QDir().mkpath(path("share/empty"));
    EXPECT_TRUE(CodeSignature::sign(folder, key.privateKey));
    QDir().rmdir(path("share/empty"));

    ASSERT_FALSE(CodeSignature::sign(folder, key.privateKey));
    // Nor may it hold one after signing: a folder holds exactly what its manifest lists.
    QDir().mkpath(path("share/empty"));
    EXPECT_FALSE(CodeSignature::identity(folder, true).valid);
    QDir().rmdir(path("share/empty"));
    // A setuid bit added after signing spoils the copy.
    ::chmod(QFile::encodeName(path("bin/ostrel")).constData(), 04755);
    EXPECT_FALSE(CodeSignature::identity(folder, true).valid);
}

} // namespace
} // namespace ostrel
