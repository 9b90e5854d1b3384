#include "Platform/OpenSsl.h"
#include "Platform/Sha256.h"

#include <QCoreApplication>
#include <QProcess>

#include <gtest/gtest.h>
#include <openssl/crypto.h>
#include <unistd.h>

using namespace ostrel;

namespace {

constexpr char probeVariable[] = "OSTREL_TEST_OPENSSL_EXIT_PROBE";
constexpr char cleanUpRan[] = "openssl exit clean-up ran\n";

void sayCleanUpRan() {
    [[maybe_unused]] const ssize_t written = ::write(2, cleanUpRan, sizeof cleanUpRan - 1);
}

} // namespace

// OpenSSL's exit clean-up assumes no other thread is alive; a queue thread still ending at exit
// then frees its state twice. No program of ours may have it run at exit, whichever OpenSSL call
// comes first.
TEST(OpenSsl, ItsOwnExitCleanUpNeverRunsAtExit) {
    if (qEnvironmentVariableIsSet(probeVariable)) {
        // The child: OpenSSL in use as a hash would use it, then an ordinary exit.
        OPENSSL_atexit(&sayCleanUpRan);
        EXPECT_EQ(Sha256::digest("abc").size(), 32);
        OpenSsl::releaseThread();
        return;
    }
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(probeVariable), QStringLiteral("1"));
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=OpenSsl.ItsOwnExitCleanUpNeverRunsAtExit")});
    ASSERT_TRUE(child.waitForFinished(60000));
    const QByteArray output = child.readAll();
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_TRUE(output.contains("[  PASSED  ] 1 test")) << output.toStdString();
    EXPECT_FALSE(output.contains(cleanUpRan)) << output.toStdString();
}
