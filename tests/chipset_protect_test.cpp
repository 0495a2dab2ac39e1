// Flash protection: the device state the steps leave, the access order where
// order is what keeps the part safe, and the guards put back as found. (The
// EEPROM and bank lines are driven end to end by the update scripts.)
#include <algorithm>

#include "chipset/flash_guards.h"
#include "chipset_rig.h"
#include "sim/board/spi_regs.h"

namespace {
// Lock status: block protection re-armed with SRWD set; WP# is a bit of the
// GPIO 24..31 registers.
struct Generation { uint32_t bridge; const char* part; uint8_t lockedStatus, wpMask; };
const Generation GENERATIONS[] = {{HOST_BRIDGE_ID_PCH, "MX25L6445E", 0x94, 0x10},
                                  {HOST_BRIDGE_ID_ICH, "W25Q16BV", 0xBC, 0x04}};

bool isGpioPort(const TraceEntry& e) {
    return (e.kind == TraceKind::In || e.kind == TraceKind::Out) && e.address >= GPIO_BASE &&
           e.address < GPIO_BASE + 0x40;
}
}  // namespace

// The end of an update re-arms protection: status byte into FDATA0, then SSFC
// from the high byte down so that the byte holding SCGO starts a cycle whose
// count is already one data byte; only then WP# low, with select, direction
// and level each read-modify-written. (That the next update gets in through
// that lock: every update of e2e_update and e2e_chip starts from it.)
TEST(ChipsetProtect, LockAfterAnUpdateSetsTheStatusBeforeTheWriteProtectLine) {
    for (const Generation& g : GENERATIONS) {
        SCOPED_TRACE(g.part);
        ChipsetRig rig(g.bridge, g.part);
        { ich10spiChipset opener(&rig.os, nullptr); }  // sets BIOSWE, programs the opcode menu
        rig.os.setTracing(true);
        LockSPIFlash(&rig.os, nullptr);
        LockSPI_WP(&rig.os);
        rig.os.sleep(20);  // the status write completes

        std::vector<TraceEntry> mem, gpio;
        for (const TraceEntry& e : rig.os.trace()) {
            if (e.kind == TraceKind::MemW) {
                EXPECT_TRUE(gpio.empty()) << "status written after WP# moved";
                mem.push_back(e);
            }
            if (isGpioPort(e)) gpio.push_back(e);
        }
        EXPECT_TRUE(mem == (std::vector<TraceEntry>{spiByteWrite(SPI_BLOCK_BASE + 0x10, g.lockedStatus),  // FDATA0
                                                    spiByteWrite(SSFS_ADDR + 3, 0x00), spiByteWrite(SSFS_ADDR + 2, 0x40),
                                                    spiByteWrite(SSFS_ADDR + 1, 0x56)}));
        ASSERT_EQ(gpio.size(), 6u);
        const uint32_t m = g.wpMask, ports[3] = {0x03, 0x07, 0x0F};
        const uint32_t written[3] = {gpio[0].value | m, gpio[2].value & ~m, gpio[4].value & ~m};  // GPIO, output, low
        for (int i = 0; i < 3; ++i) {
            EXPECT_TRUE(gpio[2 * i].kind == TraceKind::In && gpio[2 * i].address == GPIO_BASE + ports[i]);
            EXPECT_TRUE(gpio[2 * i + 1] == (TraceEntry{TraceKind::Out, GPIO_BASE + ports[i], 1, written[i], nullptr}));
        }
        EXPECT_EQ(rig.machine.bank(0).status(), g.lockedStatus);
        EXPECT_TRUE(rig.machine.flashWriteProtectAsserted());
    }
}

TEST(ChipsetProtect, HostBridgeOfNeitherGenerationTouchesNoLineAndLocksNothing) {
    ChipsetRig rig(0x12378086, "MX25L6445E");
    { ich10spiChipset opener(&rig.os, nullptr); }
    rig.os.setTracing(true);
    LockSPIFlash(&rig.os, nullptr);
    LockSPI_WP(&rig.os);
    LockEEPROM(&rig.os);
    change_pb_gpio(&rig.os);
    EXPECT_EQ(quietly([&] { return ReadActiveBIOS(&rig.os); }), 0);
    EXPECT_TRUE(std::none_of(rig.os.trace().begin(), rig.os.trace().end(), [](const TraceEntry& e) {
        return e.kind == TraceKind::MemW || isGpioPort(e);
    }));
    EXPECT_EQ(rig.machine.activeBank(), 0);
}

// Putting the guards back: whatever the chipset opened ends as it was found,
// locked or not, and a status register that could not be read is locked.
TEST(FlashGuards, OpenedGuardsEndAsFoundOrLockedWhenTheStatusWasUnknown) {
    struct Row { const char* what; bool foundOpen; bool firmwareMenuWithoutReadStatus;
                 uint8_t status; bool wpAsserted; uint8_t bioswe; };
    const Row rows[] = {
        {"found locked", false, false, 0xBC, true, 0},
        {"found open", true, false, 0x00, false, 1},
        {"status unreadable", false, true, 0xBC, true, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        ChipsetRig rig(HOST_BRIDGE_ID_ICH, "W25Q16BV");
        rig.machine.bank(0).setStatus(0xBC);
        const auto openAll = [&] {  // as building and identifying the chipset does
            quietly([&] { return ich10spiChipset(&rig.os, nullptr).identify(); });
            rig.os.sleep(20);
        };
        if (r.foundOpen) openAll();  // a run before left them open
        if (r.firmwareMenuWithoutReadStatus)
            for (unsigned i = 0; i < simspi::OPMENU_ENTRIES; ++i)
                if (rig.machine.spi().registers()[simspi::OPMENU + i] == 0x05)
                    rig.machine.spi().registers()[simspi::OPMENU + i] = 0xAB;

        const FlashGuards found = readFlashGuards(&rig.os);
        openAll();
        ASSERT_EQ(rig.machine.bank(0).status(), 0x00);  // the chipset opened them all
        restoreFlashGuards(&rig.os, found);
        rig.os.sleep(20);

        EXPECT_EQ(rig.machine.bank(0).status(), r.status);
        EXPECT_EQ(rig.machine.flashWriteProtectAsserted(), r.wpAsserted);
        EXPECT_EQ(rig.machine.biosControl() & 1, r.bioswe);
    }
}
