// Controllers that refuse and parts that stay protected: each ends with a
// clear line and a failure result, never a success.
#include <algorithm>

#include "chipset_rig.h"
#include "sim/board/spi_regs.h"

// Programming from 0x610000 stops at the first block that fails, with its
// line and result; blocks before it are written, nothing from it on. (A hung
// cycle, in the identification or the update: e2e_update_faults.)
TEST(ChipsetFaults, ProgramStopsAtTheFailingBlock) {
    struct Row { const char* what; void (*fault)(Machine&); uint32_t length, written; int result; const char* err; };
    const Row rows[] = {
        {"refused block", [](Machine& m) { m.spi().fcerrBlock = 0x611000; }, 0x3000, 0x1000, SPI_ERR_REFUSED,
         "SPI hardware erase cycle at flash address 0x611000 was refused by the controller\n"},
        // SRWD set by an earlier update with WP# held low: the part ignores
        // the unlock and would drop every erase in silence.
        {"stays protected", [](Machine& m) { m.bank(0).setStatus(0x94), m.setWpStuckLow(true); }, 0x2000, 0,
         SPI_ERR_PROTECTED,
         "Flash block protection could not be cleared (status register 0x94); is the flash "
         "write-protect line held low?\n"},
        // Protection could be cleared, but not put back at the end.
        {"locked menu without write status",
         [](Machine& m) {
             m.spi().registers()[simspi::OPMENU + 6] = 0x00;  // write status in the firmware's menu
             m.spi().write(simspi::HSFS, 2, simspi::HSFS_FLOCKDN);
         },
         0x1000, 0, SPI_ERR_NO_OPCODE,
         "The SPI controller's opcode menu has no write status entry (opcode 0x01 after write enable) and "
         "the firmware has locked it against changes; the cycle was not started\n"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        ChipsetRig rig(HOST_BRIDGE_ID_PCH, "MX25L6445E");
        r.fault(rig.machine);
        const std::vector<uint8_t> before = rig.flash(0);
        ich10spiChipset chip(&rig.os, nullptr);
        std::vector<uint8_t> image = pattern(r.length, 5);
        std::string out, err;
        EXPECT_EQ(quietly([&] { return chip.program(0x610000, r.length, 0x10000, image.data()); }, &out, &err),
                  r.result);
        EXPECT_EQ(err, r.err);
        EXPECT_EQ(size_t(std::count(out.begin(), out.end(), '\r')), r.written / 0x1000);  // no progress past it
        std::vector<uint8_t> want = before;
        std::copy(image.begin(), image.begin() + r.written, want.begin() + 0x610000);
        EXPECT_TRUE(rig.flash(0) == want);
    }
}
