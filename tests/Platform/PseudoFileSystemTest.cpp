#include "Platform/PseudoFileSystem.h"
#include "support/TempDir.h"

#include <QFileInfo>

#include <gtest/gtest.h>

using namespace ostrel;

TEST(PseudoFileSystem, TellsKernelViewsFromFolders) {
    EXPECT_TRUE(PseudoFileSystem::holds("/proc"));
    EXPECT_TRUE(PseudoFileSystem::holds("/proc/self"));
    EXPECT_TRUE(PseudoFileSystem::holds("/sys"));
    // devtmpfs passes for tmpfs by its magic number; the mount table tells.
    if (QFileInfo("/dev/null").exists()) {
        EXPECT_TRUE(PseudoFileSystem::holds("/dev/pts") || !QFileInfo("/dev/pts").isDir());
    }
    test::TempDir dir;
    EXPECT_FALSE(PseudoFileSystem::holds(dir.path()));
    EXPECT_FALSE(PseudoFileSystem::holds("/"));
    EXPECT_FALSE(PseudoFileSystem::holds(dir.file("missing")));
}
