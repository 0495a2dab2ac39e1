#include "chipset/flash_parts.h"

#include "chipset/pci.h"

// Part EF 40 17 reports capacity code 0x17, a 64 Mbit part, so it is named as
// the 64 Mbit Winbond part; the 16 Mbit W25X16 text cannot describe it, and no
// identity of a 16 Mbit W25X part is accepted: a part never tested on these
// boards is refused rather than guessed at.
const FlashPartRow FLASH_PARTS[] = {
    {{0xEF, 0x40, 0x17}, true, " [WINBOND W25X64CVSIG]\n"},
    {{0xC2, 0x20, 0x15}, true, " [MXIC MX25L1606E]\n"},
    {{0xEF, 0x40, 0x15}, true, " [WINBOND W25Q16BVSIG]\n"},
    {{0xC2, 0x20, 0x16}, true, " [MXIC MX25L3205DM2I]\n"},
    {{0x1F, 0x47, 0x00}, true, " [Atmel AT26DF321]\n"},
    {{0xC2, 0x20, 0x17}, false, "[MXIC MX25L6445E] / [MXIC MX25L6406E]"},
};
const unsigned FLASH_PART_COUNT = sizeof FLASH_PARTS / sizeof FLASH_PARTS[0];

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
    {HOST_BRIDGE_PCH, {0x000, 0x60F}, {0x7A0, 0x7FF}, {0x600, 0x79F}},
    {HOST_BRIDGE_ICH, {0x000, 0x012}, {0x1C0, 0x1FF}, {0x013, 0x1BF}},
};
