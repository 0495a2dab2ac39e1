// Registers of the ICH10 / 5-series PCH SPI controller and the opcode menu
// this updater programs into it. Offsets are from the SPI register block,
// which lies at root-complex base + SPI_BLOCK_OFFSET.
#pragma once
#include <cstdint>

// Offset of the SPI register block from the root-complex base (RCBA).
constexpr uint32_t SPI_BLOCK_OFFSET = 0x3800;

// ---- Register offsets, from the SPI register block base ----
constexpr uint32_t SPI_BFPR = 0x00;      // BIOS flash primary region (dump only)
constexpr uint32_t SPI_HSFS = 0x04;      // hardware sequencing flash status
constexpr uint32_t SPI_HSFC = 0x06;      // hardware sequencing flash control, bits 7:0
constexpr uint32_t SPI_HSFC_HI = 0x07;   // hardware sequencing flash control, bits 15:8 (FDBC)
constexpr uint32_t SPI_FADDR = 0x08;     // flash linear address, both cycle kinds
constexpr uint32_t SPI_FDATA0 = 0x10;    // FDATA0..FDATA15: 64-byte data buffer
constexpr uint32_t SPI_FRAP = 0x50;      // flash region access permissions (dump only)
constexpr uint32_t SPI_FREG0 = 0x54;     // FREG0..FREG4, 4 bytes apart (dump only)
constexpr uint32_t SPI_PR0 = 0x74;       // protected ranges PR0..PR4, 4 bytes apart
constexpr uint32_t SPI_SSFS = 0x90;      // software sequencing flash status
constexpr uint32_t SPI_SSFC = 0x91;      // software sequencing control, bits 7:0 (SCGO, COP ...)
constexpr uint32_t SPI_SSFC_DBC = 0x92;  // software sequencing control, bits 15:8 (DBC, DS)
constexpr uint32_t SPI_SSFC_SCF = 0x93;  // software sequencing control, bits 23:16 (SCF)
constexpr uint32_t SPI_PREOP = 0x94;     // prefix opcodes 0 and 1
constexpr uint32_t SPI_OPTYPE = 0x96;    // cycle type of each opcode-menu entry
constexpr uint32_t SPI_OPMENU = 0x98;    // opcode-menu entries 0..3
constexpr uint32_t SPI_OPMENU_HI = 0x9C; // opcode-menu entries 4..7
constexpr uint32_t SPI_BBAR = 0xA0;      // BIOS base address (dump only)
constexpr uint32_t SPI_FDOC = 0xB0;      // flash descriptor observability control (dump only)
constexpr uint32_t SPI_FDOD = 0xB4;      // flash descriptor observability data (dump only)
constexpr uint32_t SPI_AFC = 0xC0;       // additional flash control (dump only)
constexpr uint32_t SPI_LVSCC = 0xC4;     // lower vendor-specific component capabilities
constexpr uint32_t SPI_UVSCC = 0xC8;     // upper vendor-specific component capabilities

constexpr uint32_t SPI_FDATA_SIZE = 64;  // bytes of FDATA0..FDATA15
constexpr uint32_t SPI_REG_STRIDE = 4;   // distance between FREGn / PRn / FDATAn

// ---- HSFS bits ----
constexpr uint8_t HSFS_FDONE = 0x01;  // cycle done (write 1 to clear)
constexpr uint8_t HSFS_FCERR = 0x02;  // cycle error (write 1 to clear)

// ---- HSFC bits (byte at SPI_HSFC) ----
constexpr uint8_t HSFC_FGO = 0x01;           // start the hardware cycle
constexpr unsigned HSFC_FCYCLE_SHIFT = 1;    // bits 2:1 FCYCLE
constexpr uint8_t HSFC_FCYCLE_MASK = 0x06;
constexpr uint8_t FCYCLE_READ = 0x0;
constexpr uint8_t FCYCLE_WRITE = 0x2;
constexpr uint8_t FCYCLE_ERASE = 0x3;
constexpr uint8_t HSFC_FDBC_MASK = 0x3F;     // byte at SPI_HSFC_HI: data bytes - 1

// ---- SSFS bits ----
constexpr uint8_t SSFS_SCIP = 0x01;   // software cycle in progress
constexpr uint8_t SSFS_CDS = 0x04;    // cycle done status (write 1 to clear)
constexpr uint8_t SSFS_FCERR = 0x08;  // cycle error (write 1 to clear)

// ---- SSFC bits ----
constexpr uint8_t SSFC_SCGO = 0x02;         // byte 0x91: start the software cycle
constexpr uint8_t SSFC_ACS = 0x04;          // byte 0x91: atomic sequence (prefix opcode first)
constexpr uint8_t SSFC_SPOP = 0x08;         // byte 0x91: use prefix opcode 1 instead of 0
constexpr unsigned SSFC_COP_SHIFT = 4;      // byte 0x91 bits 6:4: opcode-menu index
constexpr uint8_t SSFC_COP_MASK = 0x70;
constexpr uint8_t SSFC_DBC_MASK = 0x3F;     // byte 0x92 bits 5:0: data bytes - 1
constexpr uint8_t SSFC_DS = 0x40;           // byte 0x92: the cycle has a data phase

