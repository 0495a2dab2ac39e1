#include "chipset/flash_guards.h"

#include <cstdio>

#include "chipset/flash_parts.h"
#include "chipset/gpio_lines.h"
#include "chipset/ich10spi.h"
#include "chipset/ich10spi_regs.h"
#include "chipset/pci.h"
#include "chipset/spi_menu.h"
#include "chipset/spi_wait.h"
#include "os/os.h"

namespace {

constexpr unsigned JEDEC_ID_SIZE = 3;

// A status read takes microseconds: a controller that has not finished one
// within 10 ms is stuck, and the run should not wait seconds to learn it. It
// may have to wait for the unlock's status write, which nobody waits for.
constexpr unsigned long STATUS_READ_MS = 10;
constexpr PollBound STATUS_READ_DONE_BOUND = {SPI_CYCLE_SPIN_POLLS, STATUS_READ_MS};
constexpr PollBound STATUS_CYCLE_START_BOUND = {SPI_CYCLE_SPIN_POLLS,
                                                SLOWEST_STATUS_WRITE_MS + STATUS_READ_MS};

// One software-sequenced command started from the menu the controller holds
// now: before the updater programs its own menu that is the firmware's.
class MenuCommand {
public:
    explicit MenuCommand(OS* host)
        : os(host), spi(readRootComplexBase(host) + SPI_BLOCK_OFFSET), menu(readSpiMenu(os, spi)) {}

    bool read(const SpiOp& op, uint8_t& value) { return readBytes(op, &value, 1); }

    bool readBytes(const SpiOp& op, uint8_t* bytes, unsigned count) {
        if (!run(op, STATUS_READ_DONE_BOUND)) return false;
        for (unsigned i = 0; i < count; ++i) bytes[i] = reg8(SPI_FDATA0 + i);
        return true;
    }

    bool write(const SpiOp& op, uint8_t value) {
        put8(SPI_FDATA0, value);
        return run(op, SW_CYCLE_DONE_BOUND);
    }

private:
    uint8_t reg8(uint32_t offset) {
        uint8_t value = 0;
        os->memRead(spi + offset, 1, &value);
        return value;
    }
    void put8(uint32_t offset, uint8_t value) { os->memWrite(spi + offset, 1, &value); }

    bool run(const SpiOp& op, const PollBound& done) {
        SpiSwCommand record;
        if (!resolveSpiOp(menu, op, &record)) return false;
        if (!pollUntil(os, STATUS_CYCLE_START_BOUND, [&] { return (reg8(SPI_SSFS) & SSFS_SCIP) == 0; }))
            return false;
        put8(SPI_SSFS, SSFS_CDS | SSFS_FCERR);  // whatever an earlier cycle left
        for (unsigned byte = 3; byte >= 1; --byte) put8(SPI_SSFS + byte, record.bytes[byte]);
        uint8_t ssfs = 0;
        const bool ended = pollUntil(os, done, [&] {
            ssfs = reg8(SPI_SSFS);
            return (ssfs & (SSFS_CDS | SSFS_FCERR)) != 0;
        });
        put8(SPI_SSFS, SSFS_CDS | SSFS_FCERR);
        return ended && (ssfs & SSFS_FCERR) == 0;
    }

    OS* os;
    uint32_t spi;
    SpiMenu menu;
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
    const bool readable = command.read(OP_READ_STATUS, now);
    const uint8_t bits = protectionStatusBits(found.part);
    const uint8_t want = uint8_t(found.status & bits);
    if (readable && uint8_t(now & bits) == want) return;
    command.write(OP_WRITE_STATUS, statusWriteFor(found.part, found.status));
    if (!command.read(OP_READ_STATUS, now) || uint8_t(now & bits) != want)
        std::fprintf(stderr,
                     "The flash status register could not be put back to 0x%02X as found "
                     "(it reads 0x%02X); the part's block protection may be open\n",
                     found.status, now);
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
    MenuCommand command(os);
    found.statusKnown = command.read(OP_READ_STATUS, found.status);
    uint8_t identity[JEDEC_ID_SIZE] = {};
    if (command.readBytes(OP_READ_JEDEC_ID, identity, JEDEC_ID_SIZE))
        found.part = knownFlashPart(identity);
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
