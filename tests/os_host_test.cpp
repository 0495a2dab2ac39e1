#include <gtest/gtest.h>

#include "os/os.h"

namespace {
int created = 0;
int destroyed = 0;
OS* createNothing() { ++created; return nullptr; }
void destroyCounted(OS*) { ++destroyed; }
}  // namespace

TEST(HostLifecycle, DestroyingNullDoesNothing) {
    osSetHost(createNothing, destroyCounted);
    osDestroy(nullptr);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(osInit(), nullptr);
    EXPECT_EQ(created, 1);
    osSetHost(nullptr, nullptr);
}
