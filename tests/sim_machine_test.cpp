// The simulated board as hardware: configuration mechanism #1, the LPC
// bridge's BIOS control, the GPIO block and the board lines behind it, the
// physical memory map with the bank multiplexer, power cycling.
#include <gtest/gtest.h>

#include <vector>

#include "sim/machine.h"
#include "sim/spi_regs.h"

namespace {

constexpr uint32_t cfgAddress(unsigned bus, unsigned dev, unsigned fn, unsigned reg) {
    return PCI_CFG_ENABLE | bus << PCI_CFG_BUS_SHIFT | dev << PCI_CFG_DEV_SHIFT |
           fn << PCI_CFG_FN_SHIFT | reg;
}

uint32_t cfgRead(Machine& m, uint32_t address) {
    m.portWrite(PCI_CONFIG_ADDRESS, 4, address);
    return m.portRead(PCI_CONFIG_DATA, 4);
}

const uint32_t LPC_BIOS_CNTL_ADDR = cfgAddress(0, 31, 0, LPC_BIOS_CNTL);

void writeBiosControl(Machine& m, uint8_t value) {
    m.portWrite(PCI_CONFIG_ADDRESS, 4, LPC_BIOS_CNTL_ADDR);
    m.portWrite(PCI_CONFIG_DATA, 1, value);
}

// GPIO register byte of a pin at the board's GPIO base.
struct PinBytes {
    uint16_t select, direction, level;
    uint8_t mask;
};
PinBytes pinBytes(unsigned pin) {
    const uint16_t base = BOARD_GPIOBASE & GPIOBASE_ADDR_MASK;
    const unsigned byte = (pin % 32) / 8;
    const bool low = pin < 32;
    return {uint16_t(base + (low ? GPIO_USE_SEL : GPIO_USE_SEL2) + byte),
            uint16_t(base + (low ? GPIO_IO_SEL : GP_IO_SEL2) + byte),
            uint16_t(base + (low ? GP_LVL : GP_LVL2) + byte), uint8_t(1u << (pin % 8))};
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
    uint8_t b[4];
    for (unsigned i = 0; i < width; ++i) b[i] = uint8_t(value >> (8 * i));
    m.memWrite(addr, width, b);
}

const uint32_t SPI_BASE = (BOARD_RCBA & RCBA_ADDR_MASK) + RCBA_SPI_BLOCK;

// Starts a hardware 4 KiB erase at addr and lets the clock run until the
// controller reports the end of the cycle; returns HSFS.
uint16_t hardwareErase(Machine& m, uint32_t addr) {
    memPut(m, SPI_BASE + simspi::HSFS, 2, simspi::HSFS_W1C);
    memPut(m, SPI_BASE + simspi::FADDR, 4, addr);
    memPut(m, SPI_BASE + simspi::HSFC, 2,
           simspi::FCYCLE_ERASE << simspi::HSFC_FCYCLE_SHIFT | simspi::HSFC_FGO);
    uint16_t hsfs = 0;
    for (int i = 0; i < 1000; ++i) {
        hsfs = uint16_t(mem32(m, SPI_BASE + simspi::HSFS));
        if (hsfs & (simspi::HSFS_FDONE | simspi::HSFS_FCERR)) break;
        m.clock().advance(SIM_NS_PER_MS);
    }
    return hsfs;
}

}  // namespace

