// Registers of the south bridge's SPI controller as the simulated hardware
// decodes them, and the SPI NOR opcodes the simulated flash parts implement.
// Offsets are from the SPI register block (root-complex base + 0x3800).
#pragma once
#include <cstdint>

namespace simspi {

// Hardware-sequencing flash status (16 bit).
constexpr uint32_t HSFS = 0x04;
constexpr uint16_t HSFS_FDONE = 1u << 0;   // cycle done, write 1 to clear
constexpr uint16_t HSFS_FCERR = 1u << 1;   // cycle error, write 1 to clear
constexpr uint16_t HSFS_AEL = 1u << 2;     // access error log, write 1 to clear
constexpr uint16_t HSFS_W1C = HSFS_FDONE | HSFS_FCERR | HSFS_AEL;
constexpr unsigned HSFS_BERASE_SHIFT = 3;  // bits 4:3 erase granularity
constexpr uint16_t HSFS_BERASE_4K = 1u << HSFS_BERASE_SHIFT;
constexpr uint16_t HSFS_SCIP = 1u << 5;    // hardware cycle in progress
constexpr uint16_t HSFS_FDOPSS = 1u << 13; // descriptor override strap not set
constexpr uint16_t HSFS_FDV = 1u << 14;    // flash descriptor valid
constexpr uint16_t HSFS_FLOCKDN = 1u << 15;

// Hardware-sequencing flash control (16 bit).
constexpr uint32_t HSFC = 0x06;
constexpr uint16_t HSFC_FGO = 1u << 0;     // go; reads back 0
constexpr unsigned HSFC_FCYCLE_SHIFT = 1;  // bits 2:1
constexpr uint16_t HSFC_FCYCLE_MASK = 3u << HSFC_FCYCLE_SHIFT;
constexpr unsigned HSFC_FDBC_SHIFT = 8;    // bits 13:8, bytes - 1
constexpr uint16_t HSFC_FDBC_MASK = 0x3Fu << HSFC_FDBC_SHIFT;
constexpr uint16_t HSFC_WRITABLE = HSFC_FCYCLE_MASK | HSFC_FDBC_MASK;

enum FlashCycle : unsigned { FCYCLE_READ = 0, FCYCLE_RESERVED = 1, FCYCLE_WRITE = 2, FCYCLE_ERASE = 3 };

// Flash linear address (24 bits decoded; the top byte reads 0).
constexpr uint32_t FADDR = 0x08;
constexpr uint32_t FADDR_MASK = 0x00FFFFFF;

// Data buffer FDATA0..FDATA15, shared by both cycle kinds.
constexpr uint32_t FDATA0 = 0x10;
constexpr uint32_t FDATA_SIZE = 64;

// Storage-only registers of the simulated boards.
constexpr uint32_t FRAP = 0x50;
constexpr uint32_t FREG0 = 0x54;
constexpr uint32_t PR0 = 0x74;  // PR0..PR4 read 0: no range is protected
constexpr uint32_t PR_END = 0x88;
constexpr uint32_t BBAR = 0xA0;
constexpr uint32_t FDOC = 0xB0;
constexpr uint32_t FDOD = 0xB4;
constexpr uint32_t AFC = 0xC0;
constexpr uint32_t LVSCC = 0xC4;
constexpr uint32_t UVSCC = 0xC8;

// Software-sequencing flash status (8 bit).
constexpr uint32_t SSFS = 0x90;
constexpr uint8_t SSFS_SCIP = 1u << 0;   // cycle in progress, read-only
constexpr uint8_t SSFS_CDS = 1u << 2;    // cycle done, write 1 to clear
constexpr uint8_t SSFS_FCERR = 1u << 3;  // cycle error, write 1 to clear
constexpr uint8_t SSFS_AEL = 1u << 4;    // access error log, write 1 to clear
constexpr uint8_t SSFS_W1C = SSFS_CDS | SSFS_FCERR | SSFS_AEL;

// Software-sequencing flash control, 24 bits at 0x91..0x93. Bits below are
// of the 24-bit value; SCGO lives in byte 0x91.
constexpr uint32_t SSFC = 0x91;
constexpr uint32_t SSFC_SCGO = 1u << 1;   // go; reads back 0
constexpr uint32_t SSFC_ACS = 1u << 2;    // atomic: prefix opcode first, poll busy after
constexpr uint32_t SSFC_SPOP = 1u << 3;   // which prefix opcode
constexpr unsigned SSFC_COP_SHIFT = 4;    // bits 6:4 opcode menu index
constexpr uint32_t SSFC_COP_MASK = 7u << SSFC_COP_SHIFT;
constexpr unsigned SSFC_DBC_SHIFT = 8;    // bits 13:8 data bytes - 1
constexpr uint32_t SSFC_DBC_MASK = 0x3Fu << SSFC_DBC_SHIFT;
constexpr uint32_t SSFC_DS = 1u << 14;    // data phase
constexpr unsigned SSFC_SCF_SHIFT = 16;   // bits 18:16 clock

constexpr uint32_t PREOP = 0x94;   // two prefix opcodes
constexpr uint32_t OPTYPE = 0x96;  // 2 bits per opcode menu entry
constexpr uint32_t OPMENU = 0x98;  // eight opcodes
constexpr unsigned OPMENU_ENTRIES = 8;

// OPTYPE values of one menu entry.
constexpr unsigned OPTYPE_WRITE = 1u << 0;    // data goes to the flash
constexpr unsigned OPTYPE_ADDRESS = 1u << 1;  // the opcode is followed by FADDR

}  // namespace simspi

// SPI NOR flash opcodes and status-register bits.
namespace spinor {

constexpr uint8_t WRSR = 0x01;  // write status register
constexpr uint8_t PP = 0x02;    // page program
constexpr uint8_t READ = 0x03;
constexpr uint8_t WRDI = 0x04;
constexpr uint8_t RDSR = 0x05;
constexpr uint8_t WREN = 0x06;
constexpr uint8_t SE = 0x20;    // 4 KiB sector erase
constexpr uint8_t BE = 0xD8;    // 64 KiB block erase
constexpr uint8_t CE = 0x60;    // chip erase
constexpr uint8_t CE_ALT = 0xC7;
constexpr uint8_t RDID = 0x9F;  // JEDEC identity

constexpr uint8_t SR_WIP = 1u << 0;
constexpr uint8_t SR_WEL = 1u << 1;
constexpr uint8_t SR_TB = 1u << 5;    // Winbond top/bottom, kept beside BP2..BP0
constexpr uint8_t SR_SRWD = 1u << 7;  // SPRL on the Atmel part

constexpr uint32_t PAGE_SIZE = 256;
constexpr uint32_t SECTOR_SIZE = 4096;
constexpr uint32_t BLOCK_SIZE = 64 * 1024;  // erased by BE
constexpr uint32_t PROTECT_UNIT = 64 * 1024;  // block-protect value 1 guards this much
constexpr uint32_t ADDRESS_BYTES = 3;
constexpr uint8_t IDLE_BUS = 0xFF;  // MISO when the part drives nothing

}  // namespace spinor
