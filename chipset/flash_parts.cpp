#include "chipset/flash_parts.h"

#include <cstring>

#include "chipset/pci.h"

// Part EF 40 17 reports capacity code 0x17, a 64 Mbit part, so it is named as
// the 64 Mbit Winbond part; the 16 Mbit W25X16 text cannot describe it, and no
// identity of a 16 Mbit W25X part is accepted: a part never tested on these
// boards is refused rather than guessed at.
//
// Block protection, from the datasheets: the Macronix parts keep BP3..BP0 in
// bits 5:2; the Winbond parts BP2..BP0 in bits 4:2 (bit 5, TB, only says which
// end BP guards); the Atmel part reports SWP in bits 3:2, while its bit 4
// (WPP) follows the WP# pin and bit 5 (EPE) a failed erase or program.
namespace {
constexpr uint32_t MIB = 0x100000;
constexpr uint8_t MXIC_BP = 0x3C;
constexpr uint8_t WINBOND_BP = 0x1C;
constexpr uint8_t ATMEL_SWP = 0x0C;
constexpr uint8_t STATUS_SRWD = 0x80;          // SRWD (SPRL on the Atmel part)
constexpr uint8_t STATUS_TRANSIENT = 0x03;     // busy and write-enable latch
constexpr uint8_t GLOBAL_PROTECT_ALL = 0x3C;   // bits 5:2 of a global-protect write
}  // namespace

const FlashPartRow FLASH_PARTS[] = {
    {{0xEF, 0x40, 0x17}, true, " [WINBOND W25X64CVSIG]\n", "W25X64CVSIG", 8 * MIB, WINBOND_BP},
    {{0xC2, 0x20, 0x15}, true, " [MXIC MX25L1606E]\n", "MX25L1606E", 2 * MIB, MXIC_BP},
    {{0xEF, 0x40, 0x15}, true, " [WINBOND W25Q16BVSIG]\n", "W25Q16BVSIG", 2 * MIB, WINBOND_BP},
    {{0xC2, 0x20, 0x16}, true, " [MXIC MX25L3205DM2I]\n", "MX25L3205DM2I", 4 * MIB, MXIC_BP},
    {{0x1F, 0x47, 0x00}, true, " [Atmel AT26DF321]\n", "AT26DF321", 4 * MIB, ATMEL_SWP, true},
    {{0xC2, 0x20, 0x17}, false, "[MXIC MX25L6445E] / [MXIC MX25L6406E]", "MX25L6445E", 8 * MIB,
     MXIC_BP},
};
const unsigned FLASH_PART_COUNT = sizeof FLASH_PARTS / sizeof FLASH_PARTS[0];

const FlashPartRow* knownFlashPart(const uint8_t* identity) {
    for (const FlashPartRow& part : FLASH_PARTS)
        if (std::memcmp(part.jedec, identity, sizeof part.jedec) == 0) return &part;
    return nullptr;
}

bool blockProtectionSet(const FlashPartRow* part, uint8_t status) {
    return (status & (part ? part->protectBits : UNKNOWN_PART_PROTECT_BITS)) != 0;
}

uint8_t protectionStatusBits(const FlashPartRow* part) {
    return part ? uint8_t(part->protectBits | STATUS_SRWD) : uint8_t(~STATUS_TRANSIENT);
}

uint8_t statusWriteFor(const FlashPartRow* part, uint8_t status) {
    if (part == nullptr || !part->globalProtect) return uint8_t(status & ~STATUS_TRANSIENT);
    return uint8_t((status & STATUS_SRWD) | (blockProtectionSet(part, status) ? GLOBAL_PROTECT_ALL : 0));
}

namespace {
struct CapacityRow {
    uint8_t capacityCode;
    int blockCount;
};
const CapacityRow CAPACITIES[] = {
    {0x17, 2048},  // 8 MiB
    {0x16, 1024},  // 4 MiB
};
constexpr int DEFAULT_BLOCK_COUNT = 512;  // 2 MiB
}  // namespace

int blockCountForCapacity(uint8_t capacityCode) {
    for (const CapacityRow& row : CAPACITIES)
        if (row.capacityCode == capacityCode) return row.blockCount;
    return DEFAULT_BLOCK_COUNT;
}

// PCH boards: 8 MiB, descriptor and other regions below 0x610000, boot block
// from 0x7A0000. ICH boards: 2 MiB, boot block from 0x1C0000.
const SkipMarkRow SKIP_MARKS[2] = {
    {HOST_BRIDGE_PCH, {0x000, 0x60F}, {0x7A0, 0x7FF}, {0x600, 0x79F}, 0x800000},
    {HOST_BRIDGE_ICH, {0x000, 0x012}, {0x1C0, 0x1FF}, {0x013, 0x1BF}, 0x200000},
};
