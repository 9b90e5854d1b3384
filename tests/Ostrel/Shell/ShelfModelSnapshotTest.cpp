#include "ShelfModelTestSupport.h"

#include <gtest/gtest.h>

using namespace ostrel;
using namespace ostrel::test;

TEST(ShelfModelSnapshot, StartsEmptyAndIdle) {
    ModelRig rig;
    EXPECT_TRUE(rig.model->groups().isEmpty());
    EXPECT_EQ(rig.log->named("start").size(), 0u);
    rig.model->start();
    EXPECT_EQ(rig.log->named("start").size(), 1u);
}
