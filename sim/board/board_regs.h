// Constants of the simulated boards: PCI functions and their identities, the
// bases the firmware programs, the GPIO wiring of each board kind, and the
// register values the running firmware leaves behind at power-on.
#pragma once
#include <cstdint>

#include "sim/board/spi_regs.h"

// ---- x86 I/O ports --------------------------------------------------------
constexpr uint16_t PCI_CONFIG_ADDRESS = 0xCF8;  // configuration mechanism #1 address latch
constexpr uint16_t PCI_CONFIG_DATA = 0xCFC;     // data window, 0xCFC..0xCFF
constexpr uint16_t PCI_CONFIG_DATA_LAST = 0xCFF;
constexpr uint16_t PORT_BUS_DELAY = 0xEB;       // unclaimed port used as an I/O delay

// CONFIG_ADDRESS fields.
constexpr uint32_t PCI_CFG_ENABLE = 0x80000000u;
constexpr unsigned PCI_CFG_BUS_SHIFT = 16;
constexpr unsigned PCI_CFG_DEV_SHIFT = 11;
constexpr unsigned PCI_CFG_FN_SHIFT = 8;
constexpr uint32_t PCI_CFG_BUS_MASK = 0xFF;
constexpr uint32_t PCI_CFG_DEV_MASK = 0x1F;
constexpr uint32_t PCI_CFG_FN_MASK = 0x7;
constexpr uint32_t PCI_CFG_REG_MASK = 0xFC;     // dword-aligned register offset
constexpr unsigned PCI_CONFIG_SPACE_SIZE = 256;  // bytes of configuration space per function

// ---- PCI functions present on the boards ----------------------------------
struct PciLocation {
    unsigned bus, dev, fn;
};
constexpr PciLocation PCI_HOST_BRIDGE{0, 0, 0};
constexpr PciLocation PCI_LPC_BRIDGE{0, 31, 0};
constexpr PciLocation PCI_PLATFORM_FN{0, 3, 7};  // platform function toggled around flash writes
constexpr PciLocation PCI_SMBUS{0, 15, 0};

// Register offsets from the start of a function's configuration space.
constexpr unsigned PCI_REG_ID = 0x00;        // vendor (low word) / device (high word), read-only
constexpr unsigned PCI_REG_ID_SIZE = 4;

// Identity dwords (device << 16 | vendor).
constexpr uint32_t HOST_BRIDGE_ID_PCH = 0x01008086u;
constexpr uint32_t HOST_BRIDGE_ID_ICH = 0x2A408086u;
constexpr uint32_t LPC_BRIDGE_ID_PCH = 0x3B078086u;
constexpr uint32_t LPC_BRIDGE_ID_ICH = 0x29178086u;
constexpr uint32_t PLATFORM_FN_ID = 0x2C618086u;  // any plausible id: nothing reads it
constexpr uint32_t SMBUS_ID = 0x3B308086u;

// LPC bridge (0:31:0) registers, offsets from its configuration space.
constexpr unsigned LPC_GPIOBASE = 0x48;  // GPIO I/O base, bit 0 = I/O space indicator
constexpr unsigned LPC_BIOS_CNTL = 0xDC;  // BIOS control, byte register
constexpr unsigned LPC_RCBA = 0xF0;       // root complex base, bit 0 = enable

// BIOS_CNTL bits.
constexpr uint8_t BIOS_CNTL_BIOSWE = 0x01;  // BIOS write enable
constexpr uint8_t BIOS_CNTL_BLE = 0x02;     // BIOS lock enable, sticky once set

constexpr uint32_t GPIOBASE_IO_SPACE = 0x1;
constexpr uint32_t GPIOBASE_ADDR_MASK = 0xFF80;  // 128-byte aligned I/O block
constexpr uint32_t RCBA_ENABLE = 0x1;
constexpr uint32_t RCBA_ADDR_MASK = 0xFFFFC000u;  // 16 KiB aligned

// SMBus (0:15:0) registers.
constexpr unsigned SMBUS_BASE_REG = 0x90;  // SMBus host controller I/O base

// Values the firmware programmed before the updater runs.
constexpr uint32_t BOARD_GPIOBASE = 0x00000501u;  // I/O 0x500
constexpr uint32_t BOARD_RCBA = 0xFED1C001u;      // 0xFED1C000, enabled
constexpr uint32_t BOARD_SMBUS_BASE = 0x00000581u;  // I/O 0x580

// ---- Chipset configuration registers (memory at the root complex base) -----
constexpr uint32_t RCBA_SPACE_SIZE = 0x4000;    // 16 KiB from the root complex base
constexpr uint32_t RCBA_SPI_BLOCK = 0x3800;     // SPI register block, offset from the base

