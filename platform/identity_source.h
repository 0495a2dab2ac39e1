// Where the asset-tag and OEM blocks carried into a new image are read from.
// The running BIOS's blocks are reached through the trailer of its top 64 KiB
// in the flash window below 4 GiB. That window shows the bank about to be
// replaced, which an interrupted update may have left with its blocks or
// trailer erased; the running BIOS's own copy of its top 64 KiB, shadowed at
// 0xF0000 when it started, then stands in for it.
#pragma once
#include <cstdint>

#include "platform/vpd.h"

class OS;

struct IdentityBlock {
    const char* name;        // for messages
    uint32_t trailerPointer; // offset of its pointer in the top 64 KiB
    uint32_t size;
    const char* signature;
};

enum class BlockRead {
    Found,    // the block, signature and all
    Absent,   // an intact trailer says there is none (pointer 0xFFFF, or no signature)
    Damaged,  // the trailer or the block is erased or points outside the top 64 KiB
};

// Reads a block through the copy of the BIOS's top 64 KiB at physical `top`
// into out (block.size bytes).
BlockRead readTopBlock(OS* os, uint32_t top, const IdentityBlock& block, unsigned char* out);

// The running BIOS's block: from the flash window (the bank being replaced),
// or, when that bank is damaged, from the shadow copy or else from the other
// bank (*fallback then names where). Damaged only when none holds it intact.
BlockRead readRunningBlock(OS* os, const IdentityBlock& block, unsigned char* out,
                           const char** fallback);

// One copy of the VPD identity: the block up to its UUID record, and the UUID.
struct VpdCopy {
    unsigned char block[vpd::VPD_UUID_RECORD] = {};
    unsigned char uuid[vpd::UUID_SIZE] = {};
    bool uuidKnown = false;  // the UUID comes with a checksum that holds
};

// The running block: searched for in the 0x70 bytes at 0xFFF90, its UUID
// 0x16 bytes below it. False when it is missing or its checksum fails.
bool readRunningVpd(OS* os, VpdCopy* out);

// The VPD block that the trailer of a top 64 KiB names, with the UUID of its
// record when the record's checksum holds. False when there is no block with
// its signature, a sane length and a checksum that holds.
bool readTrailerVpd(OS* os, uint32_t top, VpdCopy* out);

// The places an intact copy of the identity is looked for when the running
// block lacks it, in the order they are trusted.
enum class CopyPlace { Shadow, ReplacedBank, OtherBank };
constexpr int COPY_PLACES = 3;
const char* copyPlaceName(CopyPlace place);

// Reads the trailer VPD copy of one place; the other bank is read with the
// boot bank switched to it for the read and back at once.
bool readVpdCopy(OS* os, CopyPlace place, VpdCopy* out);