TEST(SimMachinePci, SelectionStaysAndDataLanesReachBytesOfTheDword) {
    Machine m(BoardConfig{});
    m.portWrite(PCI_CONFIG_ADDRESS, 4, cfgAddress(0, 0, 0, 0));
    EXPECT_EQ(m.portRead(PCI_CONFIG_DATA, 4), HOST_BRIDGE_ID_PCH);
    EXPECT_EQ(m.portRead(PCI_CONFIG_DATA, 4), HOST_BRIDGE_ID_PCH);  // same register again
    EXPECT_EQ(m.portRead(PCI_CONFIG_ADDRESS, 4), cfgAddress(0, 0, 0, 0));
    EXPECT_EQ(m.portRead(PCI_CONFIG_DATA + 2, 2), 0x0100u);
    EXPECT_EQ(m.portRead(PCI_CONFIG_DATA + 1, 1), 0x80u);

    // A byte write at 0xCFC+n changes byte n only.
    const uint32_t reg40 = cfgAddress(0, 3, 7, 0x40);
    m.portWrite(PCI_CONFIG_ADDRESS, 4, reg40);
    m.portWrite(PCI_CONFIG_DATA, 4, 0x11223344);
    m.portWrite(PCI_CONFIG_DATA + 1, 1, 0xAB);
    m.portWrite(PCI_CONFIG_DATA + 2, 2, 0xCDEF);
    EXPECT_EQ(cfgRead(m, reg40), 0xCDEFAB44u);
    EXPECT_EQ(m.pciRead(0, 3, 7, 0x40), 0xCDEFAB44u);

    // Bases the firmware programmed.
    EXPECT_EQ(cfgRead(m, cfgAddress(0, 31, 0, LPC_GPIOBASE)), BOARD_GPIOBASE);
    EXPECT_EQ(cfgRead(m, cfgAddress(0, 31, 0, LPC_RCBA)), BOARD_RCBA);
    EXPECT_EQ(cfgRead(m, cfgAddress(0, 15, 0, SMBUS_BASE_REG)), BOARD_SMBUS_BASE);
}

TEST(SimMachinePci, AbsentFunctionsIdsAndDisabledCycles) {
    Machine m(BoardConfig{});
    const uint32_t absent = cfgAddress(0, 5, 0, 0x40);
    m.portWrite(PCI_CONFIG_ADDRESS, 4, absent);
    m.portWrite(PCI_CONFIG_DATA, 4, 0);
    EXPECT_EQ(m.portRead(PCI_CONFIG_DATA, 4), 0xFFFFFFFFu);
    EXPECT_EQ(m.portRead(PCI_CONFIG_DATA + 3, 1), 0xFFu);

    // The identity dword ignores writes (the platform ORs bit 19 into it).
    const uint32_t lpcId = cfgAddress(0, 31, 0, 0);
    m.portWrite(PCI_CONFIG_ADDRESS, 4, lpcId);
    m.portWrite(PCI_CONFIG_DATA, 4, LPC_BRIDGE_ID_PCH | 0x00080000u);
    EXPECT_EQ(cfgRead(m, lpcId), LPC_BRIDGE_ID_PCH);

    // Without the enable bit no configuration cycle happens.
    EXPECT_EQ(cfgRead(m, 0), 0xFFFFFFFFu);

    // Narrow accesses to 0xCF8 do not reach the latch; 0xEB is a sink.
    m.portWrite(PCI_CONFIG_ADDRESS, 4, lpcId);
    m.portWrite(PCI_CONFIG_ADDRESS, 1, 0);
    EXPECT_EQ(m.portRead(PCI_CONFIG_ADDRESS, 4), lpcId);
    m.portWrite(PORT_BUS_DELAY, 1, 0);
    EXPECT_EQ(m.portRead(PORT_BUS_DELAY, 1), 0xFFu);
    EXPECT_EQ(m.portRead(0x1234, 2), 0xFFFFu);
}

TEST(SimMachinePci, BoardIdentities) {
    struct Row {
        uint32_t host, lpc;
        BoardKind kind;
    };
    for (const Row& r : {Row{HOST_BRIDGE_ID_PCH, LPC_BRIDGE_ID_PCH, BoardKind::PCH},
                         Row{HOST_BRIDGE_ID_ICH, LPC_BRIDGE_ID_ICH, BoardKind::ICH},
                         Row{0x12378086u, LPC_BRIDGE_ID_PCH, BoardKind::PCH}}) {
        BoardConfig cfg;
        cfg.hostBridgeId = r.host;
        Machine m(cfg);
        EXPECT_EQ(cfgRead(m, cfgAddress(0, 0, 0, 0)), r.host);
        EXPECT_EQ(cfgRead(m, cfgAddress(0, 31, 0, 0)), r.lpc);
        EXPECT_EQ(m.kind(), r.kind);
    }
}