// ---- LVSCC bits ----
constexpr uint32_t LVSCC_VCL = 0x00800000;  // vendor component lock

// FADDR carries a 24-bit address; the updater reduces addresses into the
// 8 MiB window of the largest supported part.
constexpr uint32_t SPI_FADDR_WINDOW = 0x800000;
constexpr uint32_t SPI_FADDR_MASK = 0xFFFFFF;

// The controller maps the part, top-aligned, below 4 GiB (the BIOS window).
constexpr uint64_t BIOS_WINDOW_TOP = 0x100000000ull;

// ---- SPI flash opcodes ----
constexpr uint8_t SPI_OP_WRITE_STATUS = 0x01;
constexpr uint8_t SPI_OP_PAGE_PROGRAM = 0x02;
constexpr uint8_t SPI_OP_READ = 0x03;
constexpr uint8_t SPI_OP_READ_STATUS = 0x05;
constexpr uint8_t SPI_OP_WRITE_ENABLE = 0x06;
constexpr uint8_t SPI_OP_FAST_READ = 0x0B;
constexpr uint8_t SPI_OP_SECTOR_ERASE = 0x20;  // 4 KiB
constexpr uint8_t SPI_OP_CHIP_ERASE = 0x60;
constexpr uint8_t SPI_OP_BLOCK_ERASE = 0xD8;    // 64 KiB
constexpr uint8_t SPI_OP_READ_JEDEC_ID = 0x9F;
constexpr uint8_t SPI_OP_NONE = 0x00;

// Flash status register bits.
constexpr uint8_t FLASH_STATUS_WIP = 0x01;  // write in progress (busy)
constexpr uint8_t FLASH_STATUS_UNPROTECTED = 0x00;  // no block protection, SRWD clear
// Block-protect bits of the status register (BP0..BP3 / TB on every supported part).
constexpr uint8_t FLASH_STATUS_BLOCK_PROTECT = 0x3C;

// ---- The opcode menu the updater programs ----
// Menu entries (the COP field of a software-sequenced command).
constexpr unsigned MENU_PAGE_PROGRAM = 0;
constexpr unsigned MENU_READ = 1;
constexpr unsigned MENU_SECTOR_ERASE = 2;   // chip erase while eraseChip runs
constexpr unsigned MENU_READ_STATUS = 3;
constexpr unsigned MENU_READ_JEDEC_ID = 4;
constexpr unsigned MENU_WRITE_STATUS = 5;
constexpr unsigned MENU_WRITE_ENABLE = 6;
constexpr unsigned MENU_BLOCK_ERASE = 7;    // 64 KiB erase, by software sequencing only

// OPTYPE: two bits per menu entry.
constexpr uint16_t OPTYPE_READ_NO_ADDR = 0x0;
constexpr uint16_t OPTYPE_WRITE_NO_ADDR = 0x1;
constexpr uint16_t OPTYPE_READ_ADDR = 0x2;
constexpr uint16_t OPTYPE_WRITE_ADDR = 0x3;
constexpr uint16_t optypeEntry(unsigned entry, uint16_t type) { return uint16_t(type << (2 * entry)); }

// The OPTYPE value that goes with the menu below (0xD43B).
constexpr uint16_t SPI_MENU_OPTYPE =
    optypeEntry(MENU_PAGE_PROGRAM, OPTYPE_WRITE_ADDR) | optypeEntry(MENU_READ, OPTYPE_READ_ADDR) |
    optypeEntry(MENU_SECTOR_ERASE, OPTYPE_WRITE_ADDR) |
    optypeEntry(MENU_READ_STATUS, OPTYPE_READ_NO_ADDR) |
    optypeEntry(MENU_READ_JEDEC_ID, OPTYPE_READ_NO_ADDR) |
    optypeEntry(MENU_WRITE_STATUS, OPTYPE_WRITE_NO_ADDR) |
    optypeEntry(MENU_WRITE_ENABLE, OPTYPE_WRITE_NO_ADDR) |
    optypeEntry(MENU_BLOCK_ERASE, OPTYPE_WRITE_ADDR);
static_assert(SPI_MENU_OPTYPE == 0xD43B, "opcode types of the updater's menu");

// Menu bytes, lowest address first.
constexpr uint8_t SPI_MENU_LOW[4] = {SPI_OP_PAGE_PROGRAM, SPI_OP_READ, SPI_OP_SECTOR_ERASE,
                                     SPI_OP_READ_STATUS};
constexpr uint8_t SPI_MENU_HIGH[4] = {SPI_OP_READ_JEDEC_ID, SPI_OP_WRITE_STATUS,
                                      SPI_OP_WRITE_ENABLE, SPI_OP_BLOCK_ERASE};
