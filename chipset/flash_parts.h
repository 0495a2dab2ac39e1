// Facts about the flash parts and the flash layouts the SPI chipset knows:
// the accepted parts with the line each prints, the table size by capacity
// code, and which 4 KiB blocks each south-bridge generation keeps untouched.
#pragma once
#include <cstdint>

struct FlashPartRow {
    uint8_t jedec[3];     // manufacturer, memory type, capacity code
    bool checkMark;       // the line opens with the code-page 437 check mark (0xFB)
    const char* text;     // printed to standard error, followed by a line end
    const char* name;     // the part as refusals name it
    uint32_t size;        // bytes
    uint8_t protectBits;  // status-register bits that hold the block protection
    // Protection is set globally: a status write with bits 5:2 all 1 protects
    // every sector, all 0 unprotects them, any other value changes nothing.
    bool globalProtect = false;
};

// Accepted parts, in the order they are tested.
extern const FlashPartRow FLASH_PARTS[];
extern const unsigned FLASH_PART_COUNT;
constexpr char CHECK_MARK = '\xFB';

// The first accepted part whose identity matches the three JEDEC bytes; null
// for a part not in the table.
const FlashPartRow* knownFlashPart(const uint8_t* identity);

// Protection bits assumed for a part the table does not know: every bit that
// is block protection on one of the known parts.
constexpr uint8_t UNKNOWN_PART_PROTECT_BITS = 0x3C;

// Whether a status-register value leaves some of the part's blocks protected.
// A null part means one the table does not know.
bool blockProtectionSet(const FlashPartRow* part, uint8_t status);

// Status bits that say how the part is protected (its block protection and
// SRWD/SPRL); on a part the table does not know, all but busy and WEL.
uint8_t protectionStatusBits(const FlashPartRow* part);

// The byte a status write needs to give the part the protection that `status`
// reads as: the bits themselves, or for global protection bits 5:2 all 1 or
// all 0, SPRL as read.
uint8_t statusWriteFor(const FlashPartRow* part, uint8_t status);

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
    uint32_t flashSize;  // bytes of the part the generation's flash map is laid out for
};

extern const SkipMarkRow SKIP_MARKS[2];  // PCH generation first