TEST(SimMachinePci, BiosLockEnableIsStickyAndBlocksWriteEnable) {
    Machine m(BoardConfig{});
    EXPECT_EQ(m.biosControl(), 0);
    writeBiosControl(m, BIOS_CNTL_BIOSWE);
    EXPECT_EQ(m.biosControl(), BIOS_CNTL_BIOSWE);
    writeBiosControl(m, 0);
    EXPECT_EQ(m.biosControl(), 0);

    writeBiosControl(m, BIOS_CNTL_BLE);
    writeBiosControl(m, 0);
    EXPECT_EQ(m.biosControl(), BIOS_CNTL_BLE);  // cannot be cleared
    writeBiosControl(m, BIOS_CNTL_BIOSWE);      // the SMI handler clears it again
    EXPECT_EQ(m.biosControl(), BIOS_CNTL_BLE);
}

TEST(SimMachineGpio, FirmwareLeavesLinesProtectedAndBankToggleOnRisingEdgeOnly) {
    for (uint32_t host : {HOST_BRIDGE_ID_PCH, HOST_BRIDGE_ID_ICH}) {
        SCOPED_TRACE(host);
        BoardConfig cfg;
        cfg.hostBridgeId = host;
        Machine m(cfg);
        const GpioWiring& w = m.wiring();
        EXPECT_TRUE(m.flashWriteProtectAsserted());
        EXPECT_TRUE(m.eepromWriteProtectHigh());
        EXPECT_EQ(m.activeBank(), 0);

        const PinBytes t = pinBytes(w.bankToggle);
        driveOutput(m, w.bankToggle, true);  // rising edge
        EXPECT_EQ(m.activeBank(), 1);
        driveOutput(m, w.bankToggle, false);  // falling edge: nothing
        rmw(m, t.level, t.mask, false);       // level already low: nothing
        EXPECT_EQ(m.activeBank(), 1);

        // A pin that is an input ignores level writes: no edge reaches the mux.
        rmw(m, t.direction, t.mask, true);
        rmw(m, t.level, t.mask, true);
        EXPECT_EQ(m.activeBank(), 1);
        // Turning it back into an output drives the latch, which stayed low.
        rmw(m, t.direction, t.mask, false);
        EXPECT_EQ(m.activeBank(), 1);

        // The sense input follows the mux; as an output it reads its latch.
        const PinBytes s = pinBytes(w.bankSense);
        EXPECT_EQ(m.portRead(s.level, 1) & s.mask, s.mask);
        m.setActiveBank(0);
        EXPECT_EQ(m.portRead(s.level, 1) & s.mask, 0u);
        m.setActiveBank(1);
        rmw(m, s.direction, s.mask, false);
        EXPECT_EQ(m.portRead(s.level, 1) & s.mask, 0u);
        EXPECT_EQ(m.gpioLevelByte(s.level - (BOARD_GPIOBASE & GPIOBASE_ADDR_MASK)) & s.mask, 0u);
    }
}

TEST(SimMachineGpio, WriteProtectLineReachesOnlyTheSelectedPart) {
    for (uint32_t host : {HOST_BRIDGE_ID_PCH, HOST_BRIDGE_ID_ICH}) {
        SCOPED_TRACE(host);
        BoardConfig cfg;
        cfg.hostBridgeId = host;
        Machine m(cfg);
        const GpioWiring& w = m.wiring();
        driveOutput(m, w.flashWp, true);
        EXPECT_FALSE(m.bank(0).writeProtectAsserted());
        EXPECT_TRUE(m.bank(1).writeProtectAsserted());
        m.setActiveBank(1);
        EXPECT_TRUE(m.bank(0).writeProtectAsserted());
        EXPECT_FALSE(m.bank(1).writeProtectAsserted());

        // Released to an input, the line is pulled low: protected.
        const PinBytes p = pinBytes(w.flashWp);
        rmw(m, p.direction, p.mask, true);
        EXPECT_TRUE(m.flashWriteProtectAsserted());
        rmw(m, p.direction, p.mask, false);
        EXPECT_FALSE(m.flashWriteProtectAsserted());

        m.setWpStuckLow(true);
        driveOutput(m, w.flashWp, true);
        EXPECT_TRUE(m.flashWriteProtectAsserted());

        driveOutput(m, w.eepromWp, false);
        EXPECT_FALSE(m.eepromWriteProtectHigh());
        driveOutput(m, w.eepromWp, true);
        EXPECT_TRUE(m.eepromWriteProtectHigh());
    }
}

