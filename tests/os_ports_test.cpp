// Port I/O and delays of LinOS against the fake kernel.
#include <gtest/gtest.h>

#include <utility>

#include "os_fake_kernel.h"

namespace {

// Each access writes a value of its width and reads it back through the same
// port: data passes both ways, and the read asks for nothing more. Ending the
// host gives back the remembered runs, newest first, then lowers iopl.
TEST(PortPermission, AskedOnceRememberedAsRunsAndGivenBack) {
    struct Case {
        const char* what;
        std::vector<std::pair<unsigned short, int>> accesses;  // port, width
        Log calls;
    } const cases[] = {
        {"above", {{0x70, 1}, {0x71, 1}}, {"ioperm 0x70 1 1", "ioperm 0x71 1 1", "ioperm 0x70 2 0"}},
        {"below", {{0x71, 1}, {0x70, 1}}, {"ioperm 0x71 1 1", "ioperm 0x70 1 1", "ioperm 0x70 2 0"}},
        {"gap filled by the newest run", {{0x70, 1}, {0x72, 1}, {0x71, 1}},
         {"ioperm 0x70 1 1", "ioperm 0x72 1 1", "ioperm 0x71 1 1", "ioperm 0x71 2 0",
          "ioperm 0x70 1 0"}},
        {"one iopl for every high port", {{0xCF8, 4}, {0xCFC, 4}, {0x1000, 2}}, {"iopl 3", "iopl 0"}},
        {"word at 0x3FF", {{0x3FF, 2}}, {"ioperm 0x3ff 1 1", "iopl 3", "ioperm 0x3ff 1 0", "iopl 0"}},
        {"wrap to port 0", {{0xFFFE, 4}},
         {"iopl 3", "ioperm 0 1 1", "ioperm 0x1 1 1", "ioperm 0 2 0", "iopl 0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        resetFake();
        {
            LinOS os(fakeKernel());
            for (auto [port, width] : c.accesses) {
                unsigned int value = 0xA1B2C3D4u >> (32 - 8 * width), got = 0;
                switch (width) {
                case 1: os.outportByte(port, value); got = os.inportByte(port); break;
                case 2: os.outportWord(port, value); got = os.inportWord(port); break;
                default: os.outportDword(port, value); got = os.inportDword(port);
                }
                EXPECT_EQ(got, value);
            }
        }
        EXPECT_EQ(only(fake.log, {"io"}), c.calls);  // the permission calls, not the in/out
    }
}

TEST(PortRefusal, RefusedPortsReadAllOnesDropWritesAndAskAgain) {
    resetFake();
    LinOS os(fakeKernel());
    fake.iopermErrno = fake.ioplErrno = EPERM;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(os.inportWord(0x80), 0xFFFF);
    EXPECT_EQ(os.inportDword(0xCFC), 0xFFFFFFFFu);
    os.outportByte(0x80, 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    // Every access asked again (the first covered port only), none went out.
    EXPECT_EQ(fake.log, (Log{"ioperm 0x80 1 1", "iopl 3", "ioperm 0x80 1 1"}));

    // Half granted: the low port is kept, and the access goes out once iopl is.
    fake.iopermErrno = 0;
    EXPECT_EQ(os.inportWord(0x3FF), 0xFFFF);
    fake.ioplErrno = 0;
    fake.log.clear();
    os.inportWord(0x3FF);
    EXPECT_EQ(fake.log, (Log{"iopl 3", "inw 0x3ff"}));
}

// 5e9 microseconds do not fit in one 32-bit usleep: none of it may be lost.
TEST(Delay, SleepIsInMillisecondsAndLongDelaysAreNotCutByOverflow) {
    resetFake();
    LinOS(fakeKernel()).sleep(5000000);
    unsigned long long total = 0;
    for (const std::string& line : fake.log) {
        total += std::stoull(line.substr(line.find(' ') + 1));
    }
    EXPECT_EQ(total, 5000000000ull);
}

}  // namespace