constexpr uint8_t SPI_MENU_PREOP[2] = {SPI_OP_WRITE_ENABLE, SPI_OP_WRITE_ENABLE};
// Menu entries 0..3 while eraseChip runs: entry 2 is the chip erase.
constexpr uint8_t SPI_MENU_LOW_CHIP_ERASE[4] = {SPI_OP_PAGE_PROGRAM, SPI_OP_READ, SPI_OP_CHIP_ERASE,
                                                SPI_OP_READ_STATUS};
// Their types: entry 2 becomes "write, no address", so that the part sees the
// chip-erase opcode alone (followed by an address it would ignore the command).
constexpr uint16_t SPI_CHIP_ERASE_OPTYPE =
    uint16_t((SPI_MENU_OPTYPE & ~optypeEntry(MENU_SECTOR_ERASE, 3)) |
             optypeEntry(MENU_SECTOR_ERASE, OPTYPE_WRITE_NO_ADDR));
// readSpiByte's own set-up: only entry 2 (plain read) is used, as a read with address.
constexpr uint16_t SPI_BYTE_READ_OPTYPE = optypeEntry(MENU_SECTOR_ERASE, OPTYPE_READ_ADDR);
constexpr uint8_t SPI_MENU_LOW_BYTE_READ[4] = {SPI_OP_NONE, SPI_OP_FAST_READ, SPI_OP_READ,
                                               SPI_OP_READ_STATUS};

// ---- Command records ----
// Software-sequenced record: the image of the dword at SPI_SSFS
// (SSFS, SSFC 7:0, SSFC 15:8, SSFC 23:16).
struct SpiSwCommand {
    uint8_t bytes[4];
};
constexpr SpiSwCommand spiSwCommand(unsigned menuEntry, uint8_t flags, unsigned dataBytes) {
    return SpiSwCommand{{0, uint8_t((menuEntry << SSFC_COP_SHIFT) | flags | SSFC_SCGO),
                         uint8_t(dataBytes ? (SSFC_DS | ((dataBytes - 1) & SSFC_DBC_MASK)) : 0),
                         0}};
}
constexpr SpiSwCommand CMD_READ_JEDEC_ID = spiSwCommand(MENU_READ_JEDEC_ID, 0, 4);    // 00 42 43 00
constexpr SpiSwCommand CMD_WRITE_ENABLE = spiSwCommand(MENU_WRITE_ENABLE, 0, 0);      // 00 62 00 00
constexpr SpiSwCommand CMD_WRITE_ENABLE_ATOMIC =
    spiSwCommand(MENU_WRITE_ENABLE, SSFC_ACS, 0);                                      // 00 66 00 00
constexpr SpiSwCommand CMD_READ_STATUS = spiSwCommand(MENU_READ_STATUS, 0, 1);        // 00 32 40 00
constexpr SpiSwCommand CMD_CLEAR_PROTECTION =
    spiSwCommand(MENU_WRITE_STATUS, SSFC_ACS | SSFC_SPOP, 1);                          // 00 5E 40 00
constexpr SpiSwCommand CMD_CHIP_ERASE = spiSwCommand(MENU_SECTOR_ERASE, SSFC_ACS, 0);  // 00 26 00 00
constexpr SpiSwCommand CMD_READ_ONE_BYTE = spiSwCommand(MENU_READ, 0, 1);             // 00 12 40 00
constexpr SpiSwCommand CMD_BYTE_READ = spiSwCommand(MENU_SECTOR_ERASE, 0, 1);         // 00 22 40 00
// The write-status start used by the unlock and lock steps: only SSFC 7:0 is
// written (entry 5, atomic with prefix 0, go).
constexpr uint8_t SSFC_WRITE_STATUS_GO =
    uint8_t((MENU_WRITE_STATUS << SSFC_COP_SHIFT) | SSFC_ACS | SSFC_SCGO);  // 0x56
// ... and the SSFC 15:8 / 23:16 bytes set before it: one data byte, default clock.
constexpr uint8_t SSFC_ONE_DATA_BYTE = SSFC_DS;
constexpr uint8_t SSFC_SCF_DEFAULT = 0x00;

// Hardware-sequenced record: HSFC bits 7:0, HSFC bits 15:8.
struct SpiHwCommand {
    uint8_t bytes[2];
};
constexpr SpiHwCommand spiHwCommand(uint8_t cycle, unsigned dataBytes) {
    return SpiHwCommand{{uint8_t((cycle << HSFC_FCYCLE_SHIFT) | HSFC_FGO),
                         uint8_t(dataBytes ? (dataBytes - 1) & HSFC_FDBC_MASK : 0)}};
}
constexpr SpiHwCommand HWCMD_READ_64 = spiHwCommand(FCYCLE_READ, SPI_FDATA_SIZE);    // 01 3F
constexpr SpiHwCommand HWCMD_WRITE_64 = spiHwCommand(FCYCLE_WRITE, SPI_FDATA_SIZE);  // 05 3F
constexpr SpiHwCommand HWCMD_BLOCK_ERASE = spiHwCommand(FCYCLE_ERASE, 0);            // 07 00

// I/O port written after each completed cycle as a short bus delay.
constexpr unsigned short BUS_DELAY_PORT = 0xEB;
constexpr unsigned char BUS_DELAY_VALUE = 0x01;
