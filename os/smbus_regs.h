// SMBus host controller of the south bridge (PCI bus 0, device 15, function 0
// on these boards) and the H8 microcontroller behind it.
#pragma once

// PCI configuration addresses (port 0xCF8) of the controller's registers.
constexpr unsigned int SMBUS_BASE_CONFIG_ADDRESS = 0x80007890u;  // SMB_BASE, reg 0x90
constexpr unsigned int SMBUS_HOSTC_CONFIG_ADDRESS = 0x800078D0u; // reg 0xD0
constexpr unsigned int SMB_BASE_IO_SPACE = 0x1;                  // bit 0: I/O space indicator
constexpr unsigned int SMB_BASE_IO_LIMIT = 0xFFE0;  // the last 32-port block of I/O space

// I/O registers, offsets from the SMBus base.
constexpr unsigned short SMB_HST_STS = 0x0;
constexpr unsigned short SMB_HST_CNT = 0x2;
constexpr unsigned short SMB_HST_CMD = 0x3;
constexpr unsigned short SMB_XMIT_SLVA = 0x4;
constexpr unsigned short SMB_HST_D0 = 0x5;
// Ports the H8 code asks permission for: base + 0..10 and base + 12.
constexpr unsigned short SMB_PERM_LAST_CONTIGUOUS = 0xA;
constexpr unsigned short SMB_PERM_EXTRA = 0xC;

// HST_STS bits; INTR..FAILED are cleared by writing 1.
constexpr unsigned char HST_STS_HOST_BUSY = 0x01;
constexpr unsigned char HST_STS_INTR = 0x02;
constexpr unsigned char HST_STS_DEV_ERR = 0x04;
constexpr unsigned char HST_STS_BUS_ERR = 0x08;
constexpr unsigned char HST_STS_FAILED = 0x10;
constexpr unsigned char HST_STS_CLEAR = HST_STS_INTR | HST_STS_DEV_ERR | HST_STS_BUS_ERR |
                                        HST_STS_FAILED;  // 0x1E
constexpr unsigned char HST_STS_ERRORS = HST_STS_DEV_ERR | HST_STS_BUS_ERR | HST_STS_FAILED;

// HST_CNT: bits 4:2 protocol, bit 6 START.
constexpr unsigned char HST_CNT_KEEP = 0xE3;  // everything but the protocol field
constexpr unsigned char HST_CNT_PROTOCOL_BYTE = 0x04;
constexpr unsigned char HST_CNT_START = 0x40;

// XMIT_SLVA bit 0: 1 reads from the slave.
constexpr unsigned char XMIT_SLVA_READ = 0x01;

// The H8 and its framing.
constexpr unsigned char H8_SLAVE_ADDRESS = 0x6E;
constexpr unsigned char H8_MAX_DATA = 63;          // data bytes in one command
constexpr unsigned char H8_REPLY_COUNT_BAD = 255;  // what an H8 with nothing sane sends
constexpr unsigned char H8_MAX_REPLY_COUNT = 65;   // 64 bytes of data and checksum + command
constexpr unsigned char H8_CMD_POLL = 0xA1;        // "anything for me?" / acknowledge / nothing yet
