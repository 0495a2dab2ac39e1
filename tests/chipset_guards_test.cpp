// Putting the guards back: whatever the chipset opened ends as it was found,
// locked or not, and a status register that could not be read is locked.
#include "chipset/flash_guards.h"
#include "chipset_rig.h"
#include "sim/board/spi_regs.h"

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
