// Facts about the flash parts and the flash layouts the SPI chipset knows:
// the accepted parts with the line each prints, the table size by capacity
// code, and which 4 KiB blocks each south-bridge generation keeps untouched.
#pragma once
#include <cstdint>

struct FlashPartRow {
    uint8_t jedec[3];    // manufacturer, memory type, capacity code
    bool checkMark;      // the line opens with the code-page 437 check mark (0xFB)
    const char* text;    // printed to standard error, followed by a line end
};

// Accepted parts, in the order they are tested.
extern const FlashPartRow FLASH_PARTS[];
extern const unsigned FLASH_PART_COUNT;
constexpr char CHECK_MARK = '\xFB';

// Number of 4 KiB blocks for a JEDEC capacity code.
int blockCountForCapacity(uint8_t capacityCode);

// Inclusive range of block-table records.
struct BlockRange {
    unsigned first;
    unsigned last;
};

// Skip marks of one generation: `always` is never written; with the boot
// block excluded (updt_bblk 0) `bootBlock` is skipped too, with the boot block
// alone requested (updt_bblk 1) `mainBlocks` is skipped instead.
struct SkipMarkRow {
    uint32_t hostBridgeId;
    BlockRange always;
    BlockRange bootBlock;
    BlockRange mainBlocks;
};

extern const SkipMarkRow SKIP_MARKS[2];  // PCH generation first
