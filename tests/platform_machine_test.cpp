#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "chipset/ich10spi.h"
#include "platform/x86qm.h"
#include "platform_board.h"

namespace {

// ---- Recognition from the BIOS Version text -------------------------------

struct IdentifyCase {
    const char* version;
    int expected;
};

class IdentifyTest : public ::testing::TestWithParam<IdentifyCase> {};

TEST_P(IdentifyTest, FamilyFromFirstFourCharacters) {
    SimBoard board;
    board.setBiosVersion(GetParam().version);
    x86QMPlatform platform(&board.os);
    EXPECT_EQ(platform.identify(), GetParam().expected);
    EXPECT_STREQ(plat_num, GetParam().version);
}

INSTANTIATE_TEST_SUITE_P(Versions, IdentifyTest,
                         ::testing::Values(IdentifyCase{"61QM12A", 1}, IdentifyCase{"62QM0.93", 1},
                                           IdentifyCase{"61QM", 1}, IdentifyCase{"61Q", 0},
                                           IdentifyCase{"61qm12A", 0}, IdentifyCase{"63QM12A", 0},
                                           IdentifyCase{"", 0}));

TEST(Identify, NoSmbiosTablesIsNotThisFamily) {
    SimBoard board;  // legacy area all ones: no entry point
    x86QMPlatform platform(&board.os);
    EXPECT_EQ(platform.identify(), 0);
    EXPECT_STREQ(plat_num, "");
}

TEST(Identify, LongVersionIsCutToTheBufferAndStillIdentifies) {
    SimBoard board;
    board.setBiosVersion("62QM-0123456789ABCDEFGHIJ");
    x86QMPlatform platform(&board.os);
    EXPECT_EQ(platform.identify(), 1);
    EXPECT_STREQ(plat_num, "62QM-0123456789ABCD");  // 19 characters
}

// ---- Flash-write gating on PCI 0:3:7 ---------------------------------------

constexpr uint32_t BIT15 = 0x8000;

TEST(FlashWriteGate, EnableSetsC0AndDisableClearsItRegister40StaysClear) {
    SimBoard board;
    board.machine.pciWrite(0, 3, 7, 0x40, 0x12345678 | BIT15);
    board.machine.pciWrite(0, 3, 7, 0xC0, 0x0F0F0000);
    x86QMPlatform platform(&board.os);

    platform.enableFlashWrite();
    EXPECT_EQ(board.machine.pciRead(0, 3, 7, 0x40), 0x12345678u & ~BIT15);
    EXPECT_EQ(board.machine.pciRead(0, 3, 7, 0xC0), 0x0F0F0000u | BIT15);

    platform.disableFlashWrite();
    EXPECT_EQ(board.machine.pciRead(0, 3, 7, 0x40), 0x12345678u & ~BIT15);
    EXPECT_EQ(board.machine.pciRead(0, 3, 7, 0xC0), 0x0F0F0000u);
}

// ---- Service-processor programming lines ------------------------------------

struct PortStep {
    uint16_t port;  // 0: a 100 ms pause
    uint8_t andMask, orMask;
};

void expectPortSequence(const std::vector<TraceEntry>& t, const std::vector<PortStep>& steps) {
    size_t at = 0;
    for (size_t i = 0; i < steps.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_LT(at, t.size());
        if (steps[i].port == 0) {
            EXPECT_EQ(t[at].kind, TraceKind::Sleep);
            EXPECT_EQ(t[at].value, 100u);
            ++at;
            continue;
        }
        ASSERT_LT(at + 1, t.size());
        EXPECT_EQ(t[at].kind, TraceKind::In);
        EXPECT_EQ(t[at].address, steps[i].port);
        EXPECT_EQ(t[at].size, 1u);
        EXPECT_EQ(t[at + 1].kind, TraceKind::Out);
        EXPECT_EQ(t[at + 1].address, steps[i].port);
        EXPECT_EQ(t[at + 1].value, (t[at].value & steps[i].andMask) | steps[i].orMask);
        at += 2;
    }
    EXPECT_EQ(at, t.size());
}

TEST(ProgrammingMode, OnAndOffDriveTheLinesInOrder) {
    SimBoard board;
    x86QMPlatform platform(&board.os);
    board.os.setTracing(true);

    platform.SetH8ProgrammingMode(true);
    expectPortSequence(board.os.trace(), {{0x83B, 0x80, 0},
                                          {0x83E, 0x80, 0},
                                          {0x84B, 0xEF, 0},
                                          {0, 0, 0},
                                          {0x84E, 0xFE, 0x08},
                                          {0, 0, 0},
                                          {0x84B, 0xFF, 0x10},
                                          {0, 0, 0}});
    board.os.clearTrace();
    platform.SetH8ProgrammingMode(false);
    expectPortSequence(board.os.trace(), {{0x83B, 0x80, 0},
                                          {0x83E, 0x80, 0},
                                          {0x84B, 0xEF, 0},
                                          {0, 0, 0},
                                          {0x84E, 0xF7, 0x01},
                                          {0, 0, 0},
                                          {0x84B, 0xFF, 0x10},
                                          {0, 0, 0},
                                          {0x83B, 0xFF, 0x01},
                                          {0x83E, 0xFF, 0x01}});
}

// ---- Chipset objects ---------------------------------------------------------

TEST(GetChipset, EveryCallBuildsANewIdentifiedObject) {
    SimBoard board;
    x86QMPlatform platform(&board.os);
    std::unique_ptr<Chipset> first(platform.getChipset());
    std::unique_ptr<Chipset> second(platform.getChipset());
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first.get(), second.get());
    EXPECT_NE(dynamic_cast<ich10spiChipset*>(first.get()), nullptr);
}

TEST(GetChipset, UnknownFlashPartGivesNull) {
    SimBoard board(HOST_BRIDGE_ID_PCH, "unknown");
    x86QMPlatform platform(&board.os);
    EXPECT_EQ(platform.getChipset(), nullptr);
}

}  // namespace
