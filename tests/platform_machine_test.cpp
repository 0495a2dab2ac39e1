#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "chipset/ich10spi.h"
#include "platform/x86qm.h"
#include "platform_board.h"
#include "sim/board_image.h"

namespace {

// ---- Recognition from the BIOS Version text -------------------------------

TEST(Identify, FamilyFromFirstFourCharactersOfTheBiosVersion) {
    const struct {
        const char* version;  // null: no SMBIOS tables at all
        int expected;
        const char* platNum;
    } cases[] = {
        {"61QM12A", 1, "61QM12A"}, {"62QM0.93", 1, "62QM0.93"}, {"61QM", 1, "61QM"},
        {"61Q", 0, "61Q"},         {"61qm12A", 0, "61qm12A"},   {"63QM12A", 0, "63QM12A"},
        {nullptr, 0, ""},
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

// ---- Flash-write gating on PCI 0:3:7 ---------------------------------------

TEST(FlashWriteGate, EnableSetsC0AndDisableClearsItRegister40StaysClear) {
    constexpr uint32_t BIT15 = 0x8000;
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

// One read-modify-write of a port (new = old & andMask | orMask); port 0 is a 100 ms pause.
struct PortStep {
    uint16_t port;
    uint8_t andMask, orMask;
};

TEST(ProgrammingMode, OnAndOffDriveTheLinesInOrder) {
    const std::vector<PortStep> on = {{0x83B, 0x80, 0}, {0x83E, 0x80, 0}, {0x84B, 0xEF, 0},
                                      {0, 0, 0},        {0x84E, 0xFE, 0x08}, {0, 0, 0},
                                      {0x84B, 0xFF, 0x10}, {0, 0, 0}};
    std::vector<PortStep> off = on;
    off[4] = {0x84E, 0xF7, 0x01};
    off.insert(off.end(), {{0x83B, 0xFF, 0x01}, {0x83E, 0xFF, 0x01}});

    SimBoard board;
    x86QMPlatform platform(&board.os);
    board.os.setTracing(true);
    for (bool mode : {true, false}) {
        board.os.clearTrace();
        platform.SetH8ProgrammingMode(mode);
        const std::vector<TraceEntry>& t = board.os.trace();
        size_t at = 0;
        for (const PortStep& s : mode ? on : off) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " entry " << at);
            ASSERT_LT(at + (s.port ? 1 : 0), t.size());
            if (s.port == 0) {
                EXPECT_TRUE(t[at].kind == TraceKind::Sleep && t[at].value == 100u);
                ++at;
                continue;
            }
            EXPECT_TRUE(t[at].kind == TraceKind::In && t[at].address == s.port && t[at].size == 1);
            EXPECT_TRUE(t[at + 1].kind == TraceKind::Out && t[at + 1].address == s.port);
            EXPECT_EQ(t[at + 1].value, (t[at].value & s.andMask) | s.orMask);
            at += 2;
        }
        EXPECT_EQ(at, t.size());
    }
}

// ---- Chipset objects ---------------------------------------------------------

TEST(GetChipset, EveryCallBuildsANewObjectAndAnUnknownPartNone) {
    SimBoard board;
    x86QMPlatform platform(&board.os);
    std::unique_ptr<Chipset> first(platform.getChipset());
    std::unique_ptr<Chipset> second(platform.getChipset());
    ASSERT_NE(dynamic_cast<ich10spiChipset*>(first.get()), nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first.get(), second.get());

    SimBoard unknown(HOST_BRIDGE_ID_PCH, "unknown");
    EXPECT_EQ(x86QMPlatform(&unknown.os).getChipset(), nullptr);
}

}  // namespace
