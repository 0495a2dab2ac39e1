// PCI configuration mechanism #1 and the configuration registers the platform
// touches. Addresses are the exact dwords written to CONFIG_ADDRESS:
// enable bit | bus << 16 | device << 11 | function << 8 | register.
#pragma once
#include <cstdint>

namespace pci {

constexpr unsigned short CONFIG_ADDRESS = 0xCF8;  // I/O port, dword: selects bus/dev/fn/reg
constexpr unsigned short CONFIG_DATA = 0xCFC;     // I/O port, dword: data of the selected reg

constexpr uint32_t CONFIG_ENABLE = 0x80000000;

constexpr uint32_t configAddress(uint32_t bus, uint32_t device, uint32_t function,
                                 uint32_t reg) {
    return CONFIG_ENABLE | bus << 16 | device << 11 | function << 8 | reg;
}

// Bus 0, device 0, function 0: the host bridge. Register 0x00 is the
// vendor/device identity dword, which tells the two board generations apart.
constexpr uint32_t HOST_BRIDGE_ID = configAddress(0, 0, 0, 0x00);
constexpr uint32_t HOST_BRIDGE_ID_PCH = 0x01008086;  // 8 MiB flash boards
constexpr uint32_t HOST_BRIDGE_ID_ICH = 0x2A408086;  // 2 MiB flash boards

// Bus 0, device 31, function 0: the LPC bridge; register 0x00 dword.
constexpr uint32_t LPC_BRIDGE_REG00 = configAddress(0, 31, 0, 0x00);
constexpr uint32_t LPC_REG00_WRITE_OPEN = 1u << 19;  // set around flash writes

// Bus 0, device 3, function 7: the function whose registers 0x40 and 0xC0
// gate flash writes on this family.
constexpr uint32_t D3F7_REG40 = configAddress(0, 3, 7, 0x40);
constexpr uint32_t D3F7_REG40_BIT15 = 1u << 15;  // kept clear by both directions
constexpr uint32_t D3F7_REGC0 = configAddress(0, 3, 7, 0xC0);
constexpr uint32_t D3F7_REGC0_WRITE_OPEN = 1u << 15;  // set while flash writes are open

}  // namespace pci
