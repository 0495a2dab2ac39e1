// PCI configuration mechanism #1 and the host-bridge identities the update
// driver tells apart.
#pragma once

constexpr unsigned short PCI_CONFIG_ADDRESS = 0xCF8;  // CONFIG_ADDRESS port
constexpr unsigned short PCI_CONFIG_DATA = 0xCFC;     // CONFIG_DATA port
constexpr unsigned int PCI_HOST_BRIDGE_ID = 0x80000000;  // bus 0, dev 0, fn 0, reg 0x00

constexpr unsigned int HOST_BRIDGE_PCH = 0x01008086;  // 5-series PCH generation
constexpr unsigned int HOST_BRIDGE_ICH = 0x2A408086;  // ICH9/ICH10 generation
