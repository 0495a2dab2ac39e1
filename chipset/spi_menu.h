// The opcode menu as the controller really holds it. The updater programs its
// own menu, but a controller locked down by the firmware (FLOCKDN) keeps the
// firmware's menu, where an entry number may name any opcode at all. So every
// software-sequenced cycle is started from an operation that says which
// opcode and cycle type it needs; the entry (and the write-enable prefix) is
// looked up in the menu read back from the controller, and an operation the
// menu cannot serve is never started.
#pragma once
#include <cstdint>

#include "chipset/ich10spi_regs.h"
#include "os/os.h"

struct SpiOp {
    const char* name;    // for the refusal
    uint8_t opcode;
    uint16_t type;       // OPTYPE_* the opcode needs
    unsigned entry;      // the entry that holds it in the updater's own menu
    uint8_t flags;       // SSFC_ACS (write-enable prefix first), SSFC_SPOP (preferred prefix 1)
    unsigned dataBytes;  // 0: no data phase
};

constexpr SpiOp OP_READ_JEDEC_ID = {"read identity", SPI_OP_READ_JEDEC_ID, OPTYPE_READ_NO_ADDR,
                                    MENU_READ_JEDEC_ID, 0, 4};
constexpr SpiOp OP_READ_STATUS = {"read status", SPI_OP_READ_STATUS, OPTYPE_READ_NO_ADDR,
                                  MENU_READ_STATUS, 0, 1};
constexpr SpiOp OP_WRITE_ENABLE = {"write enable", SPI_OP_WRITE_ENABLE, OPTYPE_WRITE_NO_ADDR,
                                   MENU_WRITE_ENABLE, 0, 0};
constexpr SpiOp OP_WRITE_ENABLE_ATOMIC = {"write enable", SPI_OP_WRITE_ENABLE,
                                          OPTYPE_WRITE_NO_ADDR, MENU_WRITE_ENABLE, SSFC_ACS, 0};
// Block-protection clear: write status after the write-enable prefix.
constexpr SpiOp OP_CLEAR_PROTECTION = {"write status", SPI_OP_WRITE_STATUS, OPTYPE_WRITE_NO_ADDR,
                                       MENU_WRITE_STATUS, SSFC_ACS | SSFC_SPOP, 1};
// The unlock and lock steps' write status (prefix 0).
constexpr SpiOp OP_WRITE_STATUS = {"write status", SPI_OP_WRITE_STATUS, OPTYPE_WRITE_NO_ADDR,
                                   MENU_WRITE_STATUS, SSFC_ACS, 1};
constexpr SpiOp OP_CHIP_ERASE = {"chip erase", SPI_OP_CHIP_ERASE, OPTYPE_WRITE_NO_ADDR,
                                 MENU_SECTOR_ERASE, SSFC_ACS, 0};
// 64 KiB erase: the hardware sequencer erases only the controller's 4 KiB
// granularity, so the larger erase runs from the menu.
constexpr SpiOp OP_BLOCK_ERASE = {"64 KiB erase", SPI_OP_BLOCK_ERASE, OPTYPE_WRITE_ADDR,
                                  MENU_BLOCK_ERASE, SSFC_ACS, 0};
constexpr SpiOp OP_READ_ONE_BYTE = {"read", SPI_OP_READ, OPTYPE_READ_ADDR, MENU_READ, 0, 1};
// readSpiByte's own set-up holds the read opcode at entry 2.
constexpr SpiOp OP_BYTE_READ = {"read", SPI_OP_READ, OPTYPE_READ_ADDR, MENU_SECTOR_ERASE, 0, 1};

constexpr unsigned SPI_MENU_ENTRIES = 8;

struct SpiMenu {
    uint8_t opcodes[SPI_MENU_ENTRIES];
    uint16_t optype;
    uint8_t preop[2];
};

// Reads OPMENU, OPTYPE and PREOP from the SPI register block at spiBlock.
SpiMenu readSpiMenu(OS* os, uint32_t spiBlock);

// The command record that starts op on this menu: op's own entry when it
// holds the opcode with the right type, else the first entry that does; for
// an atomic op, the prefix that holds write enable. False when the menu has
// no such entry or prefix.
bool resolveSpiOp(const SpiMenu& menu, const SpiOp& op, SpiSwCommand* record);

// Standard-error refusal for an operation the menu cannot serve.
void reportUnservedSpiOp(const SpiOp& op);
