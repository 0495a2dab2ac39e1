// The simulated board as hardware: configuration mechanism #1, the bank
// toggle line, BIOS write enable and the controller's lock-down. Power cycles,
// warm runs and reboots are the life test's and e2e_chip's.
#include <gtest/gtest.h>

#include "sim/board/machine.h"
#include "sim/board/spi_regs.h"

namespace {

constexpr uint32_t cfgAddress(unsigned dev, unsigned fn, unsigned reg) {
    return PCI_CFG_ENABLE | dev << PCI_CFG_DEV_SHIFT | fn << PCI_CFG_FN_SHIFT | reg;
}

// The select, direction and level bytes of a GPIO pin and its bit in them.
struct PinBytes {
    uint16_t select, direction, level;
    uint8_t mask;
};
PinBytes pinBytes(unsigned pin) {
    const uint16_t base = uint16_t((BOARD_GPIOBASE & GPIOBASE_ADDR_MASK) + (pin % 32) / 8);
    const bool low = pin < 32;
    return {uint16_t(base + (low ? GPIO_USE_SEL : GPIO_USE_SEL2)),
            uint16_t(base + (low ? GPIO_IO_SEL : GP_IO_SEL2)),
            uint16_t(base + (low ? GP_LVL : GP_LVL2)), uint8_t(1u << (pin % 8))};
}

void rmw(Machine& m, uint16_t port, uint8_t mask, bool set) {
    const uint8_t v = uint8_t(m.portRead(port, 1));
    m.portWrite(port, 1, set ? uint8_t(v | mask) : uint8_t(v & ~mask));
}

// Starts a hardware 4 KiB erase through the controller's registers, lets
// virtual time run far past any erase, and returns HSFS.
uint16_t hardwareErase(Machine& m, uint32_t addr) {
    SpiController& spi = m.spi();
    spi.write(simspi::HSFS, 2, simspi::HSFS_W1C);
    spi.write(simspi::FADDR, 4, addr);
    spi.write(simspi::HSFC, 2, simspi::FCYCLE_ERASE << simspi::HSFC_FCYCLE_SHIFT | simspi::HSFC_FGO);
    m.clock().advance(1000 * SIM_NS_PER_MS);
    return uint16_t(spi.read(simspi::HSFS, 2));
}

}  // namespace

TEST(SimMachinePci, ConfigurationMechanismOne) {
    Machine m(BoardConfig{});
    m.portWrite(PCI_CONFIG_ADDRESS, 4, cfgAddress(0, 0, 0));
    EXPECT_EQ(m.portRead(PCI_CONFIG_DATA, 4), HOST_BRIDGE_ID_PCH);
    EXPECT_EQ(m.portRead(PCI_CONFIG_DATA, 4), HOST_BRIDGE_ID_PCH);  // the selection stays
    // Absent functions read all ones and take no writes.
    m.portWrite(PCI_CONFIG_ADDRESS, 4, cfgAddress(5, 0, 0x40));
    m.portWrite(PCI_CONFIG_DATA, 4, 0);
    EXPECT_EQ(m.portRead(PCI_CONFIG_DATA, 4), 0xFFFFFFFFu);
}

// The bank flips on a rising edge only (what /chg drives), and not while the
// pin is an input.
TEST(SimMachineGpio, BankToggleFlipsOnARisingEdgeOfAnOutputOnly) {
    Machine m(BoardConfig{});
    const PinBytes t = pinBytes(m.wiring().bankToggle);
    rmw(m, t.select, t.mask, true);
    rmw(m, t.level, t.mask, false);
    rmw(m, t.direction, t.mask, true);  // an input: its level latch drives nothing
    rmw(m, t.level, t.mask, true);
    EXPECT_EQ(m.activeBank(), 0);
    rmw(m, t.level, t.mask, false);
    rmw(m, t.direction, t.mask, false);
    rmw(m, t.level, t.mask, true);
    EXPECT_EQ(m.activeBank(), 1);
}

TEST(SimMachineSpi, BiosWriteEnableGatesHardwareEraseOfTheActiveBank) {
    Machine m(BoardConfig{});
    m.bank(0).array()[0x1000] = 0;
    m.bank(1).array()[0x1000] = 0;
    EXPECT_TRUE(hardwareErase(m, 0x1000) & simspi::HSFS_FCERR);
    EXPECT_EQ(m.bank(0).array()[0x1000], 0);

    m.pciWrite(0, 31, 0, LPC_BIOS_CNTL, BIOS_CNTL_BIOSWE);
    m.setActiveBank(1);
    EXPECT_EQ(hardwareErase(m, 0x1000) & (simspi::HSFS_FDONE | simspi::HSFS_FCERR), simspi::HSFS_FDONE);
    EXPECT_EQ(m.bank(1).array()[0x1000], 0xFF);
    EXPECT_EQ(m.bank(0).array()[0x1000], 0);
}

// The firmware locked the controller down: its menu stays, FLOCKDN cannot be
// cleared, and the done bits of its own cycles are left set.
TEST(SimMachineSpi, LockDownKeepsTheFirmwareMenu) {
    BoardConfig cfg;
    cfg.firmwareMenu = "hostile";
    cfg.spiLockDown = true;
    Machine m(cfg);
    SpiController& spi = m.spi();
    EXPECT_EQ(spi.read(simspi::HSFS, 1) & simspi::HSFS_FDONE, simspi::HSFS_FDONE);
    EXPECT_EQ(spi.read(simspi::SSFS, 1) & simspi::SSFS_CDS, simspi::SSFS_CDS);
    EXPECT_EQ(spi.read(simspi::OPMENU + 5, 1), spinor::SE);
    spi.write(simspi::OPMENU + 4, 4, 0x06060199);
    spi.write(simspi::HSFS, 2, 0);
    EXPECT_EQ(spi.read(simspi::OPMENU + 5, 1), spinor::SE);
    EXPECT_TRUE(spi.lockedDown());
}
