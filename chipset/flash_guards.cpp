#include "chipset/flash_guards.h"

#include <cstdio>

#include "chipset/gpio_lines.h"
#include "chipset/ich10spi.h"
#include "chipset/ich10spi_regs.h"
#include "chipset/pci.h"
#include "chipset/spi_menu.h"
#include "chipset/spi_wait.h"
#include "os/os.h"

namespace {

// A status read or write takes microseconds to a few tens of milliseconds
// (write status: 15 ms on the slowest supported part); half a second is far
// beyond either, and short enough that a stuck controller costs no more.
constexpr PollBound GUARD_CYCLE_BOUND = {1000, 500};

// Status bits that are not protection: busy and write-enable latch.
constexpr uint8_t FLASH_STATUS_TRANSIENT = 0x03;

// One software-sequenced command chosen by its opcode from the menu the
// controller holds now: before the updater programs its own menu that is the
// firmware's, whose entries lie elsewhere.
class MenuCommand {
public:
    explicit MenuCommand(OS* host)
        : os(host), spi(readRootComplexBase(host) + SPI_BLOCK_OFFSET) {}

    // Reads one data byte with a read-without-address opcode.
    bool read(uint8_t opcode, uint8_t& value) {
        if (!run(opcode, OPTYPE_READ_NO_ADDR, false)) return false;
        value = reg8(SPI_FDATA0);
        return true;
    }

    // Writes one data byte with a write-without-address opcode, behind the
    // write-enable prefix.
    bool write(uint8_t opcode, uint8_t value) {
        put8(SPI_FDATA0, value);
        return run(opcode, OPTYPE_WRITE_NO_ADDR, true);
    }

private:
    uint8_t reg8(uint32_t offset) {
        uint8_t value = 0;
        os->memRead(spi + offset, 1, &value);
        return value;
    }
    void put8(uint32_t offset, uint8_t value) { os->memWrite(spi + offset, 1, &value); }

    bool run(uint8_t opcode, uint16_t type, bool writeEnable) {
        // No preferred entry: the first that holds the opcode with its type.
        const SpiOp op = {"", opcode, type, SPI_MENU_ENTRIES, uint8_t(writeEnable ? SSFC_ACS : 0), 1};
        SpiSwCommand record;
        if (!resolveSpiOp(readSpiMenu(os, spi), op, &record)) return false;
        if (!pollUntil(os, GUARD_CYCLE_BOUND, [&] { return (reg8(SPI_SSFS) & SSFS_SCIP) == 0; }))
            return false;
        put8(SPI_SSFS, SSFS_CDS | SSFS_FCERR);  // whatever an earlier cycle left
        put8(SPI_SSFC_SCF, SSFC_SCF_DEFAULT);
        put8(SPI_SSFC_DBC, SSFC_ONE_DATA_BYTE);
        put8(SPI_SSFC, record.bytes[1]);
        uint8_t ssfs = 0;
        const bool ended = pollUntil(os, GUARD_CYCLE_BOUND, [&] {
            ssfs = reg8(SPI_SSFS);
            return (ssfs & (SSFS_CDS | SSFS_FCERR)) != 0;
        });
        put8(SPI_SSFS, SSFS_CDS | SSFS_FCERR);
        return ended && (ssfs & SSFS_FCERR) == 0;
    }

    OS* os;
    uint32_t spi;
};

uint8_t readBiosControl(OS* os) {
    pciSelect(os, PCI_LPC_BIOS_CNTL);
    return os->inportByte(PCI_CONFIG_DATA);
}

void writeBits(OS* os, unsigned short port, uint8_t mask, uint8_t bits) {
    if (bits) gpioSetBits(os, port, mask);
    else gpioClearBits(os, port, mask);
}

// The level goes first so that a line found as a driven output never glitches.
void restoreWriteProtectLine(OS* os, const FlashGuards& found) {
    if (!found.wpKnown) return;
    const unsigned short base = readGpioBase(os);
    forHostBridgeRows(os, GPIO_LINES, true, [&](const GpioGenerationLines& lines) {
        const GpioLine& line = lines.flashWriteProtect;
        writeBits(os, base + line.level, line.mask, found.wpLevel);
        writeBits(os, base + line.direction, line.mask, found.wpDirection);
        writeBits(os, base + line.select, line.mask, found.wpSelect);
    });
}

void restoreStatus(OS* os, const FlashGuards& found) {
    if (!found.statusKnown) {
        LockSPIFlash(os, nullptr);
        return;
    }
    MenuCommand command(os);
    uint8_t now = 0;
    const bool readable = command.read(SPI_OP_READ_STATUS, now);
    const uint8_t want = uint8_t(found.status & ~FLASH_STATUS_TRANSIENT);
    if (readable && uint8_t(now & ~FLASH_STATUS_TRANSIENT) == want) return;
    command.write(SPI_OP_WRITE_STATUS, want);
    if (!command.read(SPI_OP_READ_STATUS, now) || uint8_t(now & ~FLASH_STATUS_TRANSIENT) != want)
        std::fprintf(stderr,
                     "The flash status register could not be put back to 0x%02X as found "
                     "(it reads 0x%02X); the part's block protection may be open\n",
                     want, now);
}

}  // namespace

FlashGuards readFlashGuards(OS* os) {
    FlashGuards found;
    const unsigned short base = readGpioBase(os);
    forHostBridgeRows(os, GPIO_LINES, true, [&](const GpioGenerationLines& lines) {
        const GpioLine& line = lines.flashWriteProtect;
        found.wpKnown = true;
        found.wpSelect = uint8_t(os->inportByte(base + line.select) & line.mask);
        found.wpDirection = uint8_t(os->inportByte(base + line.direction) & line.mask);
        found.wpLevel = uint8_t(os->inportByte(base + line.level) & line.mask);
    });
    found.biosControl = readBiosControl(os);
    found.statusKnown = MenuCommand(os).read(SPI_OP_READ_STATUS, found.status);
    return found;
}

void restoreFlashGuards(OS* os, const FlashGuards& found) {
    restoreStatus(os, found);
    restoreWriteProtectLine(os, found);
    restoreBiosControl(os, found);
}

void restoreBiosControl(OS* os, const FlashGuards& found) {
    if (readBiosControl(os) == found.biosControl) return;
    pciSelect(os, PCI_LPC_BIOS_CNTL);
    os->outportByte(PCI_CONFIG_DATA, found.biosControl);
}
