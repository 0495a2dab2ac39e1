// What program checks before it touches the flash: that BIOS writes are
// really enabled, that the part is the size the flash map was laid out for,
// and that the opcode menu can serve the status cycles every block needs.
// Each refusal names its cause; nothing has been erased or written by then.
#include <cstdio>
#include <initializer_list>

#include "chipset/flash_parts.h"
#include "chipset/ich10spi.h"
#include "chipset/pci.h"
#include "chipset/spi_menu.h"
#include "os/os.h"

namespace {
constexpr uint32_t BIOS_CNTL_BYTE = 0xFF;

// BIOSWE as the LPC bridge holds it after the unlock wrote it. With BLE set
// the firmware's SMI handler clears it again at once; a firmware may also
// keep it clear in other ways. Either way the controller would refuse every
// erase and write with FCERR, whatever the write-protect line does.
int checkBiosWritesEnabled(OS* os) {
    const uint8_t control = uint8_t(pciReadDword(os, PCI_LPC_BIOS_CNTL) & BIOS_CNTL_BYTE);
    if (control & BIOS_CNTL_BIOSWE) return 0;
    std::fprintf(stderr,
                 "The firmware locks BIOS writes: BIOS write enable does not stay set "
                 "(BIOS control register 0x%02X%s); nothing was written\n",
                 control, (control & BIOS_CNTL_BLE) ? ", BIOS lock enable set" : "");
    return SPI_ERR_BIOS_LOCKED;
}

int checkPartSize(OS* os, const FlashPartRow* part) {
    int result = 0;
    forHostBridgeRows(os, SKIP_MARKS, false, [&](const SkipMarkRow& row) {
        if (part == nullptr || part->size == row.flashSize) return;
        std::fprintf(stderr,
                     "Flash part %s holds 0x%X bytes, but this machine's flash map is laid out "
                     "for a 0x%X-byte part; nothing was written\n",
                     part->name, unsigned(part->size), unsigned(row.flashSize));
        result = SPI_ERR_WRONG_PART;
    });
    return result;
}
}  // namespace

int ich10spiChipset::checkPartFitsMap() const { return checkPartSize(os, part); }

int ich10spiChipset::checkReadyToWrite() {
    int result = checkBiosWritesEnabled(os);
    if (result == 0) result = checkPartSize(os, part);
    if (result != 0) return result;
    for (const SpiOp* op : {&OP_READ_STATUS, &OP_CLEAR_PROTECTION, &OP_WRITE_STATUS}) {
        SpiSwCommand record;
        if (!resolveSpiOp(menu, *op, &record)) {
            reportUnservedSpiOp(*op);
            return SPI_ERR_NO_OPCODE;
        }
    }
    return 0;
}
