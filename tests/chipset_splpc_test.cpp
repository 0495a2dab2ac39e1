// The service-processor chipset against the simulated service processor: the
// bytes it puts on the mailbox, its polling bounds, the semaphore, and the
// protocol operations that stand alone. A service processor held in reset
// takes nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "chipset/splpc.h"
#include "sp_rig.h"

namespace {

using splpc::MBX_DATA;
using splpc::MBX_STATUS;

struct SpChipsetTest : ::testing::Test {
    void SetUp() override {
        chipset.reset(new SPLPCChipset(&board.os, &board.platform));
        board.os.setTracing(true);
        board.os.clearTrace();
    }
    SpBoard board;
    std::unique_ptr<SPLPCChipset> chipset;
};

TEST_F(SpChipsetTest, AByteNotTakenStopsTheSendAfterItsBoundAndRaisesAbort) {
    // Held in reset, the service processor takes nothing: the status write
    // stays pending, so the next data byte must not go out, and a packet that
    // cannot go out ends with the abort bit.
    auto latchResetLines = [&](uint8_t lines) {
        board.os.outportByte(spsim::CTL_84E, lines);
        board.os.outportByte(spsim::CTL_84B, 0x00);
        board.os.outportByte(spsim::CTL_84B, spsim::CTL_LATCH_STROBE);
    };
    latchResetLines(spsim::CTL_PROGRAMMING);
    EXPECT_EQ(chipset->SetStatusByte(splpc::STS_SEMAPHORE), 0);
    board.os.clearTrace();
    EXPECT_EQ(chipset->SetDataByte(0x02), 0);
    const auto& trace = board.os.trace();
    EXPECT_EQ(size_t(std::count_if(trace.begin(), trace.end(), [](const TraceEntry& e) {
                  return e.kind == TraceKind::In && e.address == MBX_STATUS;
              })), splpc::PEER_TOOK_LAST_BYTE.bound.spinPolls);
    EXPECT_TRUE(board.sentBytes().empty());
    unsigned char packet[SP_PACKET_BUFFER] = {0x02, 0xF2, 0};
    EXPECT_EQ(chipset->SendServiceProcessorPacket(packet), 0);
    EXPECT_NE(board.machine.portRead(MBX_STATUS, 1) & splpc::STS_ABORT, 0u);
    // Nor the release: it gives up within its bound, and the destructor tries again.
    const uint64_t start = board.machine.clock().ns;
    std::string err;
    EXPECT_EQ(quietly([&] { return chipset->ClaimSemaphore(false, false); }, nullptr, &err), 0);
    EXPECT_LE(board.machine.clock().ns - start,
              (splpc::SEMAPHORE_MS + splpc::PEER_TAKES_BYTE.bound.timeoutMs + 2) * 1000000ull);
    EXPECT_EQ(WeOwnLpcSemaphore, 1);
    EXPECT_NE(err.find("could not be released within 100 ms (status 0x06; waited in vain at port "
                       "0x2B4 for the service processor to take the byte written)."),
              std::string::npos) << err;

    latchResetLines(spsim::CTL_RUN);  // let it boot, so that the mailbox can be released
    board.os.sleep(1000);
    EXPECT_EQ(board.machine.portRead(MBX_STATUS, 1) & (splpc::STS_ABORT | splpc::STS_IBF), 0u);
    chipset.reset();
    EXPECT_FALSE(board.sp().semaphoreSet());
}

TEST_F(SpChipsetTest, BadRepliesAreRetriedWithinTheirBound) {
    // Damaged replies now and then are read again: SpCompareTest and SpUpdateTest.
    board.sp().faults.badChecksumEvery = 1;  // every reply is damaged
    unsigned char reply[SP_PACKET_BUFFER];
    EXPECT_EQ(chipset->SendReceiveServiceProcessorPacketRetry(MSG_KERNEL_REVISION, reply, 50), 0);
    EXPECT_EQ(board.sentBytes().size(), 50u * 3);  // 50 sends of 02 F2 0E

    board.os.clearTrace();
    EXPECT_EQ(chipset->WaitForAck(SP_ASYNC_FLASH_DONE, reply, true, 100), 0);
    EXPECT_EQ(board.sentBytes().size(), 101u * 3);  // 101 polls, nothing acknowledged
}

// Erased blocks sending nothing: SpUpdateTest.UpdatesEndWithTheFileInTheApplicationArea.
TEST_F(SpChipsetTest, TheKernelAreaIsRefusedAndEachBlockReadBack) {
    ASSERT_EQ(chipset->erase(0, 0, 0), 0);
    unsigned char block[SP_PROGRAM_BLOCK];
    std::memset(block, 0x11, sizeof block);
    board.os.clearTrace();
    EXPECT_EQ(chipset->ProgramFlashBlock(0x0000, block), 0);
    EXPECT_EQ(chipset->ProgramFlashBlock(0x4040, block), 0);
    EXPECT_TRUE(board.sentBytes().empty());  // refused before the mailbox
    EXPECT_EQ(chipset->ProgramFlashBlock(0x4080, block), 1);
    EXPECT_EQ(board.sp().flash()[0x4080], 0x11);
    std::memset(block, 0x22, sizeof block);  // bits a program cannot set: acknowledged, not taken
    EXPECT_EQ(chipset->ProgramFlashBlock(0x4080, block), 0);
}

TEST_F(SpChipsetTest, AChunkThatCannotBeReadNeverPassesACheck) {
    ASSERT_EQ(chipset->erase(0, 0, 0), 0);
    std::vector<unsigned char> erased(SP_APP_SIZE, 0xFF);
    board.sp().faults.kernelSilent = true;
    testing::internal::CaptureStderr();
    EXPECT_EQ(chipset->BlankCheckRom(), 0);
    EXPECT_EQ(chipset->ValidateApplicationUpdate(erased.data()), 0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "Error reading service processor firmware.\nError validating data at offset04000h...\n\n"),
              std::string::npos);
    board.sp().faults.kernelSilent = false;
}

}  // namespace
