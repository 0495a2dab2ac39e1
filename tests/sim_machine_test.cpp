// The simulated board as hardware (configuration mechanism #1, BIOS control,
// GPIO lines, memory map, power cycling) and SimOS over it (time, trace).
#include <gtest/gtest.h>

#include <string>

#include "sim/board/machine.h"
#include "sim/board/spi_regs.h"
#include "sim/host/simos.h"

namespace {

constexpr uint32_t cfgAddress(unsigned dev, unsigned fn, unsigned reg) {
    return PCI_CFG_ENABLE | dev << PCI_CFG_DEV_SHIFT | fn << PCI_CFG_FN_SHIFT | reg;
}

uint32_t cfgRead(Machine& m, uint32_t address) {
    m.portWrite(PCI_CONFIG_ADDRESS, 4, address);
    return m.portRead(PCI_CONFIG_DATA, 4);
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

void driveOutput(Machine& m, unsigned pin, bool level) {
    const PinBytes p = pinBytes(pin);
    rmw(m, p.select, p.mask, true);
    rmw(m, p.direction, p.mask, false);
    rmw(m, p.level, p.mask, level);
}

uint32_t mem32(Machine& m, uint32_t addr) {
    uint8_t b[4];
    m.memRead(addr, 4, b);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

void memPut(Machine& m, uint32_t addr, unsigned width, uint32_t value) {
    const uint8_t b[4] = {uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16), uint8_t(value >> 24)};
    m.memWrite(addr, width, b);
}

// Starts a hardware 4 KiB erase through the controller's registers, lets
// virtual time run far past any erase, and returns HSFS.
uint16_t hardwareErase(Machine& m, uint32_t addr) {
    const uint32_t spi = (BOARD_RCBA & RCBA_ADDR_MASK) + RCBA_SPI_BLOCK;
    memPut(m, spi + simspi::HSFS, 2, simspi::HSFS_W1C);
    memPut(m, spi + simspi::FADDR, 4, addr);
    memPut(m, spi + simspi::HSFC, 2, simspi::FCYCLE_ERASE << simspi::HSFC_FCYCLE_SHIFT | simspi::HSFC_FGO);
    m.clock().advance(1000 * SIM_NS_PER_MS);
    return uint16_t(mem32(m, spi + simspi::HSFS));
}

}  // namespace

TEST(SimMachinePci, ConfigurationMechanismOne) {
    Machine m(BoardConfig{});
    m.portWrite(PCI_CONFIG_ADDRESS, 4, cfgAddress(0, 0, 0));
    EXPECT_EQ(m.portRead(PCI_CONFIG_DATA, 4), HOST_BRIDGE_ID_PCH);
    EXPECT_EQ(m.portRead(PCI_CONFIG_DATA, 4), HOST_BRIDGE_ID_PCH);  // the selection stays
    EXPECT_EQ(m.portRead(PCI_CONFIG_DATA + 2, 2), HOST_BRIDGE_ID_PCH >> 16);

    // A write at 0xCFC+n changes only the bytes it covers.
    const uint32_t reg40 = cfgAddress(3, 7, 0x40);
    m.portWrite(PCI_CONFIG_ADDRESS, 4, reg40);
    m.portWrite(PCI_CONFIG_DATA, 4, 0x11223344);
    m.portWrite(PCI_CONFIG_DATA + 1, 1, 0xAB);
    m.portWrite(PCI_CONFIG_DATA + 2, 2, 0xCDEF);
    EXPECT_EQ(cfgRead(m, reg40), 0xCDEFAB44u);

    // Absent functions read all ones; without the enable bit there is no cycle.
    m.portWrite(PCI_CONFIG_ADDRESS, 4, cfgAddress(5, 0, 0x40));
    m.portWrite(PCI_CONFIG_DATA, 4, 0);
    EXPECT_EQ(m.portRead(PCI_CONFIG_DATA, 4), 0xFFFFFFFFu);
    EXPECT_EQ(cfgRead(m, 0), 0xFFFFFFFFu);
}

// The bank flips on a rising edge only (what /chg drives), and not while the
// pin is an input.
TEST(SimMachineGpio, BankToggleFlipsOnARisingEdgeOfAnOutputOnly) {
    Machine m(BoardConfig{});
    const unsigned pin = m.wiring().bankToggle;
    const PinBytes t = pinBytes(pin);
    driveOutput(m, pin, true);
    EXPECT_EQ(m.activeBank(), 1);
    driveOutput(m, pin, false);
    rmw(m, t.level, t.mask, false);
    rmw(m, t.direction, t.mask, true);
    rmw(m, t.level, t.mask, true);
    EXPECT_EQ(m.activeBank(), 1);
}

TEST(SimMachineMemory, UnmappedSpaceReadsOnesAndTheBiosWindowIsReadOnly) {
    Machine m(BoardConfig{});
    memPut(m, 0x00100000, 4, 0);  // dropped
    EXPECT_EQ(mem32(m, 0x00100000), 0xFFFFFFFFu);

    const uint32_t size = m.bank(0).info().size;
    ASSERT_EQ(m.biosWindowBase(), uint32_t(ADDRESS_SPACE_TOP - size));
    m.bank(0).array()[0] = 0x33;
    m.bank(0).array()[size - 1] = 0x22;
    EXPECT_EQ(mem32(m, 0xFFFFFFFCu) >> 24, 0x22u);  // ends exactly at 4 GiB
    EXPECT_EQ(mem32(m, m.biosWindowBase() - 2), 0xFF33FFFFu);  // ones, then the part
    memPut(m, m.biosWindowBase(), 1, 0);
    EXPECT_EQ(m.bank(0).array()[0], 0x33);
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

// A warm save (between runs of the tool) keeps the volatile state; power-on
// keeps only the flash, its protection and the bank latch.
TEST(SimMachinePower, WarmStateKeepsVolatileStateAndPowerOnOnlyTheNonVolatile) {
    Machine m(BoardConfig{});
    m.pciWrite(0, 31, 0, LPC_BIOS_CNTL, BIOS_CNTL_BIOSWE);
    driveOutput(m, m.wiring().flashWp, true);
    driveOutput(m, m.wiring().bankToggle, true);  // now bank 1
    m.bank(1).setStatus(0x1C);
    m.bank(1).select();
    m.bank(1).transfer(spinor::WREN);
    m.bank(1).deselect();
    Machine warm(BoardConfig{});
    ASSERT_TRUE(warm.restoreVolatileState(m.saveVolatileState()));
    EXPECT_EQ(warm.bank(1).status() & spinor::SR_WEL, spinor::SR_WEL);
    EXPECT_EQ(warm.biosControl(), BIOS_CNTL_BIOSWE);

    m.powerOn();
    EXPECT_EQ(m.biosControl(), 0);
    EXPECT_TRUE(m.flashWriteProtectAsserted());
    EXPECT_EQ(m.activeBank(), 1);
    EXPECT_EQ(m.bank(1).status(), 0x1C);
    // A bank whose reset vector is not a jump does not boot: nothing is shadowed.
    m.bank(1).array().back() = 0x5A;
    m.reboot();
    EXPECT_NE(m.bootFault(), "");
    EXPECT_EQ(m.legacyArea().back(), 0xFF);
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

TEST(SimOs, EveryCallIsTracedInOrderAndCostsAMicrosecond) {
    Machine m(BoardConfig{});
    SimOS os(m);
    os.inportByte(PORT_BUS_DELAY);  // not traced yet
    os.setTracing(true);
    os.outportDword(PCI_CONFIG_ADDRESS, PCI_CFG_ENABLE);
    EXPECT_EQ(os.inportDword(PCI_CONFIG_DATA), HOST_BRIDGE_ID_PCH);
    os.outportByte(PORT_BUS_DELAY, 0);
    uint8_t buf[4096] = {0x34, 0x12};
    os.memWrite(LEGACY_AREA_BASE, 2, buf);
    os.memRead(LEGACY_AREA_BASE, 4, buf);
    // Any length costs one call; through the BIOS window, also its bus time:
    // a read command (opcode, address, 64 bytes) per 64 bytes at 20 MHz.
    os.memRead(0xFFFFF000u, sizeof buf, buf);
    const uint64_t busNs = 64 * (4 + 64) * 8 * SPI_NS_PER_BIT;
    EXPECT_EQ(m.clock().ns, 7 * SIM_NS_PER_US + busNs);
    os.sleep(1000);
    EXPECT_EQ(m.clock().ns, 8 * SIM_NS_PER_US + busNs + 1000 * SIM_NS_PER_MS);
    os.reboot();
    unsigned char mac[6];
    os.getMACAddress(mac);

    const char* expected =
        "out 0xcf8 4 0x80000000\n"
        "in 0xcfc 4 0x01008086\n"
        "out 0xeb 1 0x00\n"
        "memw 0xf0000 2 0x1234\n"
        "memr 0xf0000 4 0xffff1234\n"
        "memr 0xfffff000 1000 -\n"
        "sleep 3e8\n"
        "reboot\n"
        "getmacaddress\n";
    std::string lines;
    for (const TraceEntry& e : os.trace()) lines += formatTraceEntry(e) + "\n";
    EXPECT_EQ(lines, expected);
}
