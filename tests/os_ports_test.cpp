// Port I/O of LinOS against the fake kernel: which permissions are asked for,
// how granted ports are remembered, refusal and cleanup.
#include <gtest/gtest.h>

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

class Ports : public ::testing::Test {
protected:
    void SetUp() override { resetFake(); }
    LinOS os{fakeKernel()};
};

// --- granting and remembering low ports ---------------------------------

TEST_F(Ports, NeighbourAboveExtendsTheRun) {
    os.inportByte(0x70);
    os.inportByte(0x71);
    EXPECT_EQ(fake.log, (Log{"ioperm 0x70 1 1", "inb 0x70", "ioperm 0x71 1 1", "inb 0x71"}));
    EXPECT_EQ(runsOf(os), (Runs{{0x70, 2}}));
}

TEST_F(Ports, NeighbourBelowExtendsTheRunDownwards) {
    os.inportByte(0x71);
    os.inportByte(0x70);
    EXPECT_EQ(runsOf(os), (Runs{{0x70, 2}}));
}

TEST_F(Ports, GapFilledByNewestRunAndRunsStaySeparate) {
    os.outportByte(0x70, 1);
    os.outportByte(0x72, 2);
    os.outportByte(0x71, 3);
    EXPECT_EQ(runsOf(os), (Runs{{0x71, 2}, {0x70, 1}}));
    EXPECT_EQ(fakeGetPort(0x70, 3), 0x020301u);
}

TEST_F(Ports, GrantedPortsMakeNoFurtherKernelCall) {
    os.inportWord(0x70);
    fake.log.clear();
    os.inportByte(0x71);
    os.outportWord(0x70, 0x1234);
    EXPECT_EQ(fake.log, (Log{"inb 0x71", "outw 0x70 0x1234"}));
}

// --- ports above the ioperm range ------------------------------------------

TEST_F(Ports, OneIoplCoversEveryHighPort) {
    fakeSetPort(0xCFC, 0x2A408086, 4);
    os.outportDword(0xCF8, 0x80000000);
    EXPECT_EQ(os.inportDword(0xCFC), 0x2A408086u);
    os.inportWord(0x1000);
    EXPECT_EQ(fake.log, (Log{"iopl 3", "outl 0xcf8 0x80000000", "inl 0xcfc", "inw 0x1000"}));
    EXPECT_TRUE(os.ioplIsRaised());
    EXPECT_TRUE(runsOf(os).empty());
}

TEST_F(Ports, WordAtLastIopermPortNeedsBothMechanisms) {
    os.inportWord(0x3FF);
    EXPECT_EQ(fake.log, (Log{"ioperm 0x3ff 1 1", "iopl 3", "inw 0x3ff"}));
    EXPECT_EQ(runsOf(os), (Runs{{0x3FF, 1}}));
}

TEST_F(Ports, DwordAtTopOfPortSpaceWrapsToPortZero) {
    os.inportDword(0xFFFE);
    EXPECT_EQ(fake.log, (Log{"iopl 3", "ioperm 0 1 1", "ioperm 0x1 1 1", "inl 0xfffe"}));
    EXPECT_EQ(runsOf(os), (Runs{{0, 2}}));
}

// --- refusal ---------------------------------------------------------------

TEST_F(Ports, RefusedPortsReadAllOnesDropWritesAndStaySilent) {
    fake.iopermErrno = EPERM;
    fake.ioplErrno = EPERM;
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(os.inportByte(0x80), 0xFF);
    EXPECT_EQ(os.inportWord(0x80), 0xFFFF);
    EXPECT_EQ(os.inportDword(0xCFC), 0xFFFFFFFFu);
    os.outportByte(0x80, 0);
    os.outportWord(0x80, 0);
    os.outportDword(0xCF8, 0);
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");

    // Every access asked again (the first covered port only), none went out.
    EXPECT_EQ(fake.log, (Log{"ioperm 0x80 1 1", "ioperm 0x80 1 1", "iopl 3", "ioperm 0x80 1 1",
                             "ioperm 0x80 1 1", "iopl 3"}));
    EXPECT_TRUE(runsOf(os).empty());
    EXPECT_FALSE(os.ioplIsRaised());
    EXPECT_EQ(os.privateIoportCheckPerm(0x80), -EPERM);
}

TEST_F(Ports, PartlyRefusedAccessKeepsWhatWasGranted) {
    fake.ioplErrno = ENOSYS;
    EXPECT_EQ(os.inportWord(0x3FF), 0xFFFF);
    EXPECT_EQ(os.privateIoportCheckPerm(0x400), -ENOSYS);
    EXPECT_EQ(runsOf(os), (Runs{{0x3FF, 1}}));

    fake.ioplErrno = 0;  // granted later: the access now goes through
    fake.log.clear();
    os.inportWord(0x3FF);
    EXPECT_EQ(fake.log, (Log{"iopl 3", "inw 0x3ff"}));
}

TEST_F(Ports, RefusedExtensionLeavesTheRunAlone) {
    os.inportByte(0x70);
    fake.iopermErrno = EPERM;
    EXPECT_EQ(os.inportByte(0x71), 0xFF);
    EXPECT_EQ(runsOf(os), (Runs{{0x70, 1}}));
}

// --- cleanup ---------------------------------------------------------------

TEST(PortCleanup, GivesBackEveryRunNewestFirstThenLowersIopl) {
    resetFake();
    {
        LinOS os(fakeKernel());
        os.inportByte(0x70);
        os.inportByte(0x71);
        os.inportByte(0xEB);
        os.inportDword(0xCF8);
        fake.log.clear();
    }
    EXPECT_EQ(fake.log, (Log{"ioperm 0xeb 1 0", "ioperm 0x70 2 0", "iopl 0"}));
}

}  // namespace
