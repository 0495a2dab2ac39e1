// Port I/O of LinOS against the fake kernel: which permissions are asked for,
// how granted ports are remembered, refusal and cleanup.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <utility>

#include "os_fake_kernel.h"

namespace {

using Runs = std::vector<std::pair<unsigned, unsigned>>;

Runs runsOf(const LinOS& os) {
    Runs runs;
    for (const s_IoportRange* r = os.portRanges(); r != nullptr; r = r->next) {
        runs.emplace_back(r->first, r->count);
    }
    return runs;
}

// Each access writes a value of its width and reads it back through the same
// port: data passes both ways, and the read asks for nothing more.
TEST(PortPermission, AskedOncePerPortAndRememberedAsRuns) {
    struct Case {
        const char* what;
        std::vector<std::pair<unsigned short, int>> accesses;  // port, width
        Log asked;
        Runs runs;  // newest first
    } const cases[] = {
        {"above", {{0x70, 1}, {0x71, 1}}, {"ioperm 0x70 1 1", "ioperm 0x71 1 1"}, {{0x70, 2}}},
        {"below", {{0x71, 1}, {0x70, 1}}, {"ioperm 0x71 1 1", "ioperm 0x70 1 1"}, {{0x70, 2}}},
        {"gap filled by the newest run", {{0x70, 1}, {0x72, 1}, {0x71, 1}},
         {"ioperm 0x70 1 1", "ioperm 0x72 1 1", "ioperm 0x71 1 1"}, {{0x71, 2}, {0x70, 1}}},
        {"granted ports ask nothing again", {{0x70, 2}, {0x71, 1}, {0x70, 4}},
         {"ioperm 0x70 1 1", "ioperm 0x71 1 1", "ioperm 0x72 1 1", "ioperm 0x73 1 1"}, {{0x70, 4}}},
        {"one iopl for every high port", {{0xCF8, 4}, {0xCFC, 4}, {0x1000, 2}}, {"iopl 3"}, {}},
        {"word at 0x3FF", {{0x3FF, 2}}, {"ioperm 0x3ff 1 1", "iopl 3"}, {{0x3FF, 1}}},
        {"wrap to port 0", {{0xFFFE, 4}}, {"iopl 3", "ioperm 0 1 1", "ioperm 0x1 1 1"}, {{0, 2}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        resetFake();
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
        Log asked;  // the permission calls, without the in/out instructions
        std::copy_if(fake.log.begin(), fake.log.end(), std::back_inserter(asked),
                     [](const std::string& line) { return line.rfind("io", 0) == 0; });
        EXPECT_EQ(asked, c.asked);
        EXPECT_EQ(runsOf(os), c.runs);
    }
}

TEST(PortRefusal, RefusedPortsReadAllOnesDropWritesAndAskAgain) {
    resetFake();
    LinOS os(fakeKernel());
    fake.iopermErrno = fake.ioplErrno = EPERM;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(os.inportByte(0x80), 0xFF);
    EXPECT_EQ(os.inportWord(0x80), 0xFFFF);
    EXPECT_EQ(os.inportDword(0xCFC), 0xFFFFFFFFu);
    os.outportByte(0x80, 0);
    os.outportDword(0xCF8, 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    // Every access asked again (the first covered port only), none went out.
    EXPECT_EQ(fake.log, (Log{"ioperm 0x80 1 1", "ioperm 0x80 1 1", "iopl 3", "ioperm 0x80 1 1",
                             "iopl 3"}));
    EXPECT_TRUE(runsOf(os).empty());

    // Half granted: the low port is kept, and the access goes out once iopl is.
    fake.iopermErrno = 0;
    EXPECT_EQ(os.inportWord(0x3FF), 0xFFFF);
    EXPECT_EQ(runsOf(os), (Runs{{0x3FF, 1}}));
    fake.ioplErrno = 0;
    fake.log.clear();
    os.inportWord(0x3FF);
    EXPECT_EQ(fake.log, (Log{"iopl 3", "inw 0x3ff"}));
}

TEST(PortCleanup, GivesBackEveryRunNewestFirstThenLowersIopl) {
    resetFake();
    { LinOS untouched(fakeKernel()); }
    EXPECT_TRUE(fake.log.empty());
    {
        LinOS os(fakeKernel());
        os.inportWord(0x70);
        os.inportByte(0xEB);
        os.inportDword(0xCF8);
        fake.log.clear();
    }
    EXPECT_EQ(fake.log, (Log{"ioperm 0xeb 1 0", "ioperm 0x70 2 0", "iopl 0"}));
}

}  // namespace
