// The guards around the BIOS flash: the flash write-protect line (a GPIO), the
// part's block-protect bits, BIOS write enable and the controller's
// vendor-component lock; and the boot-bank and EEPROM write-protect lines.
#include <cstdio>
#include <iostream>

#include "chipset/gpio_lines.h"
#include "chipset/ich10spi.h"
#include "chipset/ich10spi_regs.h"
#include "chipset/pci.h"
#include "chipset/spi_menu.h"
#include "os/os.h"

namespace {

// Block-protect value written to the part after an update: protects the top
// of the part, where the boot block lies, with SRWD set so that WP# low makes
// it stick.
struct LockStatusRow {
    uint32_t hostBridgeId;
    uint8_t status;
};
const LockStatusRow LOCK_STATUS[] = {
    {HOST_BRIDGE_PCH, 0x94},
    {HOST_BRIDGE_ICH, 0xBC},
};

void gpioLevel(OS* os, unsigned short base, const GpioLine& line, bool high) {
    if (high)
        gpioSetBits(os, base + line.level, line.mask);
    else
        gpioClearBits(os, base + line.level, line.mask);
}

// Makes the pin a GPIO output, then drives it.
void gpioDrive(OS* os, unsigned short base, const GpioLine& line, bool high) {
    gpioSetBits(os, base + line.select, line.mask);
    gpioClearBits(os, base + line.direction, line.mask);
    gpioLevel(os, base, line, high);
}

// Low, high, low: the bank multiplexer switches on the rising edge.
void gpioPulse(OS* os, unsigned short base, const GpioLine& line) {
    gpioSetBits(os, base + line.select, line.mask);
    gpioClearBits(os, base + line.direction, line.mask);
    gpioLevel(os, base, line, false);
    gpioLevel(os, base, line, true);
    gpioLevel(os, base, line, false);
}

// Makes the pin a GPIO input and returns its level bit.
uint8_t gpioSense(OS* os, unsigned short base, const GpioLine& line) {
    gpioSetBits(os, base + line.select, line.mask);
    gpioSetBits(os, base + line.direction, line.mask);
    return uint8_t(os->inportByte(base + line.level) & line.mask);
}

// GPIO base, then the generation checks; on neither generation nothing is touched.
template <typename Act>
void forGpioGeneration(OS* os, bool reselect, Act act) {
    const unsigned short base = readGpioBase(os);
    forHostBridgeRows(os, GPIO_LINES, reselect,
                      [&](const GpioGenerationLines& lines) { act(base, lines); });
}

void driveLine(OS* os, GpioLine GpioGenerationLines::*which, bool high) {
    forGpioGeneration(os, false, [&](unsigned short base, const GpioGenerationLines& lines) {
        gpioDrive(os, base, lines.*which, high);
    });
}

// Starts the write-status cycle (with the updater's menu: entry 5, write-enable
// prefix 0) with the new status in FDATA0, from the entry the controller's
// menu really holds for it; false, with nothing started, when it holds none.
// SSFC bytes 15:8 and 23:16 are set to one data byte first: the cycle would
// otherwise take whatever count an earlier command left there, and a
// zero-length write-status changes nothing or the wrong bits.
bool startWriteStatus(OS* os, uint32_t spiBlock, const SpiMenu& menu) {
    SpiSwCommand record;
    if (!resolveSpiOp(menu, OP_WRITE_STATUS, &record)) return false;
    uint8_t scf = SSFC_SCF_DEFAULT;
    uint8_t dbc = SSFC_ONE_DATA_BYTE;
    uint8_t go = record.bytes[1];
    os->memWrite(spiBlock + SPI_SSFC_SCF, 1, &scf);
    os->memWrite(spiBlock + SPI_SSFC_DBC, 1, &dbc);
    os->memWrite(spiBlock + SPI_SSFC, 1, &go);
    return true;
}

}  // namespace

// ---- Members: the unlock steps of construction and identify ----

int ich10spiChipset::UnlockSPI_WP() {
    driveLine(os, &GpioGenerationLines::flashWriteProtect, true);
    return 1;
}

int ich10spiChipset::UnlockSPIFlash() {
    writeReg8(SPI_FDATA0, FLASH_STATUS_UNPROTECTED);
    Delay1mSec();
    // No wait: the next cycle start waits for SCIP. A menu without write
    // status is refused by program, loudly, before anything is written.
    startWriteStatus(os, spiAddress(0), menu);
    return 1;
}

