#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "platform/x86qm.h"
#include "platform_board.h"
#include "sim/board/board_image.h"

namespace {

TEST(Identify, FamilyFromFirstFourCharactersOfTheBiosVersion) {
    const struct {
        const char* version;  // null: no SMBIOS tables at all
        int expected;
        const char* platNum;
    } cases[] = {
        {"61QM12A", 1, "61QM12A"}, {"62QM0.93", 1, "62QM0.93"}, {"61QM", 1, "61QM"},
        {"61Q", 0, "61Q"},         {"61qm12A", 0, "61qm12A"},   {nullptr, 0, ""},
        {"62QM-0123456789ABCDEFGHIJ", 1, "62QM-0123456789ABCD"},  // cut to the buffer
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version ? c.version : "(no tables)");
        MachineOptions options;
        if (c.version) options.biosVersion = c.version;
        else options.legacyArea.assign(LEGACY_AREA_SIZE, 0xFF);
        std::unique_ptr<Machine> machine = buildMachine(options);
        ASSERT_NE(machine, nullptr);
        SimOS os(*machine);
        EXPECT_EQ(x86QMPlatform(&os).identify(), c.expected);
        EXPECT_STREQ(plat_num, c.platNum);
    }
}

TEST(FlashWriteGate, EnableSetsC0AndDisableClearsItRegister40StaysClear) {
    constexpr uint32_t BIT15 = 0x8000;
    SimBoard board;
    board.machine.pciWrite(0, 3, 7, 0x40, 0x12345678 | BIT15);
    board.machine.pciWrite(0, 3, 7, 0xC0, 0x0F0F0000);

    board.platform.enableFlashWrite();
    EXPECT_EQ(board.machine.pciRead(0, 3, 7, 0x40), 0x12345678u & ~BIT15);
    EXPECT_EQ(board.machine.pciRead(0, 3, 7, 0xC0), 0x0F0F0000u | BIT15);
    board.platform.disableFlashWrite();
    EXPECT_EQ(board.machine.pciRead(0, 3, 7, 0x40), 0x12345678u & ~BIT15);
    EXPECT_EQ(board.machine.pciRead(0, 3, 7, 0xC0), 0x0F0F0000u);
}

// The ports are the service processor's control lines and read back what was
// last written, so each step keeps the other lines; "on" holds the service
// processor in reset (0x84E latched by the 0x84B pulse), "off" releases it.
TEST(ProgrammingMode, OnAndOffDriveTheLinesInOrder) {
    const std::string pulseStart = "in 0x84b 1 0x32|out 0x84b 1 0x22|sleep 64|";
    const std::string pulseEnd = "sleep 64|in 0x84b 1 0x22|out 0x84b 1 0x32|sleep 64|";
    SimBoard board;
    board.os.setTracing(true);
    for (bool mode : {true, false}) {
        board.os.clearTrace();
        board.platform.SetH8ProgrammingMode(mode);
        std::string trace;
        for (const TraceEntry& e : board.os.trace()) trace += formatTraceEntry(e) + "|";
        EXPECT_EQ(trace, mode ? "in 0x83b 1 0x81|out 0x83b 1 0x80|in 0x83e 1 0x01|out 0x83e 1 0x00|" +
                                    pulseStart + "in 0x84e 1 0x41|out 0x84e 1 0x48|" + pulseEnd
                              : "in 0x83b 1 0x80|out 0x83b 1 0x80|in 0x83e 1 0x00|out 0x83e 1 0x00|" +
                                    pulseStart + "in 0x84e 1 0x48|out 0x84e 1 0x41|" + pulseEnd +
                                    "in 0x83b 1 0x80|out 0x83b 1 0x81|in 0x83e 1 0x00|out 0x83e 1 0x01|");
        EXPECT_EQ(board.machine.serviceProcessor().inReset(), mode);
    }
    EXPECT_EQ(board.machine.serviceProcessor().resets(), 1u);
}

}  // namespace
