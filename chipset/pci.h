// PCI configuration access (mechanism #1 through ports 0xCF8/0xCFC) and the
// configuration registers the SPI chipset code reads: the host bridge's
// identity, and the LPC bridge's GPIO base, BIOS control and root-complex base.
#pragma once
#include <cstddef>
#include <cstdint>

#include "os/os.h"

constexpr unsigned short PCI_CONFIG_ADDRESS = 0xCF8;
constexpr unsigned short PCI_CONFIG_DATA = 0xCFC;

// Configuration addresses (enable bit | bus | device | function | register).
constexpr uint32_t PCI_HOST_BRIDGE_ID = 0x80000000;  // 0:0:0 reg 0x00, vendor/device id
constexpr uint32_t PCI_LPC_GPIOBASE = 0x8000F848;    // 0:31:0 reg 0x48, GPIO base
constexpr uint32_t PCI_LPC_BIOS_CNTL = 0x8000F8DC;   // 0:31:0 reg 0xDC, BIOS control
constexpr uint32_t PCI_LPC_RCBA = 0x8000F8F0;        // 0:31:0 reg 0xF0, root-complex base

// Host-bridge identities of the two south-bridge generations handled.
constexpr uint32_t HOST_BRIDGE_PCH = 0x01008086;
constexpr uint32_t HOST_BRIDGE_ICH = 0x2A408086;

constexpr uint32_t RCBA_BASE_MASK = 0xFFFFC000;  // low 14 bits: enable and reserved
constexpr uint32_t GPIOBASE_MASK = 0xFFFE;       // bit 0: I/O space indicator
constexpr uint8_t BIOS_CNTL_BIOSWE = 0x01;       // BIOS write enable
constexpr uint8_t BIOS_CNTL_BLE = 0x02;          // BIOS lock enable

// Selects a configuration register for the following data-port accesses.
inline void pciSelect(OS* os, uint32_t address) { os->outportDword(PCI_CONFIG_ADDRESS, address); }

inline uint32_t pciReadDword(OS* os, uint32_t address) {
    pciSelect(os, address);
    return os->inportDword(PCI_CONFIG_DATA);
}

// Physical address of the chipset configuration registers.
inline uint32_t readRootComplexBase(OS* os) { return pciReadDword(os, PCI_LPC_RCBA) & RCBA_BASE_MASK; }

// I/O port base of the GPIO registers.
inline unsigned short readGpioBase(OS* os) {
    return static_cast<unsigned short>(pciReadDword(os, PCI_LPC_GPIOBASE) & GPIOBASE_MASK);
}

// Runs act(row) for each row of a per-generation table (rows carry a
// hostBridgeId, PCH generation first) whose identity the host bridge reports.
// The identity is read once per row, and the register is selected only before
// the first read unless reselect is set: this is how every chipset operation
// tells the generations apart, one check after the other.
template <typename Row, std::size_t N, typename Act>
void forHostBridgeRows(OS* os, const Row (&rows)[N], bool reselect, Act act) {
    for (std::size_t i = 0; i < N; ++i) {
        if (i == 0 || reselect) pciSelect(os, PCI_HOST_BRIDGE_ID);
        if (os->inportDword(PCI_CONFIG_DATA) == rows[i].hostBridgeId) act(rows[i]);
    }
}