// Clears the controller's status and protected range 0. The writes go to the
// SPI register block (HSFS, PR0), whose registers these are: the same offsets
// from the root-complex base itself are unrelated chipset registers, and
// writing zeros there could disturb the running machine. A zero written to
// HSFS clears nothing (its status bits are write-1-to-clear).
void ich10spiChipset::UnlockSPI() {
    writeReg8(SPI_HSFS, 0);
    Delay1mSec();
    writeReg32(SPI_PR0, 0);
}

void ich10spiChipset::UnlockBIOS() {
    pciSelect(os, PCI_LPC_BIOS_CNTL);
    Delay1mSec();
    os->outportByte(PCI_CONFIG_DATA, BIOS_CNTL_BIOSWE);
}

int ich10spiChipset::ClearLVCL() {
    uint8_t bytes[4] = {};
    readRegBytes(SPI_LVSCC, bytes, 4);
    std::printf(" DBG_MSG: the orignal SPI_LVSCC is: %02x %02x %02x %02x\n", bytes[3], bytes[2],
                bytes[1], bytes[0]);
    bytes[2] = uint8_t(bytes[2] & ~(LVSCC_VCL >> 16));
    writeRegBytes(SPI_LVSCC, bytes, 4);
    readRegBytes(SPI_LVSCC, bytes, 4);
    std::printf(" DBG_MSG: the ClearLVCL is: %02x %02x %02x %02x\n", bytes[3], bytes[2], bytes[1],
                bytes[0]);
    return 1;
}

unsigned char ich10spiChipset::ReadActiveBIOS() { return senseActiveBank(os); }

// Pulses the PCH generation's toggle line without checking the host bridge.
int ich10spiChipset::change_pb_gpio() {
    gpioPulse(os, readGpioBase(os), GPIO_LINES[0].bankToggle);
    return 1;
}

// ---- Free functions of the run sequence and the update procedure ----

// Bank state from the sense line; 0 (primary) on a host bridge of neither
// generation, where no line is known: the bank is then never toggled either.
unsigned char senseActiveBank(OS* os) {
    uint8_t state = 0;
    forGpioGeneration(os, true, [&](unsigned short base, const GpioGenerationLines& lines) {
        state = gpioSense(os, base, lines.bankSense);
    });
    return state;
}

int LockSPIFlash(OS* os, Platform* /*platform: not used*/) {
    const uint32_t spiBlock = readRootComplexBase(os) + SPI_BLOCK_OFFSET;
    const SpiMenu menu = readSpiMenu(os, spiBlock);
    forHostBridgeRows(os, LOCK_STATUS, false, [&](const LockStatusRow& row) {
        uint8_t status = row.status;
        os->memWrite(spiBlock + SPI_FDATA0, 1, &status);
        if (!startWriteStatus(os, spiBlock, menu)) reportUnservedSpiOp(OP_WRITE_STATUS);
    });
    return 0;
}

int LockSPI_WP(OS* os) {
    driveLine(os, &GpioGenerationLines::flashWriteProtect, false);
    return 0;
}

int change_pb_gpio(OS* os) {
    forGpioGeneration(os, true, [&](unsigned short base, const GpioGenerationLines& lines) {
        gpioPulse(os, base, lines.bankToggle);
    });
    return 1;
}

unsigned char ReadActiveBIOS(OS* os) {
    const uint8_t state = senseActiveBank(os);
    std::cout << (state == 0 ? "Current Active BIOS is Primary BIOS"
                             : "Current Active BIOS is Backup BIOS")
              << std::endl;
    return state;
}

int eepromLineLevel(OS* os) {
    int level = -1;
    forGpioGeneration(os, false, [&](unsigned short base, const GpioGenerationLines& lines) {
        const GpioLine& line = lines.eepromWriteProtect;
        level = (os->inportByte(base + line.level) & line.mask) != 0;
    });
    return level;
}

int LockEEPROM(OS* os) {
    driveLine(os, &GpioGenerationLines::eepromWriteProtect, true);
    return 1;
}

int UnlockEEPROM(OS* os) {
    driveLine(os, &GpioGenerationLines::eepromWriteProtect, false);
    return 1;
}