TEST(SimMachineMemory, RegionsAndUnmappedSpace) {
    Machine m(BoardConfig{});
    EXPECT_EQ(mem32(m, 0x00100000), 0xFFFFFFFFu);
    EXPECT_EQ(mem32(m, 0xFED00000), 0xFFFFFFFFu);
    memPut(m, 0x00100000, 4, 0);  // dropped
    EXPECT_EQ(mem32(m, 0x00100000), 0xFFFFFFFFu);

    // Legacy area is RAM; a read straddling its start sees ones, then RAM.
    memPut(m, LEGACY_AREA_BASE, 2, 0x1234);
    EXPECT_EQ(m.legacyArea()[0], 0x34);
    EXPECT_EQ(mem32(m, LEGACY_AREA_BASE - 2), 0x1234FFFFu);

    // Chipset configuration registers outside the SPI block are storage.
    const uint32_t rcba = BOARD_RCBA & RCBA_ADDR_MASK;
    memPut(m, rcba + 0x74, 4, 0xA5A5A5A5);
    EXPECT_EQ(mem32(m, rcba + 0x74), 0xA5A5A5A5u);
    EXPECT_EQ(mem32(m, SPI_BASE + simspi::HSFS) & 0xFFFF, FW_HSFS);
    EXPECT_EQ(mem32(m, SPI_BASE + simspi::OPMENU),
              uint32_t(FW_OPMENU[0]) | FW_OPMENU[1] << 8 | FW_OPMENU[2] << 16 |
                  uint32_t(FW_OPMENU[3]) << 24);

    // Moving the root complex base moves the registers.
    m.pciWrite(0, 31, 0, LPC_RCBA, 0xFEC00000u | RCBA_ENABLE);
    EXPECT_EQ(mem32(m, rcba + 0x74), 0xFFFFFFFFu);
    EXPECT_EQ(mem32(m, 0xFEC00074), 0xA5A5A5A5u);
}

TEST(SimMachineMemory, BiosWindowFollowsTheActiveBank) {
    Machine m(BoardConfig{});
    const uint32_t size = m.bank(0).info().size;
    ASSERT_EQ(m.biosWindowBase(), uint32_t(ADDRESS_SPACE_TOP - size));
    m.bank(0).array()[size - 1] = 0x11;
    m.bank(1).array()[size - 1] = 0x22;
    m.bank(0).array()[0] = 0x33;

    uint8_t top[8];
    m.memRead(0xFFFFFFF8u, 8, top);  // ends exactly at 4 GiB
    EXPECT_EQ(top[7], 0x11);
    m.setActiveBank(1);
    m.memRead(0xFFFFFFF8u, 8, top);
    EXPECT_EQ(top[7], 0x22);
    m.setActiveBank(0);

    std::vector<uint8_t> below(16);
    m.memRead(m.biosWindowBase() - 8, 16, below.data());
    EXPECT_EQ(below[7], 0xFF);
    EXPECT_EQ(below[8], 0x33);

    memPut(m, m.biosWindowBase(), 1, 0);  // the window is read-only
    EXPECT_EQ(m.bank(0).array()[0], 0x33);

    std::vector<uint8_t> whole(size);
    m.memRead(m.biosWindowBase(), size, whole.data());
    EXPECT_EQ(whole, m.bank(0).array());
}

