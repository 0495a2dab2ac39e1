// Delays of the host object, and the real kernel binding on this machine.
#include <gtest/gtest.h>

#include "os_fake_kernel.h"

namespace {

TEST(Host, SleepIsInMillisecondsAndLongDelaysAreNotCutByOverflow) {
    resetFake();
    LinOS os(fakeKernel());
    os.sleep(1);
    os.sleep(5000000);  // 5e9 microseconds does not fit in 32 bits
    ASSERT_EQ(fake.log.front(), "usleep 1000");
    unsigned long long total = 0;
    for (const std::string& line : fake.log) {
        total += std::stoull(line.substr(line.find(' ') + 1));
    }
    EXPECT_EQ(total, 5000001000ull);
}

// This machine grants no port I/O: a real LinOS must come back with the
// floating-bus value, quietly.
TEST(RealKernel, PortReadWithoutPrivilegeReturnsAllOnes) {
    LinOS os;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(os.inportDword(0xFFFC), 0xFFFFFFFFu);
    EXPECT_EQ(os.inportByte(0x80), 0xFF);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

}  // namespace