// ---- Physical memory map ---------------------------------------------------
constexpr uint32_t LEGACY_AREA_BASE = 0x000F0000u;
constexpr uint32_t LEGACY_AREA_SIZE = 0x10000u;  // 64 KiB up to 1 MiB
constexpr uint64_t ADDRESS_SPACE_TOP = 0x100000000ull;  // the BIOS window ends at 4 GiB

// ---- GPIO block (I/O at the GPIO base) --------------------------------------
// Offsets from the GPIO base. Each group has a select register (1 = pin is a
// GPIO), a direction register (1 = input, 0 = output) and a level register.
constexpr unsigned GPIO_USE_SEL = 0x00;   // GPIO 0..31
constexpr unsigned GPIO_IO_SEL = 0x04;
constexpr unsigned GP_LVL = 0x0C;
constexpr unsigned GPIO_USE_SEL2 = 0x30;  // GPIO 32..63
constexpr unsigned GP_IO_SEL2 = 0x34;
constexpr unsigned GP_LVL2 = 0x38;
constexpr unsigned GPIO_BLOCK_SIZE = 0x80;   // I/O bytes decoded from the base
constexpr unsigned GPIO_PIN_COUNT = 64;
constexpr unsigned GPIO_PINS_PER_GROUP = 32;

// ---- Board wiring ------------------------------------------------------------
// Which south-bridge generation (and with it which GPIO wiring) a board has.
enum class BoardKind { PCH, ICH };

// A board whose host bridge is neither generation is built like a PCH board.
constexpr BoardKind boardKindFor(uint32_t hostBridgeId) {
    return hostBridgeId == HOST_BRIDGE_ID_ICH ? BoardKind::ICH : BoardKind::PCH;
}

// GPIO pins of the board lines.
struct GpioWiring {
    BoardKind kind;
    uint32_t lpcBridgeId;
    unsigned flashWp;     // drives WP# of the selected bank's flash part (low = asserted)
    unsigned eepromWp;    // EEPROM WP (high = locked)
    unsigned bankToggle;  // each rising edge switches the bank multiplexer
    unsigned bankSense;   // input: 1 while the backup bank is active
};

constexpr GpioWiring BOARD_WIRING[] = {
    {BoardKind::PCH, LPC_BRIDGE_ID_PCH, 28, 27, 15, 57},
    {BoardKind::ICH, LPC_BRIDGE_ID_ICH, 26, 11, 27, 24},
};

inline const GpioWiring& wiringFor(BoardKind kind) {
    for (const GpioWiring& w : BOARD_WIRING) {
        if (w.kind == kind) return w;
    }
    return BOARD_WIRING[0];
}

// Levels the board pulls a line to when nothing drives it: flash WP# and the
// EEPROM WP default to protected, the bank toggle rests low.
constexpr bool PULL_FLASH_WP = false;
constexpr bool PULL_EEPROM_WP = true;
constexpr bool PULL_BANK_TOGGLE = false;
constexpr bool PULL_UNWIRED = false;

// ---- What the running firmware leaves at power-on -----------------------------
// GPIO: the four board lines are GPIOs. Flash WP# is an output driven low
// (protected), the EEPROM WP an output driven high (locked), the bank toggle an
// output resting low, the bank sense an input. Every other pin is left in its
// native function (select 0), direction input, level 0.
//
// BIOS control: 0x00 (writes disabled, not locked), or BLE set when the
// board's firmware locks BIOS writes.
//
// SPI controller: descriptor valid, no override strap, 4 KiB erase granularity,
// locked down (FLOCKDN) only when the board's firmware does so. The opcode
// menu is the firmware's own (sim/board/firmware_menus.h). The BIOS region covers
// the whole part; every master may read and write it. The firmware's own last
// cycles leave FDONE and CDS set.
constexpr uint16_t FW_HSFS =
    simspi::HSFS_FDV | simspi::HSFS_FDOPSS | simspi::HSFS_BERASE_4K | simspi::HSFS_FDONE;
constexpr uint8_t FW_SSFS = simspi::SSFS_CDS;
constexpr uint32_t FW_FRAP = 0x0000FFFFu;
constexpr uint32_t FW_VSCC = 0x00002005u;  // 4 KiB erase with 0x20, 64-byte write granularity
constexpr uint32_t SPI_FREG1 = simspi::FREG0 + 4;  // BIOS region
constexpr unsigned FREG_LIMIT_SHIFT = 16;  // FREG: limit in 4 KiB units at bits 28:16, base at 12:0
constexpr unsigned FREG_UNIT_SHIFT = 12;

// The board's network hardware address (what getMACAddress reports).
// A locally administered address, so it can never collide with a real adapter.
constexpr uint8_t BOARD_MAC[6] = {0x02, 0x4C, 0x52, 0x4F, 0x4D, 0x01};
