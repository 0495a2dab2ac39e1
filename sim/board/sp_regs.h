// The service processor as the board wires it: its LPC mailbox ports and
// status bits, its reset and programming lines on four board I/O ports, and
// the layout of its 64 KiB flash.
#pragma once
#include <cstdint>

namespace spsim {

// LPC mailbox.
constexpr uint16_t MBX_DATA = 0x2B0;
constexpr uint16_t MBX_STATUS = 0x2B4;
constexpr uint16_t MBX_PRIVATE_DATA = 0x2B8;
constexpr uint16_t MBX_PRIVATE_STATUS = 0x2BC;  // read: status; write: register index

constexpr uint8_t STS_OBF = 0x01;        // a byte for the host is in the data register
constexpr uint8_t STS_IBF = 0x02;        // the host's last write is not yet taken
constexpr uint8_t STS_ABORT = 0x04;      // host-written: drop the packet being received
constexpr uint8_t STS_OBF_VALID = 0x40;  // set together with STS_OBF
constexpr uint8_t STS_SEMAPHORE = 0x80;  // host-written ownership bit
constexpr uint8_t STS_HOST_BITS = STS_ABORT | STS_SEMAPHORE;  // what a status write stores

// Board I/O ports around the service processor. Bit 0 of 0x83B and of 0x83E
// connect its mailbox to the LPC bus; a rising edge of 0x84B bit 4 latches
// 0x84E, whose bit 3 (programming) set or bit 0 (run) clear hold it in reset.
constexpr uint16_t CTL_83B = 0x83B;
constexpr uint16_t CTL_83E = 0x83E;
constexpr uint16_t CTL_84B = 0x84B;
constexpr uint16_t CTL_84E = 0x84E;
constexpr uint8_t CTL_MAILBOX_CONNECT = 0x01;  // 0x83B, 0x83E
constexpr uint8_t CTL_LATCH_STROBE = 0x10;     // 0x84B
constexpr uint8_t CTL_RUN = 0x01;              // 0x84E
constexpr uint8_t CTL_PROGRAMMING = 0x08;      // 0x84E
// Power-on levels: mailbox connected, strobe idle high, running; the other
// bits are unrelated board lines.
constexpr uint8_t CTL_83B_POWER_ON = 0x81;
constexpr uint8_t CTL_83E_POWER_ON = 0x01;
constexpr uint8_t CTL_84B_POWER_ON = 0x32;
constexpr uint8_t CTL_84E_POWER_ON = 0x41;

// Flash.
constexpr uint32_t FLASH_SIZE = 0x10000;
constexpr uint32_t APP_START = 0x4000;          // below: the kernel, never writable
constexpr uint32_t KERNEL_REVISION_AT = 0x0100;  // 8 characters
constexpr uint32_t KERNEL_BUILD_AT = 0x1000;     // 8 bytes: tag, tag, build (LE 32), 0, 0
constexpr uint32_t KERNEL_BUILD_VALUE_AT = 0x1002;
constexpr uint32_t REVISION_LENGTH = 8;
constexpr uint32_t CHUNK = 8;  // one flash read or write message
constexpr uint32_t PAGE = 128;  // the flash's program page

// Commands and asynchronous messages.
constexpr uint8_t CMD_ALERT = 0xA1;        // length 2: poll; length 3: acknowledge a code
constexpr uint8_t CMD_REBOOT = 0xB0;
constexpr uint8_t CMD_PROFILE = 0x52;      // length 2: get; length 3: set
constexpr uint8_t CMD_APP_REVISION = 0xF1;
constexpr uint8_t CMD_KERNEL_REVISION = 0xF2;
constexpr uint8_t CMD_FLASH_START = 0xF5;
constexpr uint8_t CMD_FLASH_READ = 0xFC;
constexpr uint8_t CMD_FLASH_DATA = 0xFD;
constexpr uint8_t MSG_RESET_DONE = 0xA0;
constexpr uint8_t MSG_FLASH_DONE = 0xAF;
constexpr uint8_t REPLY_BAD_COMMAND = 0xC1;

// Completion codes of MSG_FLASH_DONE.
constexpr uint8_t FLASH_OK = 0x00;
constexpr uint8_t FLASH_ERASE_FAILED = 0x01;
constexpr uint8_t FLASH_OUT_OF_AREA = 0x02;
constexpr uint8_t FLASH_NOT_STARTED = 0x03;
constexpr uint8_t FLASH_WRITE_FAILED = 0x05;
constexpr uint8_t RESET_FAILED = 0x01;

}  // namespace spsim