TEST(SimMachineSpi, BiosWriteEnableGatesHardwareErase) {
    Machine m(BoardConfig{});
    m.bank(0).array()[0x1000] = 0;
    m.bank(1).array()[0x1000] = 0;

    uint16_t hsfs = hardwareErase(m, 0x1000);
    EXPECT_TRUE(hsfs & simspi::HSFS_FCERR);
    EXPECT_EQ(m.bank(0).array()[0x1000], 0);

    writeBiosControl(m, BIOS_CNTL_BIOSWE);
    m.setActiveBank(1);  // the controller reaches the part of the active bank
    hsfs = hardwareErase(m, 0x1000);
    EXPECT_TRUE(hsfs & simspi::HSFS_FDONE);
    EXPECT_FALSE(hsfs & simspi::HSFS_FCERR);
    EXPECT_EQ(m.bank(1).array()[0x1000], 0xFF);
    EXPECT_EQ(m.bank(0).array()[0x1000], 0);
}

TEST(SimMachinePower, PowerFailureStopsFlashOperations) {
    Machine m(BoardConfig{});
    writeBiosControl(m, BIOS_CNTL_BIOSWE);
    m.bank(0).array()[0] = 0;
    m.bank(0).array()[0x1000] = 0;
    m.failPowerAtOperation(1);
    hardwareErase(m, 0);
    EXPECT_FALSE(m.powerLost());
    hardwareErase(m, 0x1000);
    EXPECT_TRUE(m.powerLost());
    EXPECT_EQ(m.bank(0).array()[0], 0xFF);
    EXPECT_EQ(m.bank(0).array()[0x1000], 0);
}

TEST(SimMachinePower, PowerOnKeepsNonVolatileStateOnly) {
    Machine m(BoardConfig{});
    writeBiosControl(m, BIOS_CNTL_BIOSWE);
    driveOutput(m, m.wiring().flashWp, true);
    driveOutput(m, m.wiring().bankToggle, true);  // now bank 1
    memPut(m, SPI_BASE + simspi::OPMENU, 1, 0x60);
    m.legacyArea()[5] = 0x42;
    m.bank(1).array()[7] = 0x24;
    m.bank(1).setStatus(0x1C);
    m.clock().advance(12345);

    m.powerOn();
    EXPECT_EQ(m.clock().ns, 0u);
    EXPECT_EQ(m.biosControl(), 0);
    EXPECT_TRUE(m.flashWriteProtectAsserted());
    EXPECT_EQ(m.activeBank(), 1);
    EXPECT_EQ(m.legacyArea()[5], 0x42);
    EXPECT_EQ(m.bank(1).array()[7], 0x24);
    EXPECT_EQ(m.bank(1).status(), 0x1C);
    EXPECT_EQ(mem32(m, SPI_BASE + simspi::OPMENU) & 0xFF, FW_OPMENU[0]);
    const PinBytes s = pinBytes(m.wiring().bankSense);
    EXPECT_EQ(m.portRead(s.level, 1) & s.mask, s.mask);
}

TEST(SimMachinePower, VolatileStateRoundTripsAndBadBlobsAreRefused) {
    Machine a(BoardConfig{});
    writeBiosControl(a, BIOS_CNTL_BIOSWE);
    driveOutput(a, a.wiring().flashWp, true);
    a.clock().advance(777);
    const std::vector<uint8_t> blob = a.saveVolatileState();

    Machine b(BoardConfig{});
    ASSERT_TRUE(b.restoreVolatileState(blob));
    EXPECT_EQ(b.biosControl(), BIOS_CNTL_BIOSWE);
    EXPECT_FALSE(b.flashWriteProtectAsserted());
    EXPECT_EQ(b.clock().ns, 777u);

    Machine c(BoardConfig{});
    std::vector<uint8_t> shortBlob(blob.begin(), blob.end() - 1);
    EXPECT_FALSE(c.restoreVolatileState(shortBlob));
    EXPECT_FALSE(c.restoreVolatileState({}));
    EXPECT_EQ(c.biosControl(), 0);
}
