// Simulated parts and controller as their datasheets say: the Atmel status
// register, chip erase framing, the controller's lock-down, and what a
// reboot and a warm save keep.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/board/machine.h"
#include "sim/board/spi_regs.h"

namespace {
// One selection on the part's bus.
void command(FlashPart& part, std::initializer_list<uint8_t> bytes) {
    part.select();
    for (uint8_t b : bytes) part.transfer(b);
    part.deselect();
}
}  // namespace

TEST(SimParts, AtmelReportsWppAndTakesGlobalProtection) {
    SimClock clock;
    FlashPart part(*findFlashPart("AT26DF321"), clock);
    part.programStatus(0xBC);  // global protect with SPRL, as a lock leaves it
    EXPECT_EQ(part.status(), 0x9C);  // SPRL, WPP (WP# not asserted), SWP = 11
    part.setWriteProtect(true);
    EXPECT_EQ(part.status(), 0x8C);
    command(part, {spinor::WREN});
    command(part, {spinor::WRSR, 0x00});
    EXPECT_EQ(part.status() & 0x8C, 0x8C);  // SPRL with WP# asserted: ignored
    part.setWriteProtect(false);
    clock.advance(SIM_NS_PER_MS * 100);
    command(part, {spinor::WREN});
    command(part, {spinor::WRSR, 0x14});  // neither all ones nor all zeros in 5:2
    clock.advance(SIM_NS_PER_MS * 100);
    EXPECT_EQ(part.status(), 0x1C);       // SPRL cleared, protection kept
    command(part, {spinor::WREN});
    command(part, {spinor::WRSR, 0x00});
    clock.advance(SIM_NS_PER_MS * 100);
    EXPECT_EQ(part.status(), 0x10);
    EXPECT_EQ(part.statusWrites(), 2u);
}

TEST(SimParts, ChipEraseNeedsTheOpcodeAlone) {
    SimClock clock;
    FlashPart part(*findFlashPart("W25Q16BV"), clock);
    part.array()[0] = 0x00;
    command(part, {spinor::WREN});
    command(part, {spinor::CE, 0x00});
    EXPECT_EQ(part.array()[0], 0x00);
    command(part, {spinor::WREN});
    command(part, {spinor::CE});
    EXPECT_EQ(part.array()[0], 0xFF);
}

TEST(SimParts, BlockEraseClearsTheAligned64KiBThatHoldsTheAddress) {
    // W25Q16BV: 150 ms; block-protect value 1 guards the top 64 KiB.
    struct Row { const char* what; bool wel; uint8_t status; uint32_t address; bool erases; };
    const Row rows[] = {
        {"unaligned address", true, 0x00, 0x1F1234, true},
        {"without WEL", false, 0x00, 0x1F0000, false},
        {"top block protected", true, 0x04, 0x1E0000, true},
        {"protection over the block", true, 0x04, 0x1F8000, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        SimClock clock;
        FlashPart part(*findFlashPart("W25Q16BV"), clock);
        std::fill(part.array().begin(), part.array().end(), 0x00);
        part.programStatus(r.status);
        if (r.wel) command(part, {spinor::WREN});
        command(part, {spinor::BE, uint8_t(r.address >> 16), uint8_t(r.address >> 8), uint8_t(r.address)});
        const uint32_t block = r.address & ~0xFFFFu;
        const auto& a = part.array();
        EXPECT_EQ(std::count(a.begin(), a.end(), 0xFF), r.erases ? 0x10000 : 0);
        EXPECT_EQ(a[block], r.erases ? 0xFF : 0x00);
        EXPECT_EQ(part.status() & spinor::SR_WEL, 0);
        EXPECT_EQ(part.busyUntil(), r.erases ? 150 * SIM_NS_PER_MS : 0);
        EXPECT_EQ(part.blockErases(), r.erases ? 1u : 0u);
    }
}

TEST(SimParts, LockDownKeepsTheFirmwareMenuUntilPowerOn) {
    BoardConfig cfg;
    cfg.firmwareMenu = "hostile";
    cfg.spiLockDown = true;
    Machine m(cfg);
    SpiController& spi = m.spi();
    EXPECT_TRUE(spi.lockedDown());
    EXPECT_EQ(spi.read(simspi::HSFS, 1) & simspi::HSFS_FDONE, simspi::HSFS_FDONE);
    EXPECT_EQ(spi.read(simspi::SSFS, 1) & simspi::SSFS_CDS, simspi::SSFS_CDS);
    const uint32_t entry5 = spi.read(simspi::OPMENU + 5, 1);
    EXPECT_EQ(entry5, spinor::SE);
    spi.write(simspi::OPMENU + 4, 4, 0x06060199);
    spi.write(simspi::HSFS, 2, 0);  // FLOCKDN cannot be cleared by software
    EXPECT_EQ(spi.read(simspi::OPMENU + 5, 1), entry5);
    EXPECT_TRUE(spi.lockedDown());
}

TEST(SimParts, WarmStateKeepsWelAndRebootOfABlankBankRunsNothing) {
    Machine m(BoardConfig{});
    command(m.bank(0), {spinor::WREN});
    m.pciWrite(0, 31, 0, LPC_BIOS_CNTL, BIOS_CNTL_BIOSWE);
    const std::vector<uint8_t> blob = m.saveVolatileState();
    Machine warm(BoardConfig{});
    ASSERT_TRUE(warm.restoreVolatileState(blob));
    EXPECT_EQ(warm.bank(0).status() & spinor::SR_WEL, spinor::SR_WEL);
    EXPECT_EQ(warm.biosControl() & BIOS_CNTL_BIOSWE, BIOS_CNTL_BIOSWE);

    auto& image = warm.bank(0).array();
    image[image.size() - 1] = 0x5A;
    warm.reboot();
    EXPECT_EQ(warm.bank(0).status() & spinor::SR_WEL, 0);
    EXPECT_EQ(warm.biosControl() & BIOS_CNTL_BIOSWE, 0);
    // A bank whose reset vector is not a jump does not boot: nothing is shadowed.
    EXPECT_NE(warm.bootFault(), "");
    EXPECT_EQ(warm.legacyArea().back(), 0xFF);
}
