#include "Platform/UserDefaults.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace ostrel;

TEST(UserDefaults, KeepsTypesAcrossReloads) {
    test::TempDir dir;
    {
        UserDefaults defaults(dir.path(), "defaults");
        EXPECT_TRUE(defaults.dictionary().isEmpty());
        EXPECT_TRUE(defaults.set("flag", true));
        EXPECT_TRUE(defaults.set("whole", 120));
        EXPECT_TRUE(defaults.apply({{"list", QJsonArray{"a", "b"}}, {"text", "x"}}, {"whole"}));
    }
    UserDefaults again(dir.path(), "defaults");
    EXPECT_TRUE(again.value("flag").isBool());
    EXPECT_FALSE(again.contains("whole"));
    EXPECT_EQ(again.value("list").toArray().size(), 2);
    EXPECT_EQ(again.value("text"), "x");
    // Another suite is another file.
    UserDefaults other(dir.path(), "other");
    EXPECT_TRUE(other.dictionary().isEmpty());
}

TEST(UserDefaults, AnUnreadableFileIsSetAsideNotReplaced) {
    test::TempDir dir;
    dir.write("defaults.json", "{broken");
    UserDefaults defaults(dir.path(), "defaults");
    EXPECT_TRUE(defaults.dictionary().isEmpty());
    const QStringList aside = QDir(dir.path()).entryList({"defaults.unreadable-*.json"});
    ASSERT_EQ(aside.size(), 1);
    EXPECT_EQ(dir.read(aside.first()), "{broken");
    EXPECT_TRUE(defaults.set("k", 1));
    EXPECT_EQ(UserDefaults(dir.path(), "defaults").value("k"), 1);
}

TEST(UserDefaults, AFifoOrALinkToADeviceIsSetAsideWithoutWaitingOrReading) {
    test::TempDir dir;
    const QByteArray path = QFile::encodeName(dir.file("defaults.json"));
    for (int round = 0; round < 2; ++round) {
        if (round == 0) {
            ASSERT_EQ(::mkfifo(path.constData(), 0600), 0);
        } else {
            ASSERT_EQ(::symlink("/dev/zero", path.constData()), 0);
        }
        UserDefaults defaults(dir.path(), "defaults");
        EXPECT_TRUE(defaults.dictionary().isEmpty());
        EXPECT_TRUE(defaults.set("k", round));
        EXPECT_EQ(QDir(dir.path())
                      .entryList({"defaults.unreadable-*.json"}, QDir::Files | QDir::System)
                      .size(),
                  round + 1);
        QFile::remove(dir.file("defaults.json"));
    }
}
