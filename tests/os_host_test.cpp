// The host object's lifecycle and its self-contained operations (delays,
// reboot, hardware address), plus the real kernel binding on this machine.
#include <gtest/gtest.h>

#include "os/os.h"
#include "os_fake_kernel.h"

namespace {

int created = 0;
int destroyed = 0;
OS* createNothing() {
    ++created;
    return nullptr;
}
void destroyCounted(OS*) { ++destroyed; }

TEST(HostLifecycle, DestroyingNullDoesNothing) {
    osSetHost(createNothing, destroyCounted);
    osDestroy(nullptr);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(osInit(), nullptr);
    EXPECT_EQ(created, 1);
    osSetHost(nullptr, nullptr);
}

TEST(HostLifecycle, ObjectThatTouchedNothingReleasesNothing) {
    resetFake();
    { LinOS os(fakeKernel()); }
    EXPECT_TRUE(fake.log.empty());
}

class Host : public ::testing::Test {
protected:
    void SetUp() override { resetFake(); }
    LinOS os{fakeKernel()};
};

TEST_F(Host, SleepIsInMicroseconds) {
    os.sleep(0);
    os.sleep(1);
    os.sleep(1000);
    EXPECT_EQ(fake.log, (Log{"usleep 0", "usleep 1000", "usleep 1000000"}));
}

TEST_F(Host, VeryLongSleepIsNotCutShortByOverflow) {
    os.sleep(5000000);  // 5e9 microseconds does not fit in 32 bits
    unsigned long long total = 0;
    for (const std::string& line : fake.log) {
        total += std::stoull(line.substr(line.find(' ') + 1));
    }
    EXPECT_EQ(total, 5000000000ull);
}

TEST_F(Host, RebootRunsTheShellCommandAndPassesItsStatusBack) {
    fake.systemStatus = 256;
    EXPECT_EQ(os.reboot(), 256);
    EXPECT_EQ(fake.log, (Log{"system reboot"}));
}

TEST_F(Host, MacAddressComesFromEth0) {
    unsigned char mac[6] = {};
    os.getMACAddress(mac);
    EXPECT_EQ(fake.log, (Log{"socket inet dgram 0", "ioctl 9 0x8927", "close 9"}));
    EXPECT_EQ(fake.ifreqName, "eth0");
    EXPECT_EQ(std::memcmp(mac, fake.hwaddr, 6), 0);
}

TEST_F(Host, MacAddressFallsBackQuietlyToPseudoRandomBytes) {
    unsigned char mac[6];
    std::memcpy(mac, fake.hwaddr, 6);
    fake.ioctlErrno = ENODEV;
    ::testing::internal::CaptureStderr();
    os.getMACAddress(mac);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_NE(std::memcmp(mac, fake.hwaddr, 6), 0);
    EXPECT_EQ(fake.log.back(), "close 9");

    fake.log.clear();
    fake.socketErrno = EMFILE;
    os.getMACAddress(mac);
    EXPECT_EQ(fake.log, (Log{"socket inet dgram 0"}));
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
