#include "chipset/spi_menu.h"

#include <cstdio>

namespace {
bool entryServes(const SpiMenu& menu, unsigned entry, const SpiOp& op) {
    const unsigned type = (menu.optype >> (2 * entry)) & 0x3;
    return menu.opcodes[entry] == op.opcode && type == op.type;
}
}  // namespace

SpiMenu readSpiMenu(OS* os, uint32_t spiBlock) {
    SpiMenu menu = {};
    uint8_t optype[2] = {};
    os->memRead(spiBlock + SPI_OPMENU, SPI_MENU_ENTRIES, menu.opcodes);
    os->memRead(spiBlock + SPI_OPTYPE, sizeof optype, optype);
    os->memRead(spiBlock + SPI_PREOP, sizeof menu.preop, menu.preop);
    menu.optype = uint16_t(optype[0] | optype[1] << 8);
    return menu;
}

bool resolveSpiOp(const SpiMenu& menu, const SpiOp& op, SpiSwCommand* record) {
    unsigned entry = op.entry;
    if (entry >= SPI_MENU_ENTRIES || !entryServes(menu, entry, op)) {
        entry = SPI_MENU_ENTRIES;
        for (unsigned e = 0; e < SPI_MENU_ENTRIES && entry == SPI_MENU_ENTRIES; ++e)
            if (entryServes(menu, e, op)) entry = e;
        if (entry == SPI_MENU_ENTRIES) return false;
    }
    uint8_t flags = op.flags;
    if (flags & SSFC_ACS) {
        const unsigned preferred = (flags & SSFC_SPOP) ? 1 : 0;
        if (menu.preop[preferred] != SPI_OP_WRITE_ENABLE) {
            if (menu.preop[1 - preferred] != SPI_OP_WRITE_ENABLE) return false;
            flags = uint8_t(flags ^ SSFC_SPOP);
        }
    }
    *record = spiSwCommand(entry, flags, op.dataBytes);
    return true;
}

void reportUnservedSpiOp(const SpiOp& op) {
    std::fprintf(stderr,
                 "The SPI controller's opcode menu has no %s entry (opcode 0x%02X%s) and the "
                 "firmware has locked it against changes; the cycle was not started\n",
                 op.name, op.opcode, (op.flags & SSFC_ACS) ? " after write enable" : "");
}
